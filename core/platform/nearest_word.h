#pragma once
#include <string_view>
#include <vector>

namespace quillet {

// The word of words that word is a typing slip of, for a "did you mean": at most two edits away
// (a swap of neighbours counting as one, so that "chekc" is as close to "check" as "chek" is),
// fewer than half that word's letters, and the closest such; empty when none is.
[[nodiscard]] std::string_view NearestWord(std::string_view word, const std::vector<std::string_view>& words);

}  // namespace quillet
