# Sourced by the site benchmarks (POSIX sh): serve_site TAG SITE_DIR makes a new folder
# WORK ($TMPDIR/qm-TAG.XXXXXX), serves SITE_DIR there with nginx on a free port of 127.0.0.1
# and sets WORK, PORT, NGINX and URL (the site's index.html). On exit nginx stops and WORK is
# removed, unless QM_KEEP=1 keeps it (for a series of invocations). QM_NGINX_MAIN and
# QM_NGINX_HTTP add directives to nginx's main context and http block; QM_WIRE_BYTES=1 logs
# the bytes nginx sends for each answer in $WORK/access.log.
serve_site() {
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-$1.XXXXXX")
  PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  ACCESS_LOG="access_log off;"
  if [ "${QM_WIRE_BYTES:-0}" = 1 ]; then
    ACCESS_LOG="log_format qmbytes '\$bytes_sent'; access_log $WORK/access.log qmbytes;"
    : > "$WORK/access.log"
  fi
  cat > "$WORK/nginx.conf" <<CONF
${QM_NGINX_MAIN:-}
worker_processes 2; daemon off; error_log $WORK/error.log; pid $WORK/nginx.pid;
events { worker_connections 512; }
http { $ACCESS_LOG include /etc/nginx/mime.types; ${QM_NGINX_HTTP:-}
  client_body_temp_path $WORK; proxy_temp_path $WORK; fastcgi_temp_path $WORK;
  uwsgi_temp_path $WORK; scgi_temp_path $WORK;
  server { listen 127.0.0.1:$PORT; root $(realpath "$2"); } }
CONF
  /usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
  NGINX=$!
  if [ "${QM_KEEP:-0}" = 1 ]; then
    trap 'kill $NGINX 2>/dev/null; echo "kept $WORK"' EXIT
  else
    trap 'kill $NGINX 2>/dev/null; rm -rf "$WORK"' EXIT
  fi
  sleep 1
  URL=http://127.0.0.1:$PORT/index.html
}
