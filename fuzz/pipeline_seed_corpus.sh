#!/usr/bin/env bash
# Seeds the corpus of pipeline_fuzz: stored zlib units (compressed and raw, of text, zeros and
# random bytes, empty) behind the target's option byte (mode, cipher, buffer flag) and key.
# Layout of a seed: option byte, key length byte, key, payload.
# Usage: fuzz/pipeline_seed_corpus.sh CORPUS_DIR
set -euo pipefail
out=${1:?corpus directory}
mkdir -p "$out"
python3 - "$out" <<'EOF_SEEDS'
import os, random, struct, sys, zlib

out = sys.argv[1]
rng = random.Random(20240601)

def unit(data, level=-1, raw=False):
    """A stored unit: int32 N then the zlib stream of the N bytes, or -N then the raw bytes."""
    if not data:
        return b""
    packed = zlib.compress(data, level)
    if raw or len(packed) >= len(data):
        return struct.pack("<i", -len(data)) + data
    return struct.pack("<i", len(data)) + packed

payloads = [
    b"",
    b"x",
    b"The quick brown fox jumps over the lazy dog. " * 40,
    bytes(5000),
    bytes(rng.randrange(256) for _ in range(300)),
    bytes(range(256)) * 20,
    b"0123456789abcdef" * 300,
]
units = []
for data in payloads:
    for level in (9, 1, 6):
        units.append(unit(data, level))
    units.append(unit(data, raw=True))
units.append(struct.pack("<i", 70000) + zlib.compress(bytes(70000), 9))  # more than one buffer

keys = [b"secret", b"", b"k" * 56, bytes(range(1, 33))]
n = 0
for i, payload in enumerate(units):
    cipher = i % 4            # 3: the zlib decoder only
    mode = i % 8              # 5-7: not modes
    buffer_op = (i // 8) % 2
    key = keys[i % len(keys)]
    options = mode | cipher << 3 | buffer_op << 5
    n += 1
    with open(os.path.join(out, "seed_unit_%d" % n), "wb") as f:
        f.write(bytes([options, len(key)]) + key + payload)
print("%d seeds in %s" % (n, out))
EOF_SEEDS
