#!/usr/bin/env bash
# --schedule shows, sets and removes the weekly check in a crontab kept by a fake `crontab`.
set -uo pipefail
orvex=$1
source "$(dirname "$0")/common.sh"

mkdir "$tmp/bin"
table=$tmp/table
cat >"$tmp/bin/crontab" <<FAKE
#!/bin/sh
case "\$1" in
-l) if [ -f '$table' ]; then cat '$table'; exit 0; fi
    echo "no crontab for \$(id -un)" >&2; exit 1;;
-) cat > '$table.new' && mv '$table.new' '$table';;
*) echo "unexpected: \$*" >&2; exit 2;;
esac
FAKE
chmod +x "$tmp/bin/crontab"
export PATH=$tmp/bin:$PATH
export ORVEX_HOME="$tmp/home dir"
user=$(id -un)
printf '# my jobs\nMAILTO=""\n0 3 * * * backup\n' >"$tmp/before"

out=$("$orvex" --schedule 2>"$tmp/err")
check "--schedule without a crontab exits 0" test $? -eq 0
check "--schedule without a crontab says Not configured" test "$out" = "Not configured"
check "--schedule reading creates no table" test ! -e "$table"

cp "$tmp/before" "$table"
out=$("$orvex" --schedule mon,FRIDAY 7:05 2>"$tmp/err")
check "--schedule mon,FRIDAY 7:05 exits 0" test $? -eq 0
check "setting prints the new schedule" test "$out" = "Mon, Fri,  at 07:05 as [$user]"
line="5 7 * * 1,5 ORVEX_HOME=\"$tmp/home dir/\" \"$(readlink -f "$orvex")\" /check # Orvex weekly check"
check "the table holds the line after the user's lines" test "$(cat "$table")" = "$(cat "$tmp/before")
$line"
out=$("$orvex" --schedule)
check "--schedule shows the schedule" test "$out" = "Mon, Fri,  at 07:05 as [$user]"

out=$("$orvex" --schedule Sun 23:59)
check "setting again replaces the line" test "$(grep -c 'Orvex weekly check' "$table")" -eq 1
check "the replaced schedule is shown" test "$out" = "Sun,  at 23:59 as [$user]"

out=$("$orvex" --schedule off)
check "--schedule off exits 0" test $? -eq 0
check "--schedule off prints Not configured" test "$out" = "Not configured"
check "--schedule off leaves the user's lines as they were" cmp -s "$table" "$tmp/before"

for bad in "mon" "mon 7:5" "mon 24:00" "mon 07:60" "monx 07:00" "mon,,fri 07:00" "on" "mon 07:00 extra"; do
    # shellcheck disable=SC2086
    "$orvex" --schedule $bad >"$tmp/out" 2>"$tmp/err"
    check "--schedule $bad exits 2" test $? -eq 2
    check "--schedule $bad prints the usage" grep -q '^Usage:' "$tmp/err"
done
check "bad arguments leave the table" cmp -s "$table" "$tmp/before"

help=$("$orvex" --help)
check "--help lists --schedule" grep -q -- '--schedule \[off | DAYS HH:MM\]' <<<"$help"

mkdir "$tmp/nocron"
for args in "" "mon 07:00" "off"; do
    # shellcheck disable=SC2086
    PATH=$tmp/nocron "$(readlink -f "$orvex")" --schedule $args >"$tmp/out" 2>"$tmp/err"
    check "--schedule $args without cron exits 1" test $? -eq 1
    check "--schedule $args without cron says so" \
        test "$(cat "$tmp/err")" = "orvex: cron is not installed: the weekly check cannot be scheduled"
done

finish
