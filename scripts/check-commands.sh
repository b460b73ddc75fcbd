#!/usr/bin/env bash
# Checks the installed commands as a user over SSH meets them: regbench-sim runs a command with no display,
# and bash completes its commands and the register names of its map from the installed completion.
set -euo pipefail
prefix="${1:?usage: $0 PREFIX}"
fail() { echo "check-commands: $*" >&2; exit 1; }
program="$prefix/bin/regbench-sim"

value="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" read 0x00)" ||
    fail "regbench-sim read 0x00 ended with status $?"
[ "$value" = 0xB7 ] || fail "regbench-sim read 0x00 wrote '$value', not 0xB7"

completion="$prefix/share/bash-completion/completions/regbench-sim"
[ -f "$completion" ] || fail "no completion at $completion"
complete_words() {
    bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
             COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} &&
             _regbench && echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[ "$(complete_words "$program" wa)" = watch ] || fail "bash does not complete the command watch"
[ "$(complete_words "$program" read CT)" = CTRL ] || fail "bash does not complete the register CTRL"
echo "check-commands: a command without a display, and its completion, work from $prefix"
