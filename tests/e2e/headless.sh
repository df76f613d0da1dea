#!/usr/bin/env bash
# The program of a build without the window, as a server that runs the weekly check has it: no
# widget library at all, and every form that needs no window works.
set -uo pipefail
orvex=$1
source "$(dirname "$0")/common.sh"

libraries=$(ldd "$orvex")
check "no Qt Widgets" bash -c '! grep -q libQt6Widgets <<<"$1"' _ "$libraries"
check "no Qt Gui" bash -c '! grep -q libQt6Gui <<<"$1"' _ "$libraries"

home=$tmp/home
ORVEX_HOME=$home "$orvex" /check --verbose >"$tmp/out" 2>"$tmp/err"
check "/check exits 0" test $? -eq 0
check "/check saves the settings and the database" test -f "$home/ORX.cfg" -a -f "$home/data.orx"
ORVEX_HOME=$home "$orvex" --duplicates >"$tmp/out" 2>&1
check "--duplicates reads the database" grep -q 'No duplicates found' "$tmp/out"
"$orvex" --help >"$tmp/out"
check "--help exits 0" test $? -eq 0
ORVEX_HOME=$home "$orvex" >"$tmp/out" 2>"$tmp/err"
check "a start for the window exits 2" test $? -eq 2
check "and says the build has no window" grep -q 'built without its window' "$tmp/err"
check "and leaves the folder's lock free" flock -n "$home/.orvex.lock" true

finish
