// The comparison walk against memcmp over the same two 64 MiB images: identical,
// and with 2,000 scattered runs of 1-20 changed bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/compare/compare_images.h"
#include "core/platform/image_file.h"

namespace {

constexpr std::size_t kImageSize = std::size_t{64} << 20;

struct ImagePair {
  quillet::ImageBuffer original{kImageSize};
  quillet::ImageBuffer current{kImageSize};
};

const ImagePair& Pair(bool scattered) {
  static const ImagePair* pairs[2] = {nullptr, nullptr};
  const ImagePair*& pair = pairs[scattered ? 1 : 0];
  if (!pair) {
    auto* made = new ImagePair;
    std::mt19937_64 random(2024);
    for (std::size_t i = 0; i < kImageSize; i += 8) {
      const std::uint64_t word = random();
      std::memcpy(made->original.data() + i, &word, 8);
    }
    std::memcpy(made->current.data(), made->original.data(), kImageSize);
    if (scattered) {
      for (int run = 0; run < 2000; ++run) {
        const std::size_t at = random() % (kImageSize - 20);
        const std::size_t length = 1 + random() % 20;
        for (std::size_t i = at; i < at + length; ++i) made->current.data()[i] ^= 0xA5;
      }
    }
    pair = made;
  }
  return *pair;
}

// The walk with every hook a real run has: stop flag, filter, progress.
void WalkWithHooks(benchmark::State& state) {
  const ImagePair& pair = Pair(state.range(0) != 0);
  std::string text;
  std::uint32_t lastPosition = 0;
  for (auto _ : state) {
    text.clear();
    auto stop = [] { return false; };
    auto filtered = [](std::uint32_t) { return false; };
    auto progress = [&](std::uint32_t position) { lastPosition = position; };
    auto append = [&](std::string_view lines) {
      text.append(lines);
      return true;
    };
    quillet::CompareImages(
        pair.original.data(), pair.current.data(), kImageSize,
        quillet::CompareHooks{
            .stopRequested = stop, .isFiltered = filtered, .progress = progress, .appendLines = append});
    benchmark::DoNotOptimize(lastPosition);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
  state.counters["lines"] = static_cast<double>(std::count(text.begin(), text.end(), '\n'));
}

// memcmp in 64 KiB pieces, so that a difference does not end it early: the
// time to read both images once.
void Memcmp(benchmark::State& state) {
  const ImagePair& pair = Pair(state.range(0) != 0);
  constexpr std::size_t kPiece = 64 << 10;
  for (auto _ : state) {
    int differing = 0;
    for (std::size_t at = 0; at < kImageSize; at += kPiece)
      differing += std::memcmp(pair.original.data() + at, pair.current.data() + at, kPiece) != 0;
    benchmark::DoNotOptimize(differing);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}

}  // namespace

BENCHMARK(WalkWithHooks)->ArgName("scattered")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Memcmp)->ArgName("scattered")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
