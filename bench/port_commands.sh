#!/usr/bin/env bash
# Times `quillet-cli port` of 1,000 patches to a 64 MiB image against two
# baselines in the same run: porting 10 of the same patches, and `quillet-cli
# check` of all 1,000 (at most 3x and 12x); with and without --from. Then the
# peak memory, against the images' size. Needs hyperfine, perl and GNU time.
# Usage: bench/port_commands.sh [path/to/quillet-cli]  (default build/bin/quillet-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/bin/quillet-cli}")
[ -x "$cli" ] || { echo "no quillet-cli at $cli: build it first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first firmware: random code with a quarter of fill in four stretches,
# which every anchor of fill bytes would meet. The second: the first with
# 4 KiB inserted every 8 MiB, so that each patch moves by as much as was
# inserted before it.
perl -e '
  srand(22);
  open(my $a, ">:raw", $ARGV[0]) or die; open(my $b, ">:raw", $ARGV[1]) or die;
  for my $mib (0 .. 63) {
    my $block = ($mib % 16 >= 12) ? ("\xFF" x 1048576) : pack("L*", map { int(rand(4294967296)) } 1 .. 262144);
    print $a $block;
    print $b pack("L*", map { int(rand(4294967296)) } 1 .. 1024) if $mib % 8 == 0 && $mib > 0;
    print $b $block;
  }
' "$work/a.bin" "$work/b.bin"
mkdir "$work/patches" "$work/ten"
# Patch i: two pieces of 4 lines of 4-16 bytes in code, old bytes the first
# firmware's, new ones inverted.
perl -e '
  srand(2026);
  open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
  for my $i (0 .. 999) {
    open(my $p, ">", sprintf("%s/p%04d.vkp", $ARGV[1], $i)) or die;
    print $p ";benchmark patch $i\r\n";
    for my $piece (0 .. 1) {
      my $mib; do { $mib = int(rand(64)) } while ($mib % 16 >= 12);
      my $at = $mib * 1048576 + int(rand(1040000));
      for my $line (0 .. 3) {
        my $length = 4 + int(rand(13));
        seek($f, $at, 0); read($f, my $old, $length);
        my $new = $old ^ ("\xFF" x $length);
        printf $p "%06X: %s %s\r\n", $at, uc(unpack("H*", $old)), uc(unpack("H*", $new));
        $at += $length + int(rand(32));
      }
    }
    close($p) or die;
  }
' "$work/a.bin" "$work/patches"
cp "$work"/patches/p000[0-9].vkp "$work/ten/"

cd "$work"
echo "== porting to a 64 MiB image, the search alone (--dry-run); load: $(uptime)"
hyperfine --warmup 2 --min-runs 15 --export-markdown port.md \
  -n "port 1,000" "'$cli' port --dry-run b.bin patches >/dev/null" \
  -n "port 10" "'$cli' port --dry-run b.bin ten >/dev/null" \
  -n "check 1,000" "'$cli' check --no-filter b.bin patches >/dev/null" \
  -n "port --from 1,000" "'$cli' port --dry-run --from a.bin b.bin patches >/dev/null" \
  -n "port --from 10" "'$cli' port --dry-run --from a.bin b.bin ten >/dev/null"
# Writing is timed apart, against the same search writing nothing: the
# outputs are flushed to the disk before they are renamed into place, which
# costs what the disk makes it cost. A second quillet-cli (OLD_CLI) is timed
# beside it when given.
echo "== the same, writing every ported patch into -o DIR; load: $(uptime)"
old=()
[ -n "${OLD_CLI:-}" ] && old=(-n "previous: port 1,000 -o DIR" "rm -rf o3 && '$(realpath "$OLD_CLI")' port b.bin patches -o o3 >/dev/null")
hyperfine --runs 5 --export-markdown write.md \
  -n "port 1,000 -o DIR" "rm -rf o1 && '$cli' port b.bin patches -o o1 >/dev/null" \
  -n "port 1,000 --dry-run" "'$cli' port --dry-run b.bin patches >/dev/null" \
  "${old[@]}" \
  -n "port 10 -o DIR" "rm -rf o2 && '$cli' port b.bin ten -o o2 >/dev/null"
"$cli" port --dry-run b.bin patches | grep -cE '^(ported|fits)' | sed 's/^/patches ported or fitting: /' || true
"$cli" check --no-filter b.bin o1 | grep -c '^not-installed' | sed 's/^/ported patches that check as not installed: /' || true
/usr/bin/time -f "port's peak memory: %M KiB (the image is 65536 KiB)" \
  "$cli" port --dry-run b.bin patches >/dev/null
/usr/bin/time -f "port --from's peak memory: %M KiB (the images are 131072 KiB)" \
  "$cli" port --dry-run --from a.bin b.bin patches >/dev/null
cat port.md write.md
echo "load: $(uptime)"
