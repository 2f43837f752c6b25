#!/usr/bin/env bash
# Converts a mailbox of 10,000 messages of 30 KB each, ".tmp" to ".imap" and
# back, with mailbox_tool under Wine, against cp of the same files; all in
# one run, caches warm. Prints ours, baseline and ratio each way. Wine reads
# a whole folder to look up each new name, so every file created in a large
# folder costs far more than under Linux or Windows: a second line compares
# against Wine's own "copy" of the same files into a new folder.
#   bench/bench_mailbox_convert.sh [path/to/mailbox_tool.exe]
# (build it first: cmake --build --preset windows64 --target mailbox_tool)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_bench.sh" bench_mailbox_convert tests/core/messages/mailbox_tool.exe \
  mailbox_tool "$@"

# Text lines with a dot line now and then, stuffed, each file 30 KB.
/usr/bin/python3 - "$work/box" <<'PY'
import os, random, sys
rng = random.Random(3)
os.makedirs(sys.argv[1])
words = [bytes(rng.choice(b"abcdefghij") for _ in range(rng.randint(2, 9))) for _ in range(500)]
for i in range(10000):
    lines, size = [b"Subject: message %d" % i, b""], 0
    while size < 30 * 1024 - 80:
        line = b"." if rng.random() < 0.02 else b" ".join(rng.choice(words) for _ in range(rng.randint(1, 12)))
        lines.append(line)
        size += len(line) + 2
    text = b"\r\n".join(lines).replace(b"\r\n.", b"\r\n..") + b"\r\n.\r\n"
    with open(os.path.join(sys.argv[1], "m%05d.tmp" % i), "wb") as f:
        f.write(text)
PY

wine_copy() { (vm_wine_env "$bits" && "$WINELOADER" cmd /c copy "$(win "$1")" "$(win "$2")\\" >/dev/null 2>&1); }
cat "$work"/box/*.tmp >/dev/null

t0=$(now)
"$here/scripts/wine-run.sh" "$tool" "$(win "$work/box")" to-imap >/dev/null
t1=$(now)
mkdir "$work/copy1" && cp "$work"/box/*.tmp "$work/copy1/"
t2=$(now)
mkdir "$work/sources" && mv "$work"/box/*.tmp "$work/sources/"
t3=$(now)
"$here/scripts/wine-run.sh" "$tool" "$(win "$work/box")" from-imap >/dev/null
t4=$(now)
mkdir "$work/copy2" && cp "$work"/box/inbox/*.imap "$work/copy2/"
t5=$(now)
mkdir "$work/copy3" "$work/copy4"
wine_copy "$work/sources/*.tmp" "$work/copy3"
t6=$(now)
wine_copy "$work/box/inbox/*.imap" "$work/copy4"
t7=$(now)

to_ours=$(seconds "$t0" "$t1") to_base=$(seconds "$t1" "$t2")
from_ours=$(seconds "$t3" "$t4") from_base=$(seconds "$t4" "$t5")
echo "bench_mailbox_convert to-imap ours=${to_ours}s baseline=${to_base}s ratio=$(ratio "$to_ours" "$to_base")"
echo "bench_mailbox_convert from-imap ours=${from_ours}s baseline=${from_base}s ratio=$(ratio "$from_ours" "$from_base")"
wine_to=$(seconds "$t5" "$t6") wine_from=$(seconds "$t6" "$t7")
echo "bench_mailbox_convert against Wine's copy: to-imap ratio=$(ratio "$to_ours" "$wine_to") (${wine_to}s)," \
  "from-imap ratio=$(ratio "$from_ours" "$wine_from") (${wine_from}s)"
diff -r "$work/sources" "$work/box" -x inbox >/dev/null && echo "bench_mailbox_convert round trip equal" ||
  { echo "bench_mailbox_convert round trip DIFFERS"; exit 1; }
