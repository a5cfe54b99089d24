#!/usr/bin/env bash
# nfiqtool against NIST's nfiq, one process per print for each tool, measured side by side
# in the same run by hyperfine (print by print, warm file cache). Prints per print the
# median wall time and the mean processor time (user + system) of each and their ratios,
# then the ratios over all prints (median, quartiles, extremes) and whether both tools gave
# the same score. On a shared machine the processor time is the steadier figure. Prints NIST's tool refuses (below
# 256 pixels a side) are left out.
#
# Usage: bench/nfiq/vs_nist.sh NIST_BIN_DIR [BUILD_DIR] [RUNS]
#   NIST_BIN_DIR: folder with NIST's nfiq (NBIS 5.0.0), built outside the project
#   BUILD_DIR:    this project's build folder (default build)
#   RUNS:         timed runs per print and tool (default 20, after 3 warm-up runs)
# Needs hyperfine and python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
nist=${1:?usage: $0 NIST_BIN_DIR [BUILD_DIR] [RUNS]}
build=${2:-build}
runs=${3:-20}
prints=../shared/fixtures/fingerprints
ours="$build/bin/nfiqtool"
for need in "$nist/nfiq" "$ours"; do
  [[ -x $need ]] || { echo "missing: $need" >&2; exit 2; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)" >&2; exit 2; }
[[ -d $prints ]] || { echo "fixture prints not found: $prints" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# NIST's tool reads raw pixels: write a top-down copy of each print, and list name w h.
python3 - "$prints" "$tmp" >"$tmp/list" <<'EOF'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(src)):
    if not name.endswith('.bmp'):
        continue
    b = open(os.path.join(src, name), 'rb').read()
    off = struct.unpack_from('<I', b, 10)[0]
    w, h = struct.unpack_from('<ii', b, 18)
    if w < 256 or abs(h) < 256:
        continue
    stride = (w + 3) & ~3
    rows = [b[off + r * stride: off + r * stride + w] for r in range(abs(h))]
    if h > 0:
        rows.reverse()
    open(os.path.join(dst, name[:-4] + '.raw'), 'wb').write(b''.join(rows))
    print(name[:-4], w, abs(h))
EOF

same=0
total=0
while read -r name w h; do
  bmp="$prints/$name.bmp"
  raw="$tmp/$name.raw"
  a=$("$ours" "$bmp" | cut -f2)
  b=$("$nist/nfiq" -raw "$w,$h,8,500" "$raw" 2>/dev/null | tr -d '[:space:]')
  total=$((total + 1))
  [[ $a == "$b" ]] && same=$((same + 1))
  hyperfine -N --style none --warmup 3 --runs "$runs" --export-json "$tmp/$name.json" \
    "$ours $bmp" "$nist/nfiq -raw $w,$h,8,500 $raw" >/dev/null
done <"$tmp/list"

python3 - "$tmp" <<'EOF'
import json, os, statistics, sys
tmp = sys.argv[1]
rows = []
for f in sorted(os.listdir(tmp)):
    if f.endswith('.json'):
        r = json.load(open(os.path.join(tmp, f)))['results']
        # wall: median of the runs; cpu: mean user + system time of the process
        rows.append((f[:-5], *(x['median'] * 1e3 for x in r),
                     *((x['user'] + x['system']) * 1e3 for x in r)))
print(f"{'print':40s} {'wall ms: ours':>13s} {'NIST':>7s} {'ratio':>6s}   "
      f"{'cpu ms: ours':>12s} {'NIST':>7s} {'ratio':>6s}")
for name, wo, wn, co, cn in rows:
    print(f"{name:40s} {wo:13.2f} {wn:7.2f} {wo / wn:6.3f}   {co:12.2f} {cn:7.2f} {co / cn:6.3f}")
def summary(label, i, j):
    ratios = [r[i] / r[j] for r in rows]
    q = statistics.quantiles(ratios, n=4)
    print(f"{label}: per print ours {statistics.median(r[i] for r in rows):.2f} ms, NIST "
          f"{statistics.median(r[j] for r in rows):.2f} ms (medians); ratio median "
          f"{statistics.median(ratios):.3f}, quartiles {q[0]:.3f} .. {q[2]:.3f}, range "
          f"{min(ratios):.3f} .. {max(ratios):.3f}; all prints together "
          f"{sum(r[i] for r in rows) / sum(r[j] for r in rows):.3f}")
print(f"\nprints {len(rows)}")
summary("wall time", 1, 2)
summary("cpu time ", 3, 4)
EOF
echo "same score as NIST: $same of $total prints"
