#!/usr/bin/env bash
# Seeds the corpus of db_open_fuzz: whole database files made by `zqdb create` from a few schemas
# (plain, each cipher and mode, compressed, both, blobs of every kind, indexes, empty tables).
# Encrypted files use the password "secret", the one the fuzz target opens with.
# Usage: fuzz/db_open_seed_corpus.sh CORPUS_DIR
# zqdb is taken from $ZQDB, else from the fuzz build (built there when missing).
set -euo pipefail
out=${1:?corpus directory}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
zqdb=${ZQDB:-}
if [ -z "$zqdb" ]; then
  build=${ZQ_FUZZ_BUILD:-$root/build-fuzz}
  zqdb=$build/tools/zqdb
  if [ ! -x "$zqdb" ]; then cmake --build "$build" --target zqdb -j "${ZQ_JOBS:-2}" >/dev/null; fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A table of every scalar type with a primary and a descending case-insensitive index.
people_table='{"name": "People",
  "fields": [{"name": "Id", "type": "ftAutoInc"}, {"name": "Name", "type": "ftString", "size": 24},
             {"name": "Code", "type": "ftFixedChar", "size": 4}, {"name": "Small", "type": "ftSmallint"},
             {"name": "Qty", "type": "ftInteger"}, {"name": "W", "type": "ftWord"},
             {"name": "Flag", "type": "ftBoolean"}, {"name": "Price", "type": "ftFloat"},
             {"name": "Cost", "type": "ftCurrency"}, {"name": "Born", "type": "ftDate"},
             {"name": "At", "type": "ftTime"}, {"name": "Stamp", "type": "ftDateTime"},
             {"name": "Big", "type": "ftLargeint"}],
  "indexes": [{"name": "PK", "fields": ["Id"], "options": ["primary"]},
              {"name": "ByName", "fields": ["Name", "Qty"], "options": ["descending", "caseinsensitive"]},
              {"name": "ByCode", "fields": ["Code"], "options": ["unique"]}],
  "records": [
    {"Id": 0, "Name": "Smith", "Code": "AB", "Small": -5, "Qty": 7, "W": 65535, "Flag": true,
     "Price": 1.5, "Cost": -2.25, "Born": "1999-12-31", "At": "23:59:59.999",
     "Stamp": "2000-02-29T12:00:00.000", "Big": -9000000000},
    {"Id": 0, "Name": "\u00e9t\u00e9", "Code": "CD", "Small": 32767, "Qty": -2147483648, "W": 0,
     "Flag": false, "Price": 1e300, "Cost": 0, "Born": "0001-01-01", "At": "00:00:00.000",
     "Stamp": "9999-12-31T23:59:59.999", "Big": 9223372036854775807},
    {"Id": 0, "Name": "", "Code": "", "Small": 0, "Qty": 0, "W": 1, "Flag": true,
     "Price": -0.5, "Cost": 3.5, "Born": "2024-06-15", "At": "12:30:00.000",
     "Stamp": "2024-06-15T08:00:00.000", "Big": 0}]}'

# Blobs of every kind: given, empty, left out (no area), long enough for several blocks.
long_text=$(printf 'line %04d of a long memo\\n' $(seq 1 150) | tr -d '\n')
blob_b64=$(head -c 3000 /dev/zero | tr '\0' 'Z' | base64 -w0)
docs_table='{"name": "Docs",
  "fields": [{"name": "Id", "type": "ftInteger"}, {"name": "Memo", "type": "ftMemo"},
             {"name": "Fmt", "type": "ftFmtMemo"}, {"name": "Data", "type": "ftBlob"},
             {"name": "Pic", "type": "ftGraphic", "store_raw": true}, {"name": "Ole", "type": "ftParadoxOle"},
             {"name": "Typed", "type": "ftTypedBinary"}],
  "indexes": [{"name": "PK", "fields": ["Id"], "options": ["primary"]}],
  "records": [
    {"Id": 1, "Memo": "short", "Fmt": "", "Data": {"base64": "AAECAwQ="}, "Pic": {"base64": ""}},
    {"Id": 2, "Memo": "'"$long_text"'", "Data": {"base64": "'"$blob_b64"'"},
     "Ole": {"base64": "/////w=="}, "Typed": {"base64": "SGVsbG8="}},
    {"Id": 3}]}'

empty_table='{"name": "Empty", "fields": [{"name": "A", "type": "ftString", "size": 1}]}'

n=0
make_seed() {  # header-json tables-json
  n=$((n + 1))
  printf '{"version": "2.0", %s "tables": [%s]}\n' "$1" "$2" > "$work/schema_$n.json"
  rm -f "$work/db_$n"
  "$zqdb" create "$work/db_$n" "$work/schema_$n.json" >/dev/null
  cp "$work/db_$n" "$out/seed_db_$n"
}

make_seed '' "$people_table, $docs_table, $empty_table"
make_seed '"compression": "ZLIB",' "$people_table, $docs_table"
make_seed '"check_blob_writes": true,' "$docs_table"
make_seed '' "$empty_table"
make_seed '' ""
mode=0
for algorithm in Blowfish Twofish Gost; do
  for m in 0 1 2 3 4; do
    if (( (m + mode) % 3 == 0 )) || [ "$m" = 1 ]; then
      make_seed "\"encryption\": {\"algorithm\": \"$algorithm\", \"mode\": $m, \"password\": \"secret\"}," \
        "$people_table, $docs_table"
    fi
  done
  mode=$((mode + 1))
done
make_seed '"compression": "ZLIB", "encryption": {"algorithm": "Twofish", "mode": 1, "password": "secret"},' \
  "$docs_table, $people_table"
# A file encrypted with another password: the target must stop at "Access denied".
make_seed '"encryption": {"algorithm": "Gost", "mode": 2, "password": "other"},' "$people_table"
echo "$n seeds in $out"
