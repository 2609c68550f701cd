#!/usr/bin/env bash
# Takes the window's screenshots again (the screenshot test starts its own Xvfb) and copies
# the one the AppStream metainfo shows into packaging/screenshots/, which the homepage
# publishes as https://quillmoor.example.org/screenshots/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh" build
"$top/build/tests/ui/ui_screenshot_test"  # starts its own Xvfb
cp "$top/build/tests/ui/screenshots/main_window_progress.png" "$top/packaging/screenshots/"
echo "packaging/screenshots/main_window_progress.png taken again"
