#!/bin/sh
# Mirrors the Python documentation (python3.11-doc) served by nginx on 127.0.0.1 with
# quillmoor-cli get (HTTPCount 10, deep enough for the whole site, starting server only) and
# with wget2 -m -k -p -np --max-threads=10, alternating, and prints wall time, files stored
# and peak memory of each run.
#   bench/analysis/crawl_compare.sh BUILD_DIR [ROUNDS]
set -eu
BUILD=${1:?usage: crawl_compare.sh BUILD_DIR [ROUNDS]}
ROUNDS=${2:-3}
CLI=$BUILD/src/cli/quillmoor-cli
DOCS=${QM_BENCH_SITE:-/usr/share/doc/python3.11/html}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-crawl.XXXXXX")
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$WORK/nginx.conf" <<CONF
worker_processes 2; daemon off; error_log $WORK/error.log; pid $WORK/nginx.pid;
events { worker_connections 512; }
http { access_log off; include /etc/nginx/mime.types;
  client_body_temp_path $WORK; proxy_temp_path $WORK; fastcgi_temp_path $WORK;
  uwsgi_temp_path $WORK; scgi_temp_path $WORK;
  server { listen 127.0.0.1:$PORT; root $DOCS; } }
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX=$!
trap 'kill $NGINX 2>/dev/null; rm -rf "$WORK"' EXIT
sleep 1
URL=http://127.0.0.1:$PORT/index.html
measure() {  # label dir command...
  label=$1; dir=$2; shift 2
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || true
  set -- $(cat "$WORK/time" | tail -1)
  files=$(find "$dir" -type f ! -name '*.primary' ! -name 'Descr.QV3' | wc -l)
  echo "$label wall=${1}s peak_rss=${2}kB files=$files"
}
i=1
while [ $i -le "$ROUNDS" ]; do
  rm -rf "$WORK/qm" "$WORK/home" "$WORK/wget2"; mkdir -p "$WORK/qm" "$WORK/home" "$WORK/wget2"
  "$CLI" --home "$WORK/home" options PathPrefix="$WORK/qm/" HTTPCount=10 > /dev/null
  sed -i 's/"RSrvsBx"=dword:00000000/"RSrvsBx"=dword:00000001/' "$WORK/home/registry.reg"
  measure "round $i quillmoor-cli" "$WORK/qm" "$CLI" --home "$WORK/home" get "$URL" --level 40
  (cd "$WORK/wget2" && measure "round $i wget2        " "$WORK/wget2" wget2 -q -m -k -p -np --max-threads=10 "$URL")
  i=$((i + 1))
done
