#!/usr/bin/env bash
# Times `quillet-cli apply` of 1,000 patches into a 64 MiB image as a new file
# against its baseline, copying the image and checking the same patches
# (`cp` + `quillet-cli check`), and gives apply's peak memory. Needs hyperfine,
# perl and GNU time.
# Usage: bench/install_commands.sh [path/to/quillet-cli]  (default build/bin/quillet-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/bin/quillet-cli}")
[ -x "$cli" ] || { echo "no quillet-cli at $cli: build it first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head -c $((64 << 20)) /dev/urandom >"$work/image.bin"
mkdir "$work/patches"
# Patch i: 8 lines of 1-16 bytes inside its own 64 KiB, old bytes the image's,
# new ones inverted, so that every patch applies cleanly and none collide.
perl -e '
  srand(2024);
  open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
  for my $i (0 .. 999) {
    open(my $p, ">", sprintf("%s/p%04d.vkp", $ARGV[1], $i)) or die;
    print $p ";benchmark patch $i\r\n";
    for my $line (0 .. 7) {
      my $at = $i * 65536 + $line * 8192 + int(rand(8000));
      my $length = 1 + int(rand(16));
      seek($f, $at, 0); read($f, my $old, $length);
      my $new = $old ^ ("\xFF" x $length);
      printf $p "%06X: %s %s\r\n", $at, uc(unpack("H*", $old)), uc(unpack("H*", $new));
    }
    close($p) or die;
  }
' "$work/image.bin" "$work/patches"

cd "$work"
echo "== 1,000 patches into a 64 MiB image, as a new file; load: $(uptime)"
hyperfine --warmup 2 --min-runs 15 --export-markdown install.md \
  -n "quillet-cli apply -o" "'$cli' apply --no-filter image.bin patches -o out.bin >/dev/null" \
  -n "cp + quillet-cli check" "cp image.bin copy.bin && '$cli' check --no-filter image.bin patches >/dev/null"
"$cli" check --no-filter out.bin patches | grep -vc '^installed' | sed 's/^/patches not installed in the result: /' || true
/usr/bin/time -f "apply's peak memory: %M KiB (the image is 65536 KiB)" \
  "$cli" apply --no-filter image.bin patches -o out.bin >/dev/null
cat install.md
echo "load: $(uptime)"
