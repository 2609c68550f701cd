#!/bin/sh
# Mirrors a site served by nginx on 127.0.0.1 with quillmoor-cli get (HTTPCount 10, starting
# server only) and with wget2 -m -k -p -np --max-threads=10, in alternating rounds, and prints
# each run and then the median wall time, the median peak memory and the time per stored file
# of both (and the processor time, user + system, which a busy machine disturbs less).
#   bench/site/mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]
# SITE_DIR: a folder with index.html (bench/site/make_site.py writes one; the Python
# documentation is /usr/share/doc/python3.11/html). NAME=VALUE pairs are program options for
# quillmoor-cli (LowMemory=1, KeepAlive=0, ...). QM_ONLY=1 skips wget2; QM_BEFORE=CLI also
# runs another quillmoor-cli (an earlier build) in each round, as "before"; QM_KEEP=1 leaves
# the folders of the runs in place; QM_WRAP="COMMAND ..." runs quillmoor-cli under a profiler
# (perf record -g -o FILE, strace -c -f -o FILE), which then disturbs its figures. For other
# benchmarks built on this one: QM_NGINX_MAIN and QM_NGINX_HTTP add directives to nginx's main
# context and http block, QM_WIRE_BYTES=1 counts the bytes nginx sent in each run (median
# "wire" in the summary), QM_WGET2_ARGS adds options to wget2.
set -eu
BUILD=${1:?usage: mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]}
SITE=${2:?usage: mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]}
ROUNDS=${3:-5}
shift 2; [ $# -gt 0 ] && shift
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
# QM_KEEP=1 leaves the runs' folders (for a series of invocations: see prepare() below).
. "$(dirname "$0")/serve_site.sh"
serve_site mirror "$SITE"
: > "$WORK/results"
measure() {  # label dir command...
  label=$1; dir=$2; shift 2
  logged=0; [ -f "$WORK/access.log" ] && logged=$(wc -l < "$WORK/access.log")
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || true
  wire=0; [ -f "$WORK/access.log" ] && wire=$(tail -n +$((logged + 1)) "$WORK/access.log" | awk '{s += $1} END {print s + 0}')
  set -- $(tail -1 "$WORK/time")
  files=$(find "$dir" -type f ! -name '*.primary' ! -name 'Descr.QV3' | wc -l)
  echo "$label wall=${1}s peak_rss=${2}kB cpu=${3}+${4}s files=$files wire=${wire}B"
  echo "$label $1 $2 $files $3 $4 $wire" >> "$WORK/results"
}
# Every run gets new folders; nothing is deleted until the end. On ext4 without a journal,
# a new file skips, one by one, the inodes of its directory's group freed in the last one to
# six minutes, which would burden whichever run follows a deletion (an earlier benchmark's
# clean-up, say). quillmoor-cli keeps its downloads' temporary files in one folder of the
# system's temporary folder, so each run gets its own TMPDIR, new like wget2's folder. For a
# series of invocations, QM_KEEP=1 keeps every folder until the series ends.
prepare() {  # dir [NAME=VALUE ...]
  d=$1; shift
  mkdir -p "$d/files" "$d/home" "$d/tmp"
  "$CLI" --home "$d/home" options PathPrefix="$d/files/" HTTPCount=10 "$@" > /dev/null
  sed -i 's/"RSrvsBx"=dword:00000000/"RSrvsBx"=dword:00000001/' "$d/home/registry.reg"
}
i=1
while [ $i -le "$ROUNDS" ]; do
  R=$WORK/round$i
  prepare "$R/qm" "$@"
  sync; measure qm "$R/qm/files" ${QM_WRAP:-} env TMPDIR="$R/qm/tmp" "$CLI" --home "$R/qm/home" get "$URL" --level 60
  if [ -n "${QM_BEFORE:-}" ]; then
    prepare "$R/before" "$@"
    sync; measure before "$R/before/files" env TMPDIR="$R/before/tmp" "$QM_BEFORE" --home "$R/before/home" get "$URL" --level 60
  fi
  if [ "${QM_ONLY:-0}" != 1 ]; then
    mkdir -p "$R/wget2"
    sync; (cd "$R/wget2" && measure wget2 "$R/wget2" wget2 -q -m -k -p -np --max-threads=10 ${QM_WGET2_ARGS:-} "$URL")
  fi
  i=$((i + 1))
done
python3 - "$WORK/results" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    label, wall, rss, files, user, system, wire = line.split()
    runs.setdefault(label, []).append((float(wall), int(rss), int(files), float(user) + float(system), int(wire)))
for label, r in runs.items():
    wall = statistics.median(x[0] for x in r)
    rss = statistics.median(x[1] for x in r)
    files = max(x[2] for x in r)
    cpu = statistics.median(x[3] for x in r)
    wire = statistics.median(x[4] for x in r)
    print("%-6s median wall=%.2fs peak_rss=%.0fkB cpu=%.2fs files=%d time/file=%.3fms wire=%.0fB" %
          (label, wall, rss, cpu, files, 1000 * wall / max(files, 1), wire))
for other in ("wget2", "before"):
    if "qm" in runs and other in runs:
        q = statistics.median(x[0] for x in runs["qm"]); w = statistics.median(x[0] for x in runs[other])
        print("ratio qm/%s wall=%.2f" % (other, q / w))
        qb = statistics.median(x[4] for x in runs["qm"]); wb = statistics.median(x[4] for x in runs[other])
        if wb > 0:
            print("ratio qm/%s wire=%.3f" % (other, qb / wb))
PY
