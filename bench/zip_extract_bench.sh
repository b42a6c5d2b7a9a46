#!/usr/bin/env bash
# Extraction side by side: zqpkg extract and Info-ZIP unzip on the same archives (a large deflated
# archive of mixed files, the same archive encrypted, an archive of many small files), each run
# a few times; prints the best CPU time (user + system, from /usr/bin/time) of each, their ratio
# and the peak memory (maximum resident set size). CPU time, not wall time: other programs share
# the machine, and what they take shows in the wall time but not in a process's own CPU time.
# A second zqpkg, built with zlib's inflate (-DZQ_USE_ISAL=OFF), is measured beside the first
# when given, so that one run shows both decoders.
#
# Usage: bench/zip_extract_bench.sh [ZQPKG] [SIZE_MB] [SMALL_FILES] [RUNS] [ZQPKG_ZLIB]
#   ZQPKG        the zqpkg binary (default: build/tools/zqpkg)
#   SIZE_MB      size of the mixed archive's content in MiB (default 256)
#   SMALL_FILES  number of files in the many-small-files archive (default 20000)
#   RUNS         runs per tool and archive; the best CPU time counts (default 3)
#   ZQPKG_ZLIB   a zqpkg built with zlib's inflate (optional)
set -euo pipefail
cd "$(dirname "$0")/.."

zqpkg=${1:-build/tools/zqpkg}
size_mb=${2:-256}
small=${3:-20000}
runs=${4:-3}
zqpkg_zlib=${5:-}
for tool in "$zqpkg" unzip zip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
zqpkg=$(realpath "$zqpkg")
if [ -n "$zqpkg_zlib" ]; then zqpkg_zlib=$(realpath "$zqpkg_zlib"); fi

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

# once TOOL ARCHIVE -> "cpu_seconds kilobytes" of one run (user + system time, peak RSS)
once() {
  local tool=$1 archive=$2 log="$work/time.log"
  rm -rf "$work/out"
  case "$tool" in
    zqpkg) /usr/bin/time -f '%U %S %M' -o "$log" "$zqpkg" extract --quiet --password bench-password "$archive" "$work/out" >/dev/null ;;
    zlib) /usr/bin/time -f '%U %S %M' -o "$log" "$zqpkg_zlib" extract --quiet --password bench-password "$archive" "$work/out" >/dev/null ;;
    unzip) /usr/bin/time -f '%U %S %M' -o "$log" unzip -q -o -P bench-password "$archive" -d "$work/out" >/dev/null ;;
  esac
  awk '{print $1 + $2, $3}' "$log"
}

# measure ARCHIVE TOOL... -> one "cpu_seconds kilobytes" line per tool: the best CPU time of RUNS
# and the peak RSS of that run. The tools take turns run by run, so that none of them always meets
# the file system just after a large delete (which costs the next one system time).
measure() {
  local archive=$1
  shift
  local -A best=() rss=()
  for ((r = 0; r < runs; r++)); do
    for tool in "$@"; do
      local cpu kb
      read -r cpu kb < <(once "$tool" "$archive")
      if [ -z "${best[$tool]:-}" ] || awk "BEGIN {exit !($cpu < ${best[$tool]})}"; then
        best[$tool]=$cpu
        rss[$tool]=$kb
      fi
    done
  done
  for tool in "$@"; do echo "${best[$tool]} ${rss[$tool]}"; done
}

ratio() { awk "BEGIN {printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.01)}"; }
mib() { awk "BEGIN {printf \"%.1f\", $1 / 1024}"; }

printf '%-16s %10s %10s %10s %8s %8s %10s %10s %10s\n' archive zqpkg_cpu zlib_cpu unzip_cpu ratio \
  zlib_ratio zqpkg_MiB zlib_MiB unzip_MiB
for name in mixed mixed-enc small; do
  archive="$work/$name.zip"
  ls_=- lr=- lratio=-
  if [ -n "$zqpkg_zlib" ]; then
    { read -r zs zr; read -r ls_ lr; read -r us ur; } < <(measure "$archive" zqpkg zlib unzip)
  else
    { read -r zs zr; read -r us ur; } < <(measure "$archive" zqpkg unzip)
  fi
  # the outputs must agree
  rm -rf "$work/a" "$work/b" "$work/c"
  "$zqpkg" extract --quiet --password bench-password "$archive" "$work/a" >/dev/null
  unzip -q -o -P bench-password "$archive" -d "$work/b" >/dev/null
  diff -r -q "$work/a" "$work/b" >/dev/null || { echo "outputs differ for $name" >&2; exit 1; }
  if [ -n "$zqpkg_zlib" ]; then
    "$zqpkg_zlib" extract --quiet --password bench-password "$archive" "$work/c" >/dev/null
    diff -r -q "$work/a" "$work/c" >/dev/null || { echo "the two decoders differ for $name" >&2; exit 1; }
    lratio=$(ratio "$ls_" "$us")
    lr=$(mib "$lr")
  fi
  rm -rf "$work/a" "$work/b" "$work/c"
  printf '%-16s %10s %10s %10s %8s %8s %10s %10s %10s\n' "$name.zip" "$zs" "$ls_" "$us" \
    "$(ratio "$zs" "$us")" "$lratio" "$(mib "$zr")" "$lr" "$(mib "$ur")"
done
