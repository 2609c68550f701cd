#!/bin/sh
# Requests per second of quillmoor-cli serve against nginx serving the same stored 10 KB
# page on 127.0.0.1, measured by wrk with keep-alive off ("Connection: close"; nginx also
# with keepalive_timeout 0), rounds alternating between the two; prints every round with the
# server's CPU time per request, and the medians with their ratio.
# (With NGINX_WORKERS above 1 the CPU figure covers only nginx's master process.)
#   bench/server/wrk_compare.sh BUILD_DIR [ROUNDS]
# Environment: WRK_SECONDS (5), WRK_CONNECTIONS (32), WRK_THREADS (2), NGINX_WORKERS (1),
# NGINX_ACCESS_LOG (1; 0 turns nginx's access log off), QM_CLI (another quillmoor-cli to
# measure, for before-and-after figures).
set -eu
BUILD=${1:?usage: wrk_compare.sh BUILD_DIR [ROUNDS]}
ROUNDS=${2:-5}
SECS=${WRK_SECONDS:-5}
CONNS=${WRK_CONNECTIONS:-32}
THREADS=${WRK_THREADS:-2}
WORKERS=${NGINX_WORKERS:-1}
CLI=${QM_CLI:-$BUILD/src/cli/quillmoor-cli}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-wrk.XXXXXX")
ACCESS_LOG=off
[ "${NGINX_ACCESS_LOG:-1}" = 0 ] || ACCESS_LOG=$WORK/nginx/access.log
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
QM_PID=; NGINX_PID=
trap 'for p in $QM_PID $NGINX_PID; do kill "$p" 2>/dev/null; done; sleep 0.2; rm -rf "$WORK"' EXIT

# The stored page, under the download folder as quillmoor-cli get would store it.
mkdir -p "$WORK/site/host" "$WORK/home" "$WORK/nginx"
python3 -c '
import sys
text = "<html><body>"
while len(text) < 10240 - 14: text += "stored text of a ten kilobyte page. "
sys.stdout.write(text[:10240 - 14] + "</body></html>")' > "$WORK/site/host/page.htm"

QM_PORT=$(free_port)
"$CLI" --home "$WORK/home" options PathPrefix="$WORK/site/" HTTPPort="$QM_PORT" > /dev/null
"$CLI" --home "$WORK/home" serve > "$WORK/serve.log" 2>&1 &
QM_PID=$!

NGINX_PORT=$(free_port)
cat > "$WORK/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes $WORKERS;
worker_rlimit_nofile 8192;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log warn;
events { worker_connections 4096; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $ACCESS_LOG;
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $WORK/site;
  }
}
CONF
# More than one worker needs nginx's master process, whose workers may run as another user.
if [ "$WORKERS" != 1 ]; then
  sed -i 's/^master_process off;/master_process on;/' "$WORK/nginx/nginx.conf"
  chmod 755 "$WORK" "$WORK/site" "$WORK/site/host"; chmod 644 "$WORK/site/host/page.htm"
fi
nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" &
NGINX_PID=$!

i=0
until grep -q "Serving stored sites at" "$WORK/serve.log" 2>/dev/null; do
  i=$((i + 1)); [ $i -lt 100 ] || { echo "quillmoor-cli serve did not start: $(cat "$WORK/serve.log")"; exit 1; }
  sleep 0.1
done
QM_PORT=$(sed -n 's|.*http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$WORK/serve.log" | head -1)
QM_URL=http://127.0.0.1:$QM_PORT/Default/host/page.htm
NGINX_URL=http://127.0.0.1:$NGINX_PORT/host/page.htm
sleep 0.5
for url in "$QM_URL" "$NGINX_URL"; do
  curl -s -o "$WORK/check" "$url" && cmp -s "$WORK/check" "$WORK/site/host/page.htm" || { echo "wrong answer from $url"; exit 1; }
done

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # user + system, in clock ticks
TICK=$(getconf CLK_TCK)
run_wrk() {  # label url pid -> prints the round, appends the rate and CPU per request to WORK/label
  before=$(cpu_ticks "$3")
  out=$(wrk -t"$THREADS" -c"$CONNS" -d"${SECS}s" -H 'Connection: close' "$2" 2>&1)
  after=$(cpu_ticks "$3")
  rate=$(echo "$out" | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p')
  count=$(echo "$out" | sed -n 's/^ *\([0-9]*\) requests in.*/\1/p')
  cpu=$(awk -v a="$before" -v b="$after" -v n="${count:-0}" -v t="$TICK" 'BEGIN { if (n > 0) printf "%.1f", (b - a) * 1000000 / t / n; else print 0 }')
  errors=$(echo "$out" | sed -n 's/^ *Socket errors: *//p; s/^ *Non-2xx or 3xx responses: */non-2xx /p' | tr '\n' ' ')
  echo "round $r $1 ${rate:-0} req/s, ${cpu} us CPU per request ${errors}"
  echo "${rate:-0}" >> "$WORK/rates.$1"
  echo "$cpu" >> "$WORK/cpu.$1"
}
median() { sort -n "$WORK/$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "wrk -t$THREADS -c$CONNS -d${SECS}s -H 'Connection: close', $ROUNDS rounds, nginx worker_processes $WORKERS, access_log ${NGINX_ACCESS_LOG:-1}"
r=1
while [ $r -le "$ROUNDS" ]; do
  if [ $((r % 2)) = 1 ]; then run_wrk quillmoor "$QM_URL" "$QM_PID"; run_wrk nginx "$NGINX_URL" "$NGINX_PID"
  else run_wrk nginx "$NGINX_URL" "$NGINX_PID"; run_wrk quillmoor "$QM_URL" "$QM_PID"; fi
  r=$((r + 1))
done
QM=$(median rates.quillmoor); NG=$(median rates.nginx)
echo "median quillmoor-cli serve: $QM req/s, $(median cpu.quillmoor) us CPU per request"
echo "median nginx:               $NG req/s, $(median cpu.nginx) us CPU per request"
echo "ratio: $(awk -v a="$QM" -v b="$NG" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')x nginx"
