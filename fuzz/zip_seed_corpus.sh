#!/usr/bin/env bash
# Seeds the archive fuzz targets' corpus with small valid archives the project and the host's
# tools make: deflated, stored, encrypted, empty, with a comment, with data in front, with data
# descriptors, Zip64, hostile names and a truncated one.
# Usage: fuzz/zip_seed_corpus.sh ZQPKG CORPUS_DIR
set -euo pipefail
zqpkg=$(realpath "$1")
corpus=$(realpath -m "$2")
mkdir -p "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/sub" "$work/src/empty"
printf 'alpha\n' >"$work/src/a.txt"
seq 1 300 >"$work/src/sub/b.txt"
: >"$work/src/sub/zero.txt"
"$zqpkg" create "$corpus/plain.zip" "$work/src"
"$zqpkg" create --store "$corpus/stored.zip" "$work/src"
"$zqpkg" create --password pw "$corpus/encrypted.zip" "$work/src"
printf 'PK\005\006\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' >"$corpus/empty.zip"
{ head -c 300 /dev/zero | tr '\0' 'X'; cat "$corpus/plain.zip"; } >"$corpus/prefixed.zip"
head -c 120 "$corpus/plain.zip" >"$corpus/truncated.zip"
if command -v zip >/dev/null; then
  (cd "$work/src" && zip -q -r "$corpus/infozip.zip" . && echo comment | zip -q -z "$corpus/infozip.zip")
  (cd "$work/src" && printf 'streamed\n' | zip -q "$corpus/streamed.zip" -)
fi
if command -v python3 >/dev/null; then
  (cd "$corpus" && python3 - <<'PY'
import zipfile
with zipfile.ZipFile('zip64.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('big.txt', 'w', force_zip64=True) as f:
        f.write(b'zip64 ' * 100)
with zipfile.ZipFile('hostile.zip', 'w') as z:
    for n in ('../up.txt', '/abs.txt', 'C:\\drive.txt', 'ok/../../x.txt', 'fine.txt'):
        z.writestr(n, 'x')
with zipfile.ZipFile('methods.zip', 'w') as z:
    z.writestr(zipfile.ZipInfo('bz'), b'b' * 50, compress_type=zipfile.ZIP_BZIP2)
    z.writestr(zipfile.ZipInfo('lz'), b'l' * 50, compress_type=zipfile.ZIP_LZMA)
PY
  )
fi
ls "$corpus" | wc -l
