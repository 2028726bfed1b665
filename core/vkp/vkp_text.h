#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// The header block of a comparison, original image first, in UTF-8 with CR LF
// line ends: three comment lines per image (path, size, local modification
// time), the name line alone for an image that can't be opened, and an empty
// line after the current image's block.
[[nodiscard]] std::string ComposeComparisonHeader(const std::string& originalPath,
                                                  const std::string& currentPath);

// One data line: "%06lX: " + old bytes + " " + new bytes + CR LF, each byte "%02lX".
void AppendDataLine(std::string& text, std::uint32_t address, const std::uint8_t* oldBytes,
                    const std::uint8_t* newBytes, std::size_t count);

// The text split into lines the way a multi-line edit counts them: at CR LF or
// LF, the break removed, with an empty last line after a final break.
[[nodiscard]] std::vector<std::string> SplitEditLines(std::string_view text);

// The bytes "Записать" writes: every line in Windows-1251, each followed by CR LF.
[[nodiscard]] std::string EncodeSavedLines(const std::vector<std::string>& utf8Lines);

// The bytes "Записать" writes for an unedited comparison, in three pieces so
// that they can be written as the walk finds the lines: the header's bytes,
// then the data lines as the walk hands them over (already in saved form),
// then the line end of the field's empty last line.
[[nodiscard]] std::string EncodeSavedHeader(const std::string& header);
inline constexpr char kSavedTextEnd[] = "\r\n";

// Saves the lines so that a failure leaves an existing file as it was.
// Throws FileError with the path.
void SaveComparisonText(const std::string& path, const std::vector<std::string>& utf8Lines);
// The same for bytes already in saved form.
void SaveBytes(const std::string& path, const std::string& bytes);

}  // namespace quillet
