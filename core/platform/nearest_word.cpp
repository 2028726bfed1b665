#include "core/platform/nearest_word.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quillet {

namespace {

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string_view NearestWord(std::string_view word, const std::vector<std::string_view>& words) {
  if (word.size() > 64) return {};  // a longer word is no typing slip, and the table grows with it
  std::string_view nearest;
  std::size_t best = 3;
  for (const std::string_view candidate : words) {
    const std::size_t distance = EditDistance(word, candidate);
    if (distance < best && distance * 2 < candidate.size()) {
      best = distance;
      nearest = candidate;
    }
  }
  return nearest;
}

}  // namespace quillet
