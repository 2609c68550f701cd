#!/usr/bin/env bash
# Builds Quillmoor and makes its Debian packages in build/packages/:
# quillmoor_VERSION_ARCH.deb (the window) and quillmoor-cli_VERSION_ARCH.deb.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build
cpack -G DEB --config "$top/build/CPackConfig.cmake" -B "$top/build/packages"
ls "$top"/build/packages/*.deb
