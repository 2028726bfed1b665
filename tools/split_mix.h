#pragma once
#include <cstdint>

namespace quillet {

// A small deterministic generator (SplitMix64): the demo data, the benchmarks
// and the randomised tests must come out the same on every machine, so that a
// failure can be replayed from its seed.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform enough below n; 0 when n is 0.
  std::uint32_t below(std::uint32_t n) { return n ? static_cast<std::uint32_t>(next() % n) : 0; }

  // True in about percent out of a hundred calls.
  bool chance(std::uint32_t percent) { return below(100) < percent; }

 private:
  std::uint64_t m_state;
};

}  // namespace quillet
