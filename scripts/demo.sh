#!/usr/bin/env bash
# A short tour of tavrikctl on files it makes itself (no keyboard needed).
set -euo pipefail
build=${1:-build}
ctl="$build/tavrikctl"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

say() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }
run() { say "tavrikctl $*"; "$ctl" "$@" || true; }

run --help
say "tavrikctl keys | head"
"$ctl" keys | sed -n '1,4p;260,270p'
run macro make --mode Combination -o "$work/copy.tvm" down:LCtrl down:C
run macro show "$work/copy.tvm"
run macro make --mode AutoLoop --delay 20 -o "$work/spam.tvm" tap:A
run macro show "$work/spam.tvm" --json
head -c 147456 /dev/zero >"$work/zero.bin"
run firmware check "$work/zero.bin"

# A simulated keyboard stands in for hardware.
sim="$work/keyboard.json"
run sim init "$sim" --keys 24 --row 2 --version 1.40
run --simulate="$sim" list
run --simulate="$sim" scan
run --simulate="$sim" set-key 4 1 F5
run --simulate="$sim" set-color 4 '#FF8000'
run --simulate="$sim" macro write 5 "$work/copy.tvm"
run --simulate="$sim" backup "$work/backup.json"
run --simulate="$sim" set-key 4 1 F6
run --simulate="$sim" restore "$work/backup.json"
say "tavrikctl --simulate scan | head"
"$ctl" --simulate="$sim" scan | sed -n '1,12p'
