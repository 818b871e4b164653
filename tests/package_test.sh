#!/bin/sh
# Builds the Debian package, unpacks it into a scratch root and runs the
# program from there.   usage: package_test.sh BUILD_DIR
set -eu
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ptrspeed-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" -G DEB >/dev/null
set -- "$scratch"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single .deb built"
deb=$1

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "$depends" | grep -Eq '(^|, )libc6( |,|$)' || fail "libc6 is not a dependency"
echo "$depends" | grep -Eq '(^|, )libsystemd0( |,|$)' || fail "libsystemd0 is not a dependency"
contents=$(dpkg-deb -c "$deb")
echo "$contents" | grep -q ' \./usr/bin/ptrspeed$' || fail "no /usr/bin/ptrspeed"
echo "$contents" | grep -q ' \./usr/share/man/man1/ptrspeed\.1$' || fail "no manual page"

dpkg -x "$deb" "$scratch/root"
mkdir "$scratch/home"
printf 'Hello!\r\nSpeed is: 10\r\nEnter New speed: \r\nHit Enter to exit.' >"$scratch/expected"
printf '14\n' | env -u DBUS_SESSION_BUS_ADDRESS -u XDG_CONFIG_HOME HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch" \
    setsid -w "$scratch/root/usr/bin/ptrspeed" >"$scratch/out.txt" || fail "exit status $?"
cmp "$scratch/expected" "$scratch/out.txt" || fail "unexpected output"
[ "$(cat "$scratch/home/.config/ptrspeed/profile")" = "MouseSpeed=14" ] || fail "speed not stored"
