# Sourced by the whole-program scripts: a scratch folder that goes away, no display and no
# desktop settings of the user, and the check counters.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME=$tmp/config
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
failures=0
passes=0
check() { # description, then a command that must succeed
    local what=$1; shift
    if "$@"; then passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
# The summary line, and the script's exit status.
finish() {
    echo "$passes passed, $failures failed"
    test "$failures" -eq 0
}
