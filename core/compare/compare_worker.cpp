#include "core/compare/compare_worker.h"

#include <algorithm>
#include <future>
#include <new>
#include <optional>
#include <system_error>

#include "core/compare/compare_images.h"
#include "core/filter/address_filter.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace {

using quillet::ImageRead;
using quillet::ImageReadStatus;

std::string QuotedPathError(const char* prefix, const std::string& path) { return prefix + path + "'"; }

// Why an image can't be compared, if it can't.
std::optional<std::string> Classify(const std::string& path, ImageReadStatus status) {
  switch (status) {
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

std::optional<std::string> ReadImage(const std::string& path, ImageRead& image) {
  image = quillet::ReadImageFile(path);
  return Classify(path, image.status);
}

// Reads the current image on a second thread while this one reads the
// original: the two reads are most of a comparison's time. Nothing when no
// thread can be had; the caller then reads it itself.
std::optional<std::future<ImageRead>> StartReadingCurrent(const std::string& path) {
  try {
    return std::async(std::launch::async, [&path] { return quillet::ReadImageFile(path); });
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

// Reads both images and walks them. The text of a failure, if any; both
// buffers are gone by the time it returns, whatever the path. Errors keep the
// order of the sequential reads: the original's first, and the current image
// is not touched when the original can't be opened or is too large.
std::optional<std::string> ReadAndWalk(ICompareWindow& window) {
  const std::string& originalPath = window.OriginalFlashPath();
  const std::string& currentPath = window.CurrentFlashPath();
  const std::optional<quillet::FileInfo> probe = quillet::ProbeFile(originalPath);
  if (!probe) return Classify(originalPath, ImageReadStatus::openFailed);
  if (probe->size >= quillet::kMaxImageSize) return Classify(originalPath, ImageReadStatus::tooLarge);

  // The future's destructor waits for the read, on every path out of here.
  std::optional<std::future<ImageRead>> currentRead = StartReadingCurrent(currentPath);
  ImageRead original;
  ImageRead current;
  if (auto error = ReadImage(originalPath, original)) return error;
  if (currentRead) {
    current = currentRead->get();
    if (auto currentError = Classify(currentPath, current.status)) return currentError;
  } else if (auto currentError = ReadImage(currentPath, current)) {
    return currentError;
  }

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
