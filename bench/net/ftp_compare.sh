#!/bin/sh
# FTP from pyftpdlib on 127.0.0.1, our client against curl and wget in the same run:
#  1. one 256 MB file fetched by quillmoor-cli fetch, curl and wget (alternating rounds);
#  2. a tree of 2,000 small files in 40 folders mirrored by quillmoor-cli get and wget -m.
# Prints wall time and peak memory of each run.
#   bench/net/ftp_compare.sh BUILD_DIR [ROUNDS]
set -eu
BUILD=${1:?usage: ftp_compare.sh BUILD_DIR [ROUNDS]}
ROUNDS=${2:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$BUILD/src/cli/quillmoor-cli
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-ftp.XXXXXX")
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$WORK/root/tree"
head -c 268435456 /dev/urandom > "$WORK/root/big.bin"
d=0
while [ $d -lt 40 ]; do
  mkdir -p "$WORK/root/tree/d$d"
  f=0
  while [ $f -lt 50 ]; do
    printf 'file %d of folder %d\n' $f $d > "$WORK/root/tree/d$d/f$f.txt"
    f=$((f + 1))
  done
  d=$((d + 1))
done
/usr/bin/python3 "$HERE/../../tests/support/ftp_peer.py" --port "$PORT" --root "$WORK/root" > "$WORK/ftpd.log" 2>&1 &
FTPD=$!
trap 'kill $FTPD 2>/dev/null; rm -rf "$WORK"' EXIT
sleep 1
URL=ftp://127.0.0.1:$PORT
measure() {  # label command...
  label=$1; shift
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" > "$WORK/log" 2>&1 || echo "$label failed: $(tail -3 "$WORK/log")"
  set -- $(tail -1 "$WORK/time")
  echo "$label wall=${1}s peak_rss=${2}kB"
}
mkdir -p "$WORK/home"
"$CLI" --home "$WORK/home" options PathPrefix="$WORK/qm/" HTTPCount=10 > /dev/null
i=1
while [ $i -le "$ROUNDS" ]; do
  measure "round $i 256 MB quillmoor-cli fetch" "$CLI" --home "$WORK/home" fetch "$URL/big.bin" -o "$WORK/out.qm"
  measure "round $i 256 MB curl              " curl -s -o "$WORK/out.curl" "$URL/big.bin"
  measure "round $i 256 MB wget              " wget -q -O "$WORK/out.wget" "$URL/big.bin"
  cmp -s "$WORK/out.qm" "$WORK/root/big.bin" || echo "round $i: quillmoor-cli copy differs"
  rm -f "$WORK/out.qm" "$WORK/out.curl" "$WORK/out.wget"
  i=$((i + 1))
done
i=1
while [ $i -le "$ROUNDS" ]; do
  rm -rf "$WORK/qm" "$WORK/wget" "$WORK/home/Orrinal.dat"; mkdir -p "$WORK/qm" "$WORK/wget"
  measure "round $i tree quillmoor-cli get" "$CLI" --home "$WORK/home" get "$URL/tree/" --level 5
  echo "  stored: $(find "$WORK/qm" -name 'f*.txt' | wc -l) files"
  (cd "$WORK/wget" && measure "round $i tree wget -m         " wget -q -m "$URL/tree/")
  echo "  stored: $(find "$WORK/wget" -name 'f*.txt' | wc -l) files"
  i=$((i + 1))
done
