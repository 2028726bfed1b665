#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// How quillet-cli writes names and texts it did not make itself, so that no
// file name or file content can forge a line, a record or a JSON value.

namespace quillet::cli {

// The one rule for every text line on stdout and stderr: a backslash, the
// C0 controls, DEL, the C1 controls (U+0080-U+009F), U+2028 and U+2029, and
// every byte that is not part of valid UTF-8 are written escaped (\\, \n, \t,
// else \xHH for each byte), so one line read back is always one line written
// and nothing reaches a terminal as a control. Anything else, Cyrillic
// included, stays as it is.
[[nodiscard]] std::string EscapedText(std::string_view bytes);

// A JSON string that every strict reader accepts: quotes and backslashes
// escaped, the controls and U+2028/U+2029 as \uXXXX, and each byte that is not
// valid UTF-8 replaced by U+FFFD.
[[nodiscard]] std::string JsonString(std::string_view text);

// "\"path\":" and the path as JSON; for a path that is not valid UTF-8 also
// ",\"pathBytes\":" with its exact bytes in lowercase hexadecimal, which the
// U+FFFD of the readable form can't give back.
[[nodiscard]] std::string JsonPathFields(std::string_view path);

// "quillet-cli: " and the message, escaped, as one line on stderr.
void PrintError(std::string_view message);

// "1 range", "2 ranges".
[[nodiscard]] std::string RangeCount(std::size_t count);
// "1 byte", "2 bytes".
[[nodiscard]] std::string ByteCount(std::uint64_t count);

}  // namespace quillet::cli
