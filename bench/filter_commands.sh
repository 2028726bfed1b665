#!/usr/bin/env bash
# Times `quillet-cli check` of check_bench's 1,000 patches against its 64 MiB
# image with a 10,000-range address filter against the same check without a
# filter. Needs hyperfine and python3.
# Usage: bench/filter_commands.sh [path/to/quillet-cli [path/to/check_bench]]
#        (defaults build/bin/quillet-cli and build/bench/check_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/bin/quillet-cli}")
bench=$(realpath "${2:-build/bench/check_bench}")
[ -x "$cli" ] || { echo "no quillet-cli at $cli: build it first" >&2; exit 1; }
[ -x "$bench" ] || { echo "no check_bench at $bench: build it first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --data-dir="$work" --benchmark_filter=none >/dev/null
# 10,000 ranges of 1-64 bytes at random 64-aligned starts across the image.
python3 - "$work/f10k.INI" <<'PY'
import random, sys
random.seed(2024)
with open(sys.argv[1], "w", newline="\r\n") as f:
    f.write("[Address Filter]\n")
    for i in range(10000):
        start = random.randrange(0, 64 << 20, 64)
        f.write(f"{i}={start:06X} {start + random.randrange(64):06X}\n")
PY

cd "$work"
echo "== check of 1,000 patches against a 64 MiB image, 10,000 filter ranges against none; load: $(uptime)"
hyperfine -N --warmup 3 --min-runs 40 --export-markdown filter.md \
  -n "check, no filter" "'$cli' check --no-filter current.bin patches" \
  -n "check, 10,000 ranges" "'$cli' check --filter-ini f10k.INI current.bin patches"
cat filter.md
echo "load: $(uptime)"
