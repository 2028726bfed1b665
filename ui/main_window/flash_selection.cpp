#include "ui/main_window/flash_selection.h"

#include <optional>
#include <string_view>

#include "core/platform/file_system.h"
#include "core/platform/image_file.h"
#include "core/platform/local_time.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

// The texts hold one "%s" for the value.
std::string Fill(std::string_view format, std::string_view value) {
  const std::size_t at = format.find("%s");
  std::string result(format.substr(0, at));
  result += value;
  result += format.substr(at + 2);
  return result;
}

}  // namespace

FlashTexts NotChosenFlashTexts() { return {text::kNotChosen, text::kSizeNone, text::kDateNone}; }

std::string FlashSizeText(std::uint64_t size) { return Fill(text::kSizeFormat, std::to_string(size)); }

std::string FlashDateText(std::int64_t mtime) { return Fill(text::kDateFormat, FormatLocalTime(mtime)); }

FlashChoice ChooseFlash(const std::string& path) {
  if (path.empty()) return {{}, NotChosenFlashTexts()};
  const std::optional<FileInfo> info = ProbeFile(path);
  if (!info) return {{}, NotChosenFlashTexts()};
  return {path, {FileNameOf(path), FlashSizeText(info->size), FlashDateText(info->mtime)}};
}

}  // namespace quillet
