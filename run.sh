#!/usr/bin/env bash
# Builds Quillmoor (installing what is missing) and starts it. With a display and the
# desktop program built, the window opens; otherwise quillmoor-cli runs with the arguments.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build >&2
if [ -x "$top/build/src/ui/quillmoor" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$top/build/src/ui/quillmoor" "$@"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset): running quillmoor-cli instead of the window" >&2
elif [ ! -x "$top/build/src/ui/quillmoor" ]; then
  echo "run.sh: the desktop program was not built (QM_GUI off): running quillmoor-cli" >&2
fi
exec "$top/build/src/cli/quillmoor-cli" "$@"
