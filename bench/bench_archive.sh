#!/usr/bin/env bash
# Packs a generated 1 GB tree of 2,000 mixed files (text, random bytes,
# already compressed data, zeros) into a compressed archive with ilds_tool
# under Wine, against "tar cf - tree | gzip -6"; then restores it, against
# "tar xzf" of that output. Both in one run, caches warm for both sides.
# Prints ours, baseline and ratio for each, and both archive sizes.
# Targets: pack ratio 1.3, restore ratio 2.0, sizes within 2 %.
#   bench/bench_archive.sh [path/to/ilds_tool.exe]
# (build it first: cmake --build --preset windows64 --target ilds_tool)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_bench.sh" bench_archive tests/core/archive/ilds_tool.exe ilds_tool "$@"

/usr/bin/python3 - "$work/tree" <<'EOF'
import os, random, sys, zlib
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
text = b" ".join(rng.choice(words) + (b"\r\n" if rng.random() < 0.1 else b"") for _ in range(800000))
packed = zlib.compress(text * 2, 9)  # already compressed data
noise = os.urandom(16 << 20)
total, files = 1 << 30, 2000
sizes = [rng.randint(1, 1000) for _ in range(files)]
scale = total / sum(sizes)
for i, weight in enumerate(sizes):
    size = int(weight * scale)
    kind = i % 4
    pool = (text, noise, packed, None)[kind]
    folder = os.path.join(sys.argv[1], "d%02d" % (i % 40), "s%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%04d.%s" % (i, ("txt", "bin", "z", "dat")[kind])), "wb") as f:
        if pool is None:
            f.write(bytes(size))
            continue
        while size > 0:
            start = rng.randrange(0, len(pool) - 1)
            chunk = pool[start:start + size]
            f.write(chunk)
            size -= len(chunk)
EOF

t0=$(now)
"$here/scripts/wine-run.sh" "$tool" pack "$(win "$work/ours.ilds")" "$(win "$work/tree")" >/dev/null
t1=$(now)
tar cf - -C "$work" tree | gzip -6 >"$work/base.tar.gz"
t2=$(now)
"$here/scripts/wine-run.sh" "$tool" unpack "$(win "$work/ours.ilds")" "$(win "$work/out-ours")" >/dev/null
t3=$(now)
mkdir "$work/out-base" && tar xzf "$work/base.tar.gz" -C "$work/out-base"
t4=$(now)

pack_ours=$(seconds "$t0" "$t1") pack_base=$(seconds "$t1" "$t2")
restore_ours=$(seconds "$t2" "$t3") restore_base=$(seconds "$t3" "$t4")
size_ours=$(stat -c %s "$work/ours.ilds") size_base=$(stat -c %s "$work/base.tar.gz")
echo "bench_archive pack ours=${pack_ours}s baseline=${pack_base}s ratio=$(ratio "$pack_ours" "$pack_base") (target 1.3)"
echo "bench_archive restore ours=${restore_ours}s baseline=${restore_base}s ratio=$(ratio "$restore_ours" "$restore_base") (target 2.0)"
echo "bench_archive size ours=${size_ours} baseline=${size_base} ratio=$(echo "scale=4; $size_ours / $size_base" | bc)"
diff -r "$work/tree" "$work/out-ours/" >/dev/null && echo "bench_archive restored tree equal" || { echo "bench_archive restored tree DIFFERS"; exit 1; }
