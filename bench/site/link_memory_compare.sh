#!/bin/sh
# Peak memory, wall and processor time of quillmoor-cli get --level 1 and of wget2 -r -l 1 on pages
# with huge numbers of links, served by nginx on 127.0.0.1 (the links answer 404, so
# nothing is stored): one page of 1,000,000 distinct hyperlinks, a style sheet of 300,000
# url()s, and a 60 MB page on one line. Runs alternate; prints each run, then the medians.
#   bench/site/link_memory_compare.sh BUILD_DIR [ROUNDS] [CASES] [NAME=VALUE ...]
# CASES: any of links,css,big separated by commas (default all three). NAME=VALUE pairs are
# program options for quillmoor-cli. QM_ONLY=1 skips wget2; QM_BEFORE=CLI also runs another
# quillmoor-cli (an earlier build) as "before". QM_LINKS, QM_URLS and QM_MB change the sizes.
set -eu
BUILD=${1:?usage: link_memory_compare.sh BUILD_DIR [ROUNDS] [CASES] [NAME=VALUE ...]}
ROUNDS=${2:-3}
CASES=${3:-links,css,big}
shift; [ $# -gt 0 ] && shift; [ $# -gt 0 ] && shift
OPTS="$*"
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-linkmem.XXXXXX")
python3 "$HERE/make_link_pages.py" "$WORK/site" "${QM_LINKS:-1000000}" "${QM_URLS:-300000}" "${QM_MB:-60}"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$WORK/nginx.conf" <<CONF
worker_processes 2; daemon off; error_log $WORK/error.log; pid $WORK/nginx.pid;
events { worker_connections 512; }
http { access_log $WORK/access.log; log_not_found off; include /etc/nginx/mime.types;
  client_body_temp_path $WORK; proxy_temp_path $WORK; fastcgi_temp_path $WORK;
  uwsgi_temp_path $WORK; scgi_temp_path $WORK;
  server { listen 127.0.0.1:$PORT; root $WORK/site; } }
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX=$!
trap 'kill $NGINX 2>/dev/null; rm -rf "$WORK"' EXIT
sleep 1
: > "$WORK/results"
# Each run's requests are counted in nginx's access log (wget2 stops adding the links of a
# very large page part of the way through; the count shows how far each got).
measure() {  # label command...
  label=$1; shift
  : > "$WORK/access.log"
  /usr/bin/time -v -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || true
  requests=$(wc -l < "$WORK/access.log")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/time" |
         awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time")
  # Processor time (user + system) as well: on a shared machine the wall time also counts
  # the waits for a processor.
  cpu=$(sed -n 's/.*\(User\|System\) time (seconds): //p' "$WORK/time" | awk '{ s += $1 } END { print s }')
  echo "$label wall=${wall}s cpu=${cpu}s peak_rss=${rss}kB requests=$requests"
  echo "$label $wall $rss $requests $cpu" >> "$WORK/results"
}
qm() {  # label cli case
  d=$WORK/run/$1; rm -rf "$d"; mkdir -p "$d/files" "$d/home" "$d/tmp"
  "$2" --home "$d/home" options PathPrefix="$d/files/" HTTPCount=10 $OPTS > /dev/null
  sed -i 's/"RSrvsBx"=dword:00000000/"RSrvsBx"=dword:00000001/' "$d/home/registry.reg"
  sync; measure "$3:$1" env TMPDIR="$d/tmp" "$2" --home "$d/home" get "http://127.0.0.1:$PORT/$3/index.html" --level 1
  rm -rf "$d"
}
i=1
while [ $i -le "$ROUNDS" ]; do
  for c in $(echo "$CASES" | tr , ' '); do
    qm qm "$CLI" "$c"
    [ -n "${QM_BEFORE:-}" ] && qm before "$QM_BEFORE" "$c"
    if [ "${QM_ONLY:-0}" != 1 ]; then
      d=$WORK/run/wget2; rm -rf "$d"; mkdir -p "$d"
      # -p for the style sheet's url()s, which are one step beyond level 1; with -p, wget2
      # -l 1 would not follow the hyperlinks of the links page.
      p=; [ "$c" = css ] && p=-p
      sync; (cd "$d" && measure "$c:wget2" wget2 -q -r -l 1 $p --max-threads=10 "http://127.0.0.1:$PORT/$c/index.html")
      rm -rf "$d"
    fi
  done
  i=$((i + 1))
done
python3 - "$WORK/results" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    label, wall, rss, requests, cpu = line.split()
    runs.setdefault(label, []).append((float(wall), int(rss), int(requests), float(cpu)))
for label in sorted(runs):
    r = runs[label]
    requests = statistics.median(x[2] for x in r)
    cpu = statistics.median(x[3] for x in r)
    print("%-14s median wall=%.2fs cpu=%.2fs (%.1f us/request) peak_rss=%.0fkB requests=%d (%d runs)" %
          (label, statistics.median(x[0] for x in r), cpu, cpu * 1e6 / max(requests, 1),
           statistics.median(x[1] for x in r), requests, len(r)))
PY
