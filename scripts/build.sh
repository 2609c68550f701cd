#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh DIR [extra cmake options...]
# QM_BUILD_TARGET=NAME builds that target only instead of everything.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# Compiler cache entries that do not depend on where the checkout lies, so a fresh clone on
# the same machine reuses what an earlier build compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
cmake -S "$top" -B "$top/$dir" -G Ninja "$@" >/dev/null
cmake --build "$top/$dir" ${QM_BUILD_TARGET:+--target "$QM_BUILD_TARGET"}
