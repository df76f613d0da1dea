#!/usr/bin/env bash
# --link-info and --link-source against a partner site on a local web server: the reports, a page
# that cannot be read, and the exit codes.
set -uo pipefail
orvex=$1
fakes=$2
source "$(dirname "$0")/common.sh"
export ORVEX_HOME=$tmp/home
mkdir -p "$ORVEX_HOME"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY ORVEX_PAGERANK_HOST
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$tmp"' EXIT

root=$tmp/www
mkdir -p "$root/partner.localhost"
printf 'User-agent: *\nDisallow: /private\n' >"$root/partner.localhost/robots.txt"
cat >"$root/partner.localhost/links.html" <<'HTML'
<p><a href="http://MySite.localhost/">My site</a>, <a href="http://mysite.localhost/"
   rel="nofollow">my
   site again</a>, <a href="/about">about</a></p>
HTML
/usr/bin/python3 "$fakes/http_server.py" --root "$root" --port 0 --ready-file "$tmp/ready" --log "$tmp/log" &
server=$!
for _ in $(seq 100); do [ -s "$tmp/ready" ] && break; sleep 0.1; done
port=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"])' "$tmp/ready")
page=partner.localhost:$port/links.html

"$orvex" --link-info "$page" >"$tmp/out" 2>"$tmp/err"
check "--link-info exits 0" test $? -eq 0
printf '%s\n' "URL : http://$page" "PR : -1" "Robots.txt : " "User-agent: *" "Disallow: /private" \
    "----------------------------" "Internal Unique Links - 1" "Total External Unique Links - 1" \
    "----------------------------" "Nofollow unique external links (1):" "http://mysite.localhost/" \
    "Unique External links (1):" "http://mysite.localhost/" "----------------------------" \
    "HTTP/1.1 200 OK" >"$tmp/expected"
check "--link-info prints the report with LF line ends" cmp -s <(head -n 15 "$tmp/out") "$tmp/expected"
check "--link-info ends with the response headers" grep -qx "Content-Type: text/html" "$tmp/out"

"$orvex" --link-info "http://partner.localhost:$port/missing.html" >"$tmp/out" 2>"$tmp/err"
check "--link-info of a 404 page exits 1" test $? -eq 1
printf 'URL : http://partner.localhost:%s/missing.html\nCan not read URL content\n' "$port" >"$tmp/expected"
check "--link-info of a 404 page prints how far it got" cmp -s "$tmp/out" "$tmp/expected"
check "--link-info of a 404 page says why on stderr" test -s "$tmp/err"

"$orvex" --link-source "$page" "mysite.localhost" >"$tmp/out" 2>"$tmp/err"
check "--link-source exits 0" test $? -eq 0
check "--link-source shows both anchors" test "$(grep -c '^Raw link : ' "$tmp/out")" -eq 2
check "--link-source keeps the source's own line breaks" grep -qx '   rel="nofollow">my' "$tmp/out"
check "--link-source shows the anchor text as read" grep -qx 'Anchor : "my site again"' "$tmp/out"

"$orvex" --link-source "$page" "http://nobody.localhost/" >"$tmp/out" 2>"$tmp/err"
check "--link-source without a matching anchor exits 0" test $? -eq 0
check "--link-source without a matching anchor prints nothing" test ! -s "$tmp/out"

"$orvex" --link-source "http://partner.localhost:$port/_status/500" "mysite.localhost" >"$tmp/out" 2>"$tmp/err"
check "--link-source of a failing page exits 1" test $? -eq 1

for args in "--link-info" "--link-info a b" "--link-source a" "--link-source a b c" "--link-info --verbose"; do
    # shellcheck disable=SC2086
    "$orvex" $args >"$tmp/out" 2>"$tmp/err"
    check "$args exits 2" test $? -eq 2
done

finish
