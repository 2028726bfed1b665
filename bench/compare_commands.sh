#!/usr/bin/env bash
# Times `quillet-cli diff` against cmp on two generated 64 MiB images: an
# identical pair (against `cmp -s`) and a pair with 2,000 scattered runs of
# 1-20 changed bytes (against `cmp -l | wc -l`). Needs hyperfine and perl.
# Usage: bench/compare_commands.sh [path/to/quillet-cli]  (default build/bin/quillet-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/bin/quillet-cli}")
[ -x "$cli" ] || { echo "no quillet-cli at $cli: build it first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head -c $((64 << 20)) /dev/urandom >"$work/original.bin"
cp "$work/original.bin" "$work/same.bin"
cp "$work/original.bin" "$work/scattered.bin"
# 2,000 runs of 1-20 bytes, each byte inverted, at reproducible offsets.
perl -e '
  srand(2024);
  open(my $f, "+<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
  my $size = -s $f;
  for (1 .. 2000) {
    my $at = int(rand($size - 20));
    my $length = 1 + int(rand(20));
    seek($f, $at, 0); read($f, my $bytes, $length);
    seek($f, $at, 0); print $f ($bytes ^ ("\xFF" x $length));
  }
  close($f) or die;
' "$work/scattered.bin"

cd "$work"
echo "== identical 64 MiB images"
hyperfine --warmup 3 --min-runs 20 --export-markdown identical.md \
  -n "quillet-cli diff" "'$cli' diff --no-filter original.bin same.bin >out.vkp" \
  -n "cmp -s" "cmp -s original.bin same.bin"
echo "== 2,000 scattered runs of 1-20 changed bytes"
hyperfine --warmup 3 --min-runs 20 --export-markdown scattered.md \
  -n "quillet-cli diff" "'$cli' diff --no-filter original.bin scattered.bin >out.vkp" \
  -n "cmp -l | wc -l" "cmp -l original.bin scattered.bin | wc -l"
echo "lines in the scattered comparison: $(($(grep -c ': ' out.vkp)))"
cat identical.md scattered.md
