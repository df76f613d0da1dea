#!/usr/bin/env bash
# The unattended run with no display at all, the informational options, a damaged database,
# and a window ended by a signal.
set -uo pipefail
orvex=$1
source "$(dirname "$0")/common.sh"
mode() { stat -c %a "$1"; }

home=$tmp/home
ORVEX_HOME=$home "$orvex" /check >"$tmp/out" 2>"$tmp/err"
check "/check on an empty folder exits 0" test $? -eq 0
check "/check on success prints nothing" test ! -s "$tmp/out" -a ! -s "$tmp/err"
check "ORX.cfg written" test -f "$home/ORX.cfg"
check "data.orx written" test -f "$home/data.orx"
check "data.orx starts with the magic" test "$(head -c 3 "$home/data.orx")" = ORX
check "ORX.cfg owner-only" test "$(mode "$home/ORX.cfg")" = 600
check "data.orx owner-only" test "$(mode "$home/data.orx")" = 600

cp "$home/data.orx" "$tmp/first.orx"
ORVEX_HOME=$home "$orvex" some words /CHECK more >/dev/null 2>&1
check "/CHECK among other words is the unattended run" test $? -eq 0
check "the second save keeps the first as .bak" cmp -s "$home/data.orx.bak" "$tmp/first.orx"

out=$(ORVEX_HOME=$tmp/never/made "$orvex" --version)
check "--version exits 0" test $? -eq 0
check "--version names Orvex 2.0" grep -q '^Orvex 2.0 (built [0-9-]*)$' <<<"$out"
check "--version touches no program folder" test ! -e "$tmp/never"
# Read whole first: a reader that stops at its match would cut the program off with SIGPIPE.
help=$("$orvex" --help)
check "--help lists the environment" grep -q ORVEX_HOME <<<"$help"
check "--help lists the spreadsheet commands" grep -q -- '--import FILE \[--sheet N\] \[--columns SPEC\] \[--dry-run\]' <<<"$help"
"$orvex" --no-such-option >"$tmp/out" 2>"$tmp/err"
check "an unknown option exits 2" test $? -eq 2
check "an unknown option prints usage on stderr" grep -q '^Usage:' "$tmp/err"

printf 'ORX\xff\xff\x01\x00\x05\x00Bogus' >"$home/data.orx"
cp "$home/data.orx" "$tmp/damaged.orx"
cp "$home/data.orx.bak" "$tmp/bak.orx"
ORVEX_HOME=$home "$orvex" /check >"$tmp/out" 2>"$tmp/err"
check "/check on a damaged database exits non-zero" test $? -ne 0
check "the message names the file" grep -q "$home/data.orx" "$tmp/err"
check "the damaged file is left as it was" cmp -s "$home/data.orx" "$tmp/damaged.orx"
check "the backup is left as it was" cmp -s "$home/data.orx.bak" "$tmp/bak.orx"

# A window closed by a signal (Ctrl+C, kill, logout) still saves on the way out.
rm -f "$home/data.orx" "$home/data.orx.bak"
ORVEX_HOME=$home "$orvex" /check >/dev/null 2>&1
QT_QPA_PLATFORM=offscreen ORVEX_HOME=$home "$orvex" >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 100); do
    flock -n "$home/.orvex.lock" true || break
    sleep 0.1
done
sleep 1
kill -TERM $pid
wait $pid
check "SIGTERM ends the window with exit 0" test $? -eq 0
check "SIGTERM saves the database on the way out" test -f "$home/data.orx.bak"
check "SIGTERM stores the window placement" grep -q '^mainframe=' "$XDG_CONFIG_HOME/Tessel Development/Orvex.conf"

# A logout while the first start's question waits for an answer: the program still ends, and saves.
fresh=$tmp/fresh
QT_QPA_PLATFORM=offscreen ORVEX_HOME=$fresh "$orvex" >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 100); do
    [ -e "$fresh/.orvex.lock" ] && ! flock -n "$fresh/.orvex.lock" true && break
    sleep 0.1
done
sleep 1
kill -TERM $pid
# Never longer than a logout would wait.
( sleep 15; kill -KILL $pid 2>/dev/null ) &
watchdog=$!
wait $pid
status=$?
kill $watchdog 2>/dev/null
check "SIGTERM during the first start's question ends the window with exit 0" test $status -eq 0
check "SIGTERM during the first start's question saves ORX.cfg" test -f "$fresh/ORX.cfg"
check "SIGTERM during the first start's question saves the database" test -f "$fresh/data.orx"

finish
