#!/bin/sh
# What recording a web archive costs a mirror: quillmoor-cli get (HTTPCount 10, starting
# server only) of a site served by nginx on 127.0.0.1, with "Record a web archive" off and
# on in alternating rounds; prints each run, the medians and the ratio on/off (at most 1.15
# is the target for the Python documentation).
#   bench/site/archive_cost.sh BUILD_DIR [SITE_DIR] [ROUNDS]
# SITE_DIR defaults to the Python documentation, /usr/share/doc/python3.11/html.
set -eu
BUILD=${1:?usage: archive_cost.sh BUILD_DIR [SITE_DIR] [ROUNDS]}
SITE=${2:-/usr/share/doc/python3.11/html}
ROUNDS=${3:-3}
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
. "$(dirname "$0")/serve_site.sh"
serve_site archive "$SITE"
: > "$WORK/results"
run() {  # label dir WebArchive
  label=$1; d=$2
  mkdir -p "$d/files" "$d/home" "$d/tmp"
  "$CLI" --home "$d/home" options PathPrefix="$d/files/" HTTPCount=10 > /dev/null
  sed -i 's/"RSrvsBx"=dword:00000000/"RSrvsBx"=dword:00000001/' "$d/home/registry.reg"
  "$CLI" --home "$d/home" defaults WebArchive="$3" > /dev/null
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$d/time" env TMPDIR="$d/tmp" "$CLI" --home "$d/home" get "$URL" --level 60 \
    > "$d/log" 2>&1 || true
  set -- $(tail -1 "$d/time")
  size=$(du -sk "$d/files/Web archives" 2>/dev/null | cut -f1)
  echo "$label wall=${1}s cpu=${2}+${3}s peak_rss=${4}kB archive=${size:-0}kB"
  echo "$label $1 $2 $3" >> "$WORK/results"
}
i=1
while [ $i -le "$ROUNDS" ]; do
  run off "$WORK/round$i/off" False
  run on "$WORK/round$i/on" True
  i=$((i + 1))
done
python3 - "$WORK/results" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    label, wall, user, system = line.split()
    runs.setdefault(label, []).append((float(wall), float(user) + float(system)))
for label, r in runs.items():
    print("%-4s median wall=%.2fs cpu=%.2fs" % (label, statistics.median(x[0] for x in r),
                                               statistics.median(x[1] for x in r)))
on = statistics.median(x[0] for x in runs["on"]); off = statistics.median(x[0] for x in runs["off"])
print("ratio on/off wall=%.3f" % (on / off))
PY
