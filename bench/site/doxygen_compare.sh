#!/bin/sh
# Mirrors Doxygen API documentation with quillmoor-cli and with wget2 (mirror_compare.sh):
# Eigen's reference (Debian's libeigen3-doc) and a generated site of link-dense pages
# (make_site.py --dense), each in alternating rounds, and prints the load of the machine
# before and after, which the figures depend on.
#   bench/site/doxygen_compare.sh BUILD_DIR [ROUNDS] [PAGES] [NAME=VALUE ...]
# Environment as for mirror_compare.sh (QM_ONLY, QM_BEFORE, QM_WRAP, QM_KEEP).
set -eu
BUILD=${1:?usage: doxygen_compare.sh BUILD_DIR [ROUNDS] [PAGES] [NAME=VALUE ...]}
ROUNDS=${2:-3}
PAGES=${3:-2000}
shift; [ $# -gt 0 ] && shift; [ $# -gt 0 ] && shift
HERE=$(dirname "$0")
EIGEN=/usr/share/doc/libeigen3-dev/html
[ -f "$EIGEN/index.html" ] || { echo "missing $EIGEN: install libeigen3-doc" >&2; exit 1; }
SITE=$(mktemp -d "${TMPDIR:-/tmp}/qm-dense.XXXXXX")
chmod 755 "$SITE"  # nginx reads it as another user
trap 'rm -rf "$SITE"' EXIT
python3 "$HERE/make_site.py" "$SITE" "$PAGES" 14 --dense
echo "load before: $(cat /proc/loadavg)"
echo "== Eigen reference ($EIGEN)"
"$HERE/mirror_compare.sh" "$BUILD" "$EIGEN" "$ROUNDS" "$@"
echo "== generated link-dense site, $PAGES pages"
"$HERE/mirror_compare.sh" "$BUILD" "$SITE" "$ROUNDS" "$@"
echo "load after: $(cat /proc/loadavg)"
