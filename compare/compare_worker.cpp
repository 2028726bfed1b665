#include "compare/compare_worker.h"

#include <algorithm>
#include <new>
#include <optional>

#include "compare/compare_images.h"
#include "filter/address_filter.h"
#include "platform/file_io.h"
#include "res/strings.h"

namespace {

using quillet::ImageRead;
using quillet::ImageReadStatus;

std::string QuotedPathError(const char* prefix, const std::string& path) { return prefix + path + "'"; }

// The image, or the text of why it can't be compared.
std::optional<std::string> ReadImage(const std::string& path, ImageRead& image) {
  image = quillet::ReadImageFile(path);
  switch (image.status) {
    case ImageReadStatus::ok:
      return std::nullopt;
    case ImageReadStatus::openFailed:
      return QuotedPathError(quillet::text::kOpenErrorPrefix, path);
    case ImageReadStatus::readShort:
      return QuotedPathError(quillet::text::kReadErrorPrefix, path);
    case ImageReadStatus::tooLarge:
      return QuotedPathError(quillet::text::kTooLargePrefix, path);
  }
  return QuotedPathError(quillet::text::kReadErrorPrefix, path);
}

// Reads both images and walks them. The text of a failure, if any; both
// buffers are gone by the time it returns, whatever the path.
std::optional<std::string> ReadAndWalk(ICompareWindow& window) {
  ImageRead original;
  if (auto error = ReadImage(window.OriginalFlashPath(), original)) return error;
  // A stop during the first read spares the user the second one.
  if (window.StopRequested()) return std::nullopt;
  ImageRead current;
  if (auto error = ReadImage(window.CurrentFlashPath(), current)) return error;

  const auto length =
      static_cast<std::uint32_t>(std::min(original.data.size(), current.data.size()));
  // A window that has ended the run on a stop takes no more notifications.
  if (window.StopRequested()) return std::nullopt;
  window.SendDiffStart(length);

  auto stop = [&window] { return window.StopRequested(); };
  auto filtered = [](std::uint32_t address) { return IsAddressFiltered(address); };
  auto progress = [&window](std::uint32_t position) { window.PostDiffProgress(position); };
  auto append = [&window](std::string_view lines) { return window.AppendText(lines); };
  (void)quillet::CompareImages(original.data.data(), current.data.data(), length,
                               quillet::CompareHooks{stop, filtered, progress, append});
  return std::nullopt;
}

}  // namespace

unsigned CompareThreadProc(ICompareWindow* window) {
  std::optional<std::string> error;
  try {
    error = ReadAndWalk(*window);
  } catch (const std::bad_alloc&) {
    error = quillet::text::kOutOfMemory;
  }
  if (error) window->ShowErrorBox(*error);
  if (!window->StopRequested()) window->SendDiffDone();
  return 0;
}
