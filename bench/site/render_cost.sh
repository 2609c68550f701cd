#!/bin/sh
# The cost of rendering pages in the headless browser: copies a site served by nginx on
# 127.0.0.1 with quillmoor-cli, "RenderPages" off and on in alternating rounds, and prints
# each run, then the median wall time, processor time (user + system of quillmoor-cli and
# the browser it ran) and the cost per stored page of both. For the site of the tests
# (tests/render/make_script_site.py, ITEMS item pages) and for the Python documentation,
# whose pages need no script to show: the two copies of its last round are compared file by
# file (every file stored without rendering must be stored alike with it; the files its
# scripts and style sheets ask for as they run are listed as added).
#   bench/site/render_cost.sh BUILD_DIR [ROUNDS] [ITEMS] [PYTHON_DOC_DIR]
# QM_SKIP_DOCS=1 leaves the Python documentation out; QM_KEEP_ALL=1 keeps its folders.
set -eu
BUILD=${1:?usage: render_cost.sh BUILD_DIR [ROUNDS] [ITEMS] [PYTHON_DOC_DIR]}
ROUNDS=${2:-3}
ITEMS=${3:-40}
DOCS=${4:-/usr/share/doc/python3.11/html}
TOP=$(cd "$(dirname "$0")/../.." && pwd)
CLI=$(realpath "$BUILD/src/cli/quillmoor-cli")
command -v chromium > /dev/null || { echo "chromium is not installed" >&2; exit 1; }

run_site() {  # tag site_dir
  tag=$1
  . "$TOP/bench/site/serve_site.sh"
  serve_site "render-$tag" "$2"
  : > "$WORK/results"
  i=1
  while [ $i -le "$ROUNDS" ]; do
    for mode in off on; do
      d=$WORK/round$i/$mode
      mkdir -p "$d/files" "$d/home" "$d/tmp"
      "$CLI" --home "$d/home" options PathPrefix="$d/files/" HTTPCount=10 > /dev/null
      "$CLI" --home "$d/home" add Bench "$URL" --level 60 > /dev/null
      flag=False; [ $mode = on ] && flag=True
      "$CLI" --home "$d/home" project Bench/0 RenderPages=$flag RSrvsBx=1 > /dev/null
      sync
      /usr/bin/time -f "%e %U %S" -o "$d/time" env TMPDIR="$d/tmp" "$CLI" --home "$d/home" start Bench/0 \
        > "$d/log" 2>&1 || true
      set -- $(tail -1 "$d/time")
      files=$(find "$d/files" -type f ! -name '*.primary' ! -name 'Descr.QV3' | wc -l)
      pages=$(find "$d/files" -type f \( -name '*.html' -o -name '*.htm' \) | wc -l)
      echo "$tag $mode wall=${1}s cpu=$2+${3}s files=$files pages=$pages"
      echo "$mode $1 $2 $3 $files $pages" >> "$WORK/results"
    done
    i=$((i + 1))
  done
  python3 - "$WORK/results" "$tag" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    mode, wall, user, system, files, pages = line.split()
    runs.setdefault(mode, []).append((float(wall), float(user) + float(system), int(files), int(pages)))
for mode in ("off", "on"):
    r = runs.get(mode, [])
    if not r:
        continue
    wall = statistics.median(x[0] for x in r)
    cpu = statistics.median(x[1] for x in r)
    pages = max(x[3] for x in r)
    print("%s %-3s median wall=%.2fs cpu=%.2fs files=%d pages=%d wall/page=%.1fms cpu/page=%.1fms" %
          (sys.argv[2], mode, wall, cpu, max(x[2] for x in r), pages, 1000 * wall / max(pages, 1),
           1000 * cpu / max(pages, 1)))
if "off" in runs and "on" in runs:
    off = statistics.median(x[0] for x in runs["off"]); on = statistics.median(x[0] for x in runs["on"])
    offc = statistics.median(x[1] for x in runs["off"]); onc = statistics.median(x[1] for x in runs["on"])
    pages = max(x[3] for x in runs["on"])
    print("%s rendering adds wall=%.1fms cpu=%.1fms per page" %
          (sys.argv[2], 1000 * (on - off) / max(pages, 1), 1000 * (onc - offc) / max(pages, 1)))
PY
}

SITE=$(mktemp -d "${TMPDIR:-/tmp}/qm-render-fixture.XXXXXX")
chmod 755 "$SITE"  # nginx reads it as its own user
python3 "$TOP/tests/render/make_script_site.py" "$SITE" "$ITEMS"
(run_site fixture "$SITE")
rm -rf "$SITE"

if [ "${QM_SKIP_DOCS:-0}" != 1 ]; then
  (
    QM_KEEP=1
    run_site python-docs "$DOCS"
    last=$WORK/round$ROUNDS
    # Every file stored without rendering must be stored alike with it; rendering may add
    # only the files the pages' scripts and style sheets ask for as they run.
    python3 - "$last/off/files" "$last/on/files" <<'PY'
import filecmp, os, sys
off, on = sys.argv[1], sys.argv[2]
def files(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            if name != "Descr.QV3":
                found.add(os.path.relpath(os.path.join(folder, name), root))
    return found
a, b = files(off), files(on)
differ = [f for f in sorted(a & b) if not filecmp.cmp(os.path.join(off, f), os.path.join(on, f), shallow=False)]
print("python-docs stored files: %d without rendering, %d with; missing with rendering: %d, different: %d; "
      "added by rendering: %s" % (len(a), len(b), len(a - b), len(differ), " ".join(sorted(b - a)) or "none"))
for f in sorted(a - b)[:10] + differ[:10]:
    print("  " + f)
PY
    [ "${QM_KEEP_ALL:-0}" = 1 ] || rm -rf "$WORK"
  )
fi
