#!/usr/bin/env bash
# CPU used by a download whose start address names a host that is not found, with attempts
# unlimited ("ConnRetries" 0): the record waits between attempts instead of looking the name
# up again at once. Prints the share of one core used over the measured time.
#   bench/engine/retry_idle_cpu.sh [BUILD_DIR] [SECONDS]
# Only the local resolver is asked (".invalid" names are never delegated).
set -euo pipefail
build=${1:-build}
seconds=${2:-30}
cli="$build/src/cli/quillmoor-cli"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
/usr/bin/time -o "$home/time" -f "%U %S" timeout -s INT "$seconds" "$cli" --home "$home" get \
    http://host-that-is-not-found.invalid/ >/dev/null 2>"$home/log" || true
read -r user sys <<<"$(tail -1 "$home/time")"
attempts=$(tr '\r' '\n' <"$home/log" | grep -c "^Waiting" || true)
python3 - "$user" "$sys" "$seconds" "$attempts" <<'PY'
import sys
user, sys_, seconds, attempts = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
print(f"{seconds:.0f} s waiting on a host that is not found: {user + sys_:.2f} s of CPU "
      f"({100 * (user + sys_) / seconds:.2f} % of a core), {attempts} failed attempts")
PY
