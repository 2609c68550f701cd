#!/bin/sh
# Mirrors a large API documentation site with quillmoor-cli and with wget2 (mirror_compare.sh):
# the Java 17 class library reference from Debian's openjdk-17-doc (about 10,300 files of
# link-dense pages), in alternating rounds. The package is not installed: it is downloaded
# from the machine's Debian mirror once (apt-get download, about 13 MB) and unpacked into
# QM_BENCH_CACHE (default /var/tmp/quillmoor-bench: nginx must be able to read it, which a
# home folder often forbids), where later runs find it.
#   bench/site/api_docs_compare.sh BUILD_DIR [ROUNDS] [NAME=VALUE ...]
# Environment as for mirror_compare.sh (QM_ONLY, QM_BEFORE, QM_WRAP, QM_KEEP).
set -eu
BUILD=${1:?usage: api_docs_compare.sh BUILD_DIR [ROUNDS] [NAME=VALUE ...]}
ROUNDS=${2:-3}
shift; [ $# -gt 0 ] && shift
HERE=$(cd "$(dirname "$0")" && pwd)
CACHE=${QM_BENCH_CACHE:-/var/tmp/quillmoor-bench}
SITE=$CACHE/openjdk-17-doc/usr/share/doc/openjdk-17-jre-headless/api
if [ ! -f "$SITE/index.html" ]; then
  mkdir -p "$CACHE/download"
  (cd "$CACHE/download" && apt-get download openjdk-17-doc)
  dpkg-deb -x "$CACHE"/download/openjdk-17-doc_*.deb "$CACHE/openjdk-17-doc"
  rm -rf "$CACHE/download"
fi
[ -f "$SITE/index.html" ] || { echo "no $SITE/index.html after unpacking openjdk-17-doc" >&2; exit 1; }
chmod -R a+rX "$CACHE/openjdk-17-doc"  # nginx reads it as another user
echo "load before: $(cat /proc/loadavg)"
"$HERE/mirror_compare.sh" "$BUILD" "$SITE" "$ROUNDS" "$@"
echo "load after: $(cat /proc/loadavg)"
