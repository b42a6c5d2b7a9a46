#!/usr/bin/env bash
# Extraction side by side: zqpkg extract and Info-ZIP unzip on the same archives (a large deflated
# archive of mixed files, the same archive encrypted, an archive of many small files), each run
# a few times; prints the best wall time of each, their ratio and the peak memory (maximum
# resident set size from /usr/bin/time -v).
#
# Usage: bench/zip_extract_bench.sh [ZQPKG] [SIZE_MB] [SMALL_FILES] [RUNS]
#   ZQPKG        the zqpkg binary (default: build/tools/zqpkg)
#   SIZE_MB      size of the mixed archive's content in MiB (default 256)
#   SMALL_FILES  number of files in the many-small-files archive (default 20000)
#   RUNS         runs per tool and archive; the best wall time counts (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."

zqpkg=${1:-build/tools/zqpkg}
size_mb=${2:-256}
small=${3:-20000}
runs=${4:-3}
for tool in "$zqpkg" unzip zip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
zqpkg=$(realpath "$zqpkg")

work=$(mktemp -d "${TMPDIR:-/tmp}/zqbench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "preparing ${size_mb} MiB of mixed files and ${small} small files in $work" >&2
python3 - "$work/mixed" "$size_mb" "$work/small" "$small" <<'PY'
import os, random, sys
mixed, size_mb, small, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
rnd = random.Random(20130115)
os.makedirs(mixed)
words = [bytes(rnd.choice(b'abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10))) for _ in range(5000)]
budget, i = size_mb << 20, 0
while budget > 0:
    kind = i % 4
    n = min(budget, rnd.choice([64 << 10, 1 << 20, 8 << 20]))
    if kind == 0:    # text: compresses about 3:1
        out, total = [], 0
        while total < n:
            w = rnd.choice(words) + (b'\n' if rnd.random() < 0.1 else b' ')
            out.append(w)
            total += len(w)
        data = b''.join(out)[:n]
    elif kind == 1:  # already compressed: random bytes
        data = rnd.randbytes(n)
    elif kind == 2:  # structured records
        data = b''.join(b'%08d;%s;%d\n' % (k, rnd.choice(words), rnd.randint(0, 10**6)) for k in range(n // 24))[:n]
    else:            # sparse: long runs of zeros
        data = bytearray(n)
        for _ in range(n // 4096):
            data[rnd.randrange(n)] = rnd.randrange(256)
        data = bytes(data)
    sub = os.path.join(mixed, 'd%02d' % (i % 17))
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, 'f%05d.bin' % i), 'wb') as f:
        f.write(data)
    budget -= n
    i += 1
os.makedirs(small)
for k in range(count):
    sub = os.path.join(small, 's%03d' % (k % 200))
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, 'n%06d.txt' % k), 'wb') as f:
        f.write(b''.join(rnd.choice(words) + b' ' for _ in range(rnd.randint(5, 300))))
PY

# Archives written by Info-ZIP, so neither side reads its own writer's output.
(cd "$work/mixed" && zip -q -r -6 "$work/mixed.zip" .)
(cd "$work/mixed" && zip -q -r -6 -P bench-password "$work/mixed-enc.zip" .)
(cd "$work/small" && zip -q -r -6 "$work/small.zip" .)
rm -rf "$work/mixed" "$work/small"

# measure TOOL ARCHIVE -> "seconds kilobytes" (best wall time of RUNS, peak RSS of that run)
measure() {
  local tool=$1 archive=$2 best="" best_rss=""
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out"
    local log="$work/time.log"
    case "$tool" in
      zqpkg) /usr/bin/time -v -o "$log" "$zqpkg" extract --password bench-password "$archive" "$work/out" >/dev/null ;;
      unzip) /usr/bin/time -v -o "$log" unzip -q -o -P bench-password "$archive" -d "$work/out" >/dev/null ;;
    esac
    local wall rss
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$log")
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    if [ -z "$best" ] || awk "BEGIN {exit !($wall < $best)}"; then best=$wall; best_rss=$rss; fi
  done
  echo "$best $best_rss"
}

printf '%-16s %10s %10s %8s %12s %12s\n' archive zqpkg_s unzip_s ratio zqpkg_MiB unzip_MiB
for name in mixed mixed-enc small; do
  archive="$work/$name.zip"
  read -r zs zr < <(measure zqpkg "$archive")
  read -r us ur < <(measure unzip "$archive")
  # the two outputs must agree
  rm -rf "$work/a" "$work/b"
  "$zqpkg" extract --password bench-password "$archive" "$work/a" >/dev/null
  unzip -q -o -P bench-password "$archive" -d "$work/b" >/dev/null
  diff -r -q "$work/a" "$work/b" >/dev/null || { echo "outputs differ for $name" >&2; exit 1; }
  rm -rf "$work/a" "$work/b"
  printf '%-16s %10.2f %10.2f %8.2f %12.1f %12.1f\n' "$name.zip" "$zs" "$us" \
    "$(awk "BEGIN {print $zs / ($us > 0 ? $us : 0.01)}")" "$(awk "BEGIN {print $zr / 1024}")" "$(awk "BEGIN {print $ur / 1024}")"
done
