#!/bin/sh
# Mirrors a site served by nginx on 127.0.0.1 with quillmoor-cli get (HTTPCount 10, starting
# server only) and with wget2 -m -k -p -np --max-threads=10, in alternating rounds, and prints
# each run and then the median wall time, the median peak memory and the time per stored file
# of both.
#   bench/site/mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]
# SITE_DIR: a folder with index.html (bench/site/make_site.py writes one; the Python
# documentation is /usr/share/doc/python3.11/html). NAME=VALUE pairs are program options for
# quillmoor-cli (LowMemory=1, KeepAlive=0, ...). QM_ONLY=1 skips wget2.
set -eu
BUILD=${1:?usage: mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]}
SITE=${2:?usage: mirror_compare.sh BUILD_DIR SITE_DIR [ROUNDS] [NAME=VALUE ...]}
ROUNDS=${3:-5}
shift 2; [ $# -gt 0 ] && shift
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-mirror.XXXXXX")
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$WORK/nginx.conf" <<CONF
worker_processes 2; daemon off; error_log $WORK/error.log; pid $WORK/nginx.pid;
events { worker_connections 512; }
http { access_log off; include /etc/nginx/mime.types;
  client_body_temp_path $WORK; proxy_temp_path $WORK; fastcgi_temp_path $WORK;
  uwsgi_temp_path $WORK; scgi_temp_path $WORK;
  server { listen 127.0.0.1:$PORT; root $(realpath "$SITE"); } }
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX=$!
trap 'kill $NGINX 2>/dev/null; rm -rf "$WORK"' EXIT
sleep 1
URL=http://127.0.0.1:$PORT/index.html
: > "$WORK/results"
measure() {  # label dir command...
  label=$1; dir=$2; shift 2
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || true
  set -- $(tail -1 "$WORK/time")
  files=$(find "$dir" -type f ! -name '*.primary' ! -name 'Descr.QV3' | wc -l)
  echo "$label wall=${1}s peak_rss=${2}kB files=$files"
  echo "$label $1 $2 $files" >> "$WORK/results"
}
i=1
while [ $i -le "$ROUNDS" ]; do
  rm -rf "$WORK/qm" "$WORK/home" "$WORK/wget2"; mkdir -p "$WORK/qm" "$WORK/home" "$WORK/wget2"
  "$CLI" --home "$WORK/home" options PathPrefix="$WORK/qm/" HTTPCount=10 "$@" > /dev/null
  sed -i 's/"RSrvsBx"=dword:00000000/"RSrvsBx"=dword:00000001/' "$WORK/home/registry.reg"
  sync; measure qm "$WORK/qm" "$CLI" --home "$WORK/home" get "$URL" --level 60
  if [ "${QM_ONLY:-0}" != 1 ]; then
    sync; (cd "$WORK/wget2" && measure wget2 "$WORK/wget2" wget2 -q -m -k -p -np --max-threads=10 "$URL")
  fi
  i=$((i + 1))
done
python3 - "$WORK/results" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    label, wall, rss, files = line.split()
    runs.setdefault(label, []).append((float(wall), int(rss), int(files)))
for label, r in runs.items():
    wall = statistics.median(x[0] for x in r)
    rss = statistics.median(x[1] for x in r)
    files = max(x[2] for x in r)
    print("%-6s median wall=%.2fs peak_rss=%.0fkB files=%d time/file=%.3fms" %
          (label, wall, rss, files, 1000 * wall / max(files, 1)))
if "qm" in runs and "wget2" in runs:
    q = statistics.median(x[0] for x in runs["qm"]); w = statistics.median(x[0] for x in runs["wget2"])
    print("ratio qm/wget2 wall=%.2f" % (q / w))
PY
