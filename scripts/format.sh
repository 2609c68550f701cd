#!/usr/bin/env bash
# Lays out the C++ sources with .clang-format. With --check, changes nothing and exits 1
# naming the files whose layout differs (CI runs it that way).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
if [[ "${1:-}" == "--check" ]]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "layout differs from .clang-format: $f" >&2
      bad=1
    fi
  done
  [[ $bad -eq 0 ]] || { echo "run scripts/format.sh to lay them out" >&2; exit 1; }
else
  clang-format -i "${files[@]}"
fi
