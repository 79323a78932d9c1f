#!/usr/bin/env bash
# `make run`: the window on a demonstration keyboard; without a display, a picture of the
# window made under Xvfb, then the command-line demonstration.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
demo="$build/demo-keyboards.json"

if [[ ! -f "$demo" ]]; then
  # About 60 modules: assigned keys with colours, a macro key, keys waiting for their
  # assignment and one module in its bootloader.
  "$build/tavrikctl" sim init "$demo" --keys 60 --row 2 --version 1.40 >/dev/null
  echo "A demonstration keyboard is kept in $demo (delete it for a fresh one)."
fi

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec "$build/tavrik" --simulate="$demo"
fi

echo "No display here: the window runs under Xvfb for a few seconds instead."
picture="$build/tavrik-window.png"
if "$here/screenshot" "$picture" --simulate="$demo"; then
  echo "A picture of the window: $(cd "$(dirname "$picture")" && pwd)/$(basename "$picture")"
else
  echo "The window could not be shown under Xvfb (see above)." >&2
fi
"$here/demo.sh" "$build"
