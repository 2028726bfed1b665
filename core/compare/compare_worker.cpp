#include "core/compare/compare_worker.h"

#include <algorithm>
#include <future>
#include <new>
#include <optional>
#include <system_error>

#include "core/compare/compare_images.h"
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
// buffers are gone by the time it returns, whatever the path.
std::optional<std::string> ReadAndWalk(const quillet::CompareJob& job, const quillet::CompareFilesHooks& hooks) {
  const std::string& originalPath = job.originalPath;
  const std::string& currentPath = job.currentPath;
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
  // A caller that has ended the run on a stop takes no more notifications.
  if (hooks.stopRequested()) return std::nullopt;
  hooks.started(length);

  quillet::FilterCursor filter(job.filter);
  auto filtered = [&filter](std::uint32_t address) { return filter.IsFiltered(address); };
  (void)quillet::CompareImages(original.data.data(), current.data.data(), length,
                               quillet::CompareHooks{hooks.stopRequested, filtered, hooks.progress, hooks.lines});
  return std::nullopt;
}

}  // namespace

namespace quillet {

CompareOutcome CompareFlashFiles(const CompareJob& job, const CompareFilesHooks& hooks) {
  try {
    if (std::optional<std::string> error = ReadAndWalk(job, hooks)) return {std::move(*error)};
  } catch (const std::bad_alloc&) {
    return {text::kOutOfMemory};
  }
  return {};
}

}  // namespace quillet

unsigned CompareThreadProc(ICompareWindow* window, const quillet::CompareJob& job) {
  auto stop = [window] { return window->StopRequested(); };
  auto start = [window](std::uint32_t length) { window->SendDiffStart(length); };
  auto progress = [window](std::uint32_t position) { window->PostDiffProgress(position); };
  auto append = [window](std::string_view lines) { return window->AppendText(lines); };
  const quillet::CompareOutcome outcome = quillet::CompareFlashFiles(job, {stop, start, progress, append});
  if (!outcome.ok()) window->ShowErrorBox(outcome.error);
  if (!window->StopRequested()) window->SendDiffDone();
  return 0;
}
