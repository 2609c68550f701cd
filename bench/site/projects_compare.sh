#!/bin/sh
# N Projects of one 10 KB file each, started together with quillmoor-cli start FOLDER/all,
# against wget2 -i with the same N addresses (10 connections each), nginx on 127.0.0.1;
# alternating rounds, each in new folders; prints wall time, peak memory and processor time.
#   bench/site/projects_compare.sh BUILD_DIR [N] [ROUNDS]
set -eu
BUILD=${1:?usage: projects_compare.sh BUILD_DIR [N] [ROUNDS]}
N=${2:-2000}
ROUNDS=${3:-3}
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-projects.XXXXXX")
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$WORK/site"
python3 - "$WORK/site" "$N" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    with open(os.path.join(root, "f%05d.html" % i), "w") as f:
        f.write("<html><body><p>" + ("file %d " % i) * 1200 + "</p></body></html>\n")
PY
cat > "$WORK/nginx.conf" <<CONF
worker_processes 2; daemon off; error_log $WORK/error.log; pid $WORK/nginx.pid;
events { worker_connections 512; }
http { access_log off; include /etc/nginx/mime.types;
  client_body_temp_path $WORK; proxy_temp_path $WORK; fastcgi_temp_path $WORK;
  uwsgi_temp_path $WORK; scgi_temp_path $WORK;
  server { listen 127.0.0.1:$PORT; root $WORK/site; } }
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX=$!
trap 'kill $NGINX 2>/dev/null; rm -rf "$WORK"' EXIT
sleep 1
i=0; : > "$WORK/urls"
while [ $i -lt "$N" ]; do printf 'http://127.0.0.1:%s/f%05d.html\n' "$PORT" "$i" >> "$WORK/urls"; i=$((i + 1)); done
# One program folder with the N Projects, copied for every round.
mkdir -p "$WORK/home0"
"$CLI" --home "$WORK/home0" options HTTPCount=10 > /dev/null
"$CLI" --home "$WORK/home0" new-folder Many > /dev/null
while read -r url; do "$CLI" --home "$WORK/home0" add Many "$url" --level 0 > /dev/null; done < "$WORK/urls"
measure() {  # label command...
  label=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || true
  set -- $(tail -1 "$WORK/time")
  echo "$label wall=${1}s peak_rss=${2}kB cpu=${3}+${4}s"
}
r=1
while [ $r -le "$ROUNDS" ]; do
  # Its own TMPDIR, as in mirror_compare.sh: new like wget2's folder.
  R=$WORK/round$r; mkdir -p "$R/files" "$R/wget2" "$R/tmp"
  cp -a "$WORK/home0" "$R/home"
  "$CLI" --home "$R/home" options PathPrefix="$R/files/" > /dev/null
  sync; measure qm env TMPDIR="$R/tmp" "$CLI" --home "$R/home" start Many/all
  sync; (cd "$R/wget2" && measure wget2 wget2 -q --max-threads=10 -i "$WORK/urls")
  echo "  stored: qm $(find "$R/files" -type f ! -name Descr.QV3 ! -name '*.primary' | wc -l), maps $(ls "$R/home" | grep -c '\.map$'), wget2 $(find "$R/wget2" -type f | wc -l)"
  r=$((r + 1))
done
