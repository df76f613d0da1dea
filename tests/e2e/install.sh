#!/usr/bin/env bash
# The program as it is installed: `cmake --install` into a scratch prefix gives the binary, its
# help page, icons, desktop entry, metadata and manual page, each valid by the desktop's own
# checkers; the installed program finds its help page there; tools/package makes a .deb that
# holds them all, whose dependencies come from the libraries and that lintian finds no error in.
# Usage: install.sh BUILD_DIR VERSION APP_ID
set -uo pipefail
build=$1 version=$2 app_id=$3
source "$(dirname "$0")/common.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/orvex share/orvex/orx-help.html share/applications/$app_id.desktop \
    share/metainfo/$app_id.metainfo.xml share/icons/hicolor/scalable/apps/$app_id.svg \
    share/icons/hicolor/48x48/apps/$app_id.png share/icons/hicolor/256x256/apps/$app_id.png \
    share/man/man1/orvex.1.gz share/doc/orvex/copyright; do
    check "installed: $f" test -s "$prefix/$f"
done
for size in 48 256; do
    check "the ${size}px icon is ${size}x${size}" \
        bash -c "file '$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png' | grep -q 'PNG image data, $size x $size'"
done

desktop=$prefix/share/applications/$app_id.desktop
check "desktop-file-validate passes" bash -c "out=\$(desktop-file-validate '$desktop' 2>&1) && [ -z \"\$out\" ] || { echo \"\$out\"; false; }"
check "the entry starts the program" grep -qx 'Exec=orvex' "$desktop"
check "the entry's icon is the application id" grep -qx "Icon=$app_id" "$desktop"
# Qt names the window class after the application name the program sets.
check "the entry's window class is the program's" grep -qx 'StartupWMClass=Orvex' "$desktop"
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
check "appstreamcli validate passes" appstreamcli validate --no-net "$metainfo"
check "the metadata names the application id and its entry" \
    bash -c "grep -q '<id>$app_id</id>' '$metainfo' && grep -q '>$app_id.desktop</launchable>' '$metainfo'"
check "the metadata names this release" grep -q "<release version=\"$version\"" "$metainfo"

manual=$tmp/orvex.1.txt
check "man -l renders orvex.1 without warnings" bash -c \
    "MANWIDTH=100 man --warnings -l '$prefix/share/man/man1/orvex.1.gz' 2>'$tmp/man.err' >'$manual' && [ ! -s '$tmp/man.err' ] || { cat '$tmp/man.err'; false; }"
usage=$("$prefix/bin/orvex" --help)
missing=$(grep -o -- '--[a-z][a-z-]*' <<<"$usage" | sort -u | while read -r option; do
    grep -q -- "$option" "$manual" || echo "$option"
done)
check "the manual explains every option of --help (missing: $missing)" test -z "$missing"
for section in "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    check "the manual has $section" grep -q "^$section" "$manual"
done
for variable in ORVEX_HOME ORVEX_CODEPAGE ORVEX_PAGERANK_HOST; do
    check "the manual names $variable" grep -q "$variable" "$manual"
done
check "the manual shows a crontab line" grep -q '\* \* 1,5 /usr/bin/orvex /check # Orvex weekly check' "$manual"

check "the installed program says its version" test "$("$prefix/bin/orvex" --version | cut -d' ' -f1-2)" = "Orvex $version"
check "the installed program finds its help page in the prefix" \
    grep -qF "the help page: $prefix/share/orvex/orx-help.html" <<<"$usage"

# --- the package ---------------------------------------------------------------------------------
deb=$(ORVEX_PACKAGE_BUILD_DIR=$build ORVEX_PACKAGE_OUT=$tmp/package "$root/tools/package" 2>"$tmp/package.err")
check "tools/package prints the package it made" test -f "$deb"
check "the package is named orvex_VERSION_ARCH.deb" \
    test "$(basename "$deb")" = "orvex_${version}_$(dpkg --print-architecture).deb"
contents=$(dpkg-deb --contents "$deb" 2>/dev/null | awk '{print $6}')
for f in ./usr/bin/orvex ./usr/share/applications/$app_id.desktop ./usr/share/metainfo/$app_id.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/$app_id.svg ./usr/share/icons/hicolor/48x48/apps/$app_id.png \
    ./usr/share/icons/hicolor/256x256/apps/$app_id.png ./usr/share/man/man1/orvex.1.gz \
    ./usr/share/orvex/orx-help.html ./usr/share/doc/orvex/copyright; do
    check "the package holds $f" grep -qxF "$f" <<<"$contents"
done
depends=$(dpkg-deb --field "$deb" Depends 2>/dev/null)
check "the dependencies come from the libraries the program links" \
    bash -c "grep -q 'libqt6core6 (>=' <<<'$depends' && grep -q 'libcurl4' <<<'$depends' && grep -q 'libsqlite3-0' <<<'$depends'"
check "the package's version" test "$(dpkg-deb --field "$deb" Version 2>/dev/null)" = "$version"
lint=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges')
check "lintian reports no error or warning: $lint" bash -c "! grep -qE '^(E|W): ' <<<'$lint'"
finish
