#!/bin/sh
# Bytes on the wire and time of a mirror from nginx with gzip and brotli on: quillmoor-cli get
# against wget2 -m -k -p -np --compression=gzip,br --max-threads=10, in alternating rounds
# (medians), through mirror_compare.sh's nginx and measurements.
#   bench/site/compression_compare.sh BUILD_DIR [SITE_DIR] [ROUNDS] [NAME=VALUE ...]
# SITE_DIR defaults to the Python documentation (/usr/share/doc/python3.11/html).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:?usage: compression_compare.sh BUILD_DIR [SITE_DIR] [ROUNDS] [NAME=VALUE ...]}
SITE=${2:-/usr/share/doc/python3.11/html}
ROUNDS=${3:-5}
[ $# -gt 0 ] && shift; [ $# -gt 0 ] && shift; [ $# -gt 0 ] && shift
TYPES="text/css application/javascript text/plain application/json image/svg+xml"
export QM_NGINX_MAIN="load_module /usr/lib/nginx/modules/ngx_http_brotli_filter_module.so;"
export QM_NGINX_HTTP="gzip on; gzip_types $TYPES; brotli on; brotli_types $TYPES;"
export QM_WIRE_BYTES=1
export QM_WGET2_ARGS="--compression=gzip,br"
exec "$here/mirror_compare.sh" "$BUILD" "$SITE" "$ROUNDS" "$@"
