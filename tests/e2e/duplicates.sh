#!/usr/bin/env bash
# --duplicates over a database made by --import: the report, its options, and the exit codes.
set -uo pipefail
orvex=$1
source "$(dirname "$0")/common.sh"
export ORVEX_HOME=$tmp/home
mkdir -p "$ORVEX_HOME"

"$orvex" --duplicates >"$tmp/out" 2>"$tmp/err"
check "--duplicates without a database exits 1" test $? -eq 1
check "--duplicates without a database says why" test -s "$tmp/err"

cat >"$tmp/links.csv" <<'CSV'
Project,From page,To Page
Shop,http://www.partner.com/links.html,http://mine.com/
Shop,http://partner.com/LINKS.html,http://mine.com/
Blog,http://partner.com/links.html,http://mine.com/blog
Shop,http://other.org/,http://mine.com/
CSV
"$orvex" --import "$tmp/links.csv" --columns "A=Project name,B=From page,C=To Page" >"$tmp/import" 2>&1
check "the import exits 0" test $? -eq 0

"$orvex" --duplicates >"$tmp/out" 2>"$tmp/err"
check "--duplicates exits 0" test $? -eq 0
printf 'Found set of 2 duplicates\n        Shop\thttp://www.partner.com/links.html\thttp://mine.com/\n        Shop\thttp://partner.com/LINKS.html\thttp://mine.com/\n%s\n' \
    "$(printf -- '-%.0s' $(seq 92))" >"$tmp/expected"
check "--duplicates reports the two links on one page" cmp -s "$tmp/out" "$tmp/expected"

out=$("$orvex" --duplicates --exact-www 2>"$tmp/err")
check "--exact-www exits 0" test $? -eq 0
check "--exact-www keeps www.partner.com apart" test "$out" = "No duplicates found"

out=$("$orvex" --duplicates --one-per-project --exact-www 2>"$tmp/err")
check "--one-per-project exits 0" test $? -eq 0
check "--one-per-project --exact-www: Shop once on partner.com, so none" test "$out" = "No duplicates found"

out=$("$orvex" --duplicates --one-per-project 2>"$tmp/err")
check "--one-per-project reports the Shop pair only" test "$(grep -c 'Found set of 2 duplicates' <<<"$out")" -eq 1
check "--one-per-project leaves Blog out" test "$(grep -c Blog <<<"$out")" -eq 0

"$orvex" --duplicates --www >"$tmp/out" 2>"$tmp/err"
check "--duplicates with an unknown option exits 2" test $? -eq 2
check "the unknown option is named with the usage" grep -q -- "--www" "$tmp/err"

finish
