#!/bin/bash
# The Linux tool installed as a user gets it: `cmake --install` into a staging
# folder, the man page rendered by man, the Debian package from cpack installed
# with dpkg and run. With a win32 build beside it, the Windows zip is checked too.
# Usage: install_test.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/mosslane-install.XXXXXX)
installed_package=
cleanup() {
    [ -n "$installed_package" ] && dpkg -r mosslane >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }

# Into a staging folder, as a packager would.
if cmake --install "$build" --prefix "$work/stage" >"$work/install.log" 2>&1 &&
   [ -x "$work/stage/bin/mosslane" ] && [ -f "$work/stage/share/man/man1/mosslane.1" ] &&
   [ -f "$work/stage/share/doc/mosslane/mosslane.service" ] &&
   "$work/stage/bin/mosslane" --version | grep -q '^mosslane [0-9]'; then
    ok "cmake --install puts the program, man page and unit in place"
else
    fail "cmake --install"; cat "$work/install.log"
fi

# The page renders without warnings and says what matters.
page=$(MANWIDTH=80 man --warnings -l "$work/stage/share/man/man1/mosslane.1" 2>"$work/man.err" | col -b)
if [ -n "$page" ] && ! [ -s "$work/man.err" ] &&
   grep -q 'mosslane send' <<<"$page" && grep -q 'EXIT STATUS' <<<"$page" &&
   grep -q 'dialout' <<<"$page"; then
    ok "man -l renders mosslane(1)"
else
    fail "man -l"; cat "$work/man.err"
fi

if ! (cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1); then
    fail "cpack"; cat "$work/cpack.log"
else
    deb=$(ls "$work"/package/mosslane_*.deb 2>/dev/null | head -1)
    if [ -z "$deb" ]; then
        fail "cpack made no .deb"
    elif [ "$(id -u)" -ne 0 ]; then
        echo "skip dpkg -i: needs root"
    elif dpkg -l mosslane 2>/dev/null | grep -q '^ii'; then
        echo "skip dpkg -i: a mosslane package is installed on this machine already"
    elif dpkg -i "$deb" >"$work/dpkg.log" 2>&1 && installed_package=yes &&
         /usr/bin/mosslane --version | grep -q '^mosslane [0-9]' &&
         [ -f /usr/share/man/man1/mosslane.1 ]; then
        ok "the Debian package installs with dpkg -i and runs mosslane --version"
    else
        fail "dpkg -i"; cat "$work/dpkg.log"
    fi
fi

# The shipped Windows files, when the win32 build is there.
win32="$source_dir/build/win32"
if [ -f "$win32/shell/MossLane.exe" ]; then
    if (cd "$win32" && cpack -G ZIP -B "$work/zip" >"$work/zip.log" 2>&1); then
        listing=$(unzip -Z1 "$work"/zip/MossLane-*.zip 2>&1)
        missing=
        for f in MossLane.exe MossLane.hlp tallylib.dll tallylib.h libtallylib.dll.a \
                 docs/README.md docs/tallylib.md; do
            grep -qx "$f" <<<"$listing" || missing="$missing $f"
        done
        if [ -z "$missing" ]; then ok "the Windows zip holds the shipped files"
        else fail "the Windows zip lacks:$missing"; echo "$listing"; fi
    else
        fail "cpack of the win32 build"; cat "$work/zip.log"
    fi
else
    echo "skip Windows zip: no win32 build in $win32"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
