#!/usr/bin/env bash
# Checks a built regbench Debian package as a user meets it: lintian and the desktop and AppStream validators,
# then installs it with apt, starts the installed regbench-sim on a map edited in /etc, removes and purges it,
# and checks that nothing of it is left but the edited map between removal and purge. Needs root (or sudo);
# leaves the package purged, whatever happens.
set -euo pipefail

deb="$(realpath "${1:?usage: $0 path/to/regbench_VERSION_ARCH.deb}")"
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
apt_get() { $sudo apt-get -o DPkg::Lock::Timeout=600 -y -q "$@"; }
fail() { echo "check-package: $*" >&2; exit 1; }
work="$(mktemp -d)"
cleanup() {
    if dpkg-query -W regbench >/dev/null 2>&1; then apt_get purge regbench >/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error,warning --display-info "$deb"

echo "== desktop entries and AppStream file"
dpkg-deb -x "$deb" "$work/tree"
entries=("$work"/tree/usr/share/applications/*.desktop)
[ "${#entries[@]}" -ge 2 ] || fail "expected a desktop entry per program, found: ${entries[*]}"
desktop-file-validate "${entries[@]}"
appstreamcli validate --no-net "$work"/tree/usr/share/metainfo/*.metainfo.xml
# Also checks that each launchable names a desktop entry that the package holds.
appstreamcli validate-tree --no-net "$work/tree"

echo "== install"
if dpkg-query -W regbench >/dev/null 2>&1; then apt_get purge regbench; fi
apt_get install "$deb"
dpkg-query -W -f='${Conffiles}\n' regbench | grep -q '^ /etc/regbench/tabdefs.csv ' ||
    fail "/etc/regbench/tabdefs.csv is not a conffile"
[ "$(readlink /usr/lib/regbench/tabdefs.csv)" = /etc/regbench/tabdefs.csv ] ||
    fail "/usr/lib/regbench/tabdefs.csv is not a link to /etc/regbench/tabdefs.csv"
# Every program the package holds, so that a program added later is checked too.
programs=()
for path in /usr/lib/regbench/*; do
    if [ -f "$path" ] && [ -x "$path" ] && [ ! -L "$path" ]; then programs+=("$(basename "$path")"); fi
done
[ "${#programs[@]}" -ge 2 ] || fail "expected the programs in /usr/lib/regbench, found: ${programs[*]}"
for program in "${programs[@]}"; do
    [ "$(readlink -f "/usr/bin/$program")" = "/usr/lib/regbench/$program" ] ||
        fail "/usr/bin/$program is not a link to /usr/lib/regbench/$program"
    grep -qx "Exec=/usr/bin/$program" /usr/share/applications/*.desktop ||
        fail "no desktop entry starts /usr/bin/$program"
done
for size in 16x16 32x32 48x48 64x64 128x128 256x256 scalable; do
    ls /usr/share/icons/hicolor/$size/apps/regbench.* >/dev/null || fail "no $size icon"
done
dpkg-query -L regbench >"$work/files"

echo "== start the installed regbench-sim on a map edited in /etc"
# A title no other map has: seeing it proves the program read /etc through the link beside it.
title="regbench package check $$-$RANDOM"
printf 'TITLEBAR,%s\r\nTITLE,Package check\r\nTABNAME,Check\r\nREG,&H10,CTRL\r\n' "$title" |
    $sudo tee /etc/regbench/tabdefs.csv >/dev/null
"$here/expect-window.sh" "$title" /usr/bin/regbench-sim
"$here/check-commands.sh" /usr

echo "== remove: Debian keeps the edited map"
apt_get remove regbench
[ "$(dpkg-query -W -f='${db:Status-Abbrev}' regbench)" = "rc " ] ||
    fail "regbench is not in config-files state"
grep -qF "$title" /etc/regbench/tabdefs.csv || fail "removal lost the edit of /etc/regbench/tabdefs.csv"
[ ! -e /usr/bin/regbench ] && [ ! -e /usr/lib/regbench ] || fail "removal left the programs"

echo "== purge: nothing is left"
apt_get purge regbench
! dpkg-query -W regbench >/dev/null 2>&1 || fail "dpkg still knows regbench"
left=0
while IFS= read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    # A folder other packages share stays; anything else of the package must be gone.
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then continue; fi
    echo "left after purge: $path" >&2
    left=1
done <"$work/files"
[ ! -e /etc/regbench ] || { echo "left after purge: /etc/regbench" >&2; left=1; }
[ "$left" -eq 0 ] || fail "the purge left files behind"
echo "check-package: $(basename "$deb") passed"
