#!/usr/bin/env bash
# Checks a per-user install from a build tree: cmake --install with a prefix in a scratch home must write
# nothing outside that prefix (so a normal user can do it), and the installed regbench-sim, started through
# its bin/ link, must find the sample map in its own folder.
set -euo pipefail
build="$(realpath "${1:?usage: $0 BUILD_DIR}")"
root="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "check-user-install: $*" >&2; exit 1; }
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
prefix="$home/.local"

cmake --install "$build" --prefix "$prefix" >/dev/null
outside="$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)"
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
programs=0
for path in "$prefix"/lib/regbench/*; do
    if [ ! -f "$path" ] || [ ! -x "$path" ] || [ -L "$path" ]; then continue; fi
    program="$(basename "$path")"
    programs=$((programs + 1))
    [ "$(readlink -f "$prefix/bin/$program")" = "$path" ] ||
        fail "bin/$program is not a link to lib/regbench/$program"
    grep -qx "Exec=$prefix/bin/$program" "$prefix"/share/applications/*.desktop ||
        fail "no desktop entry starts $prefix/bin/$program"
done
[ "$programs" -ge 2 ] || fail "expected the programs in $prefix/lib/regbench"
desktop-file-validate "$prefix"/share/applications/*.desktop

title="$(sed -n 's/^TITLEBAR,\(.*\)\r$/\1/p' "$root/data/tabdefs.csv")"
"$root/scripts/expect-window.sh" "$title" "$prefix/bin/regbench-sim"
"$root/scripts/check-commands.sh" "$prefix"
echo "check-user-install: installed under a user prefix and started"
