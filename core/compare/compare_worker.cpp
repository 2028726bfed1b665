#include "core/compare/compare_worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

// What the two reads share: how far each has got, and whether to give up.
struct ReadState {
  std::atomic<std::uint64_t> original{0};
  std::atomic<std::uint64_t> current{0};
  std::atomic<bool> giveUp{false};
};

// Gives the reads up on every way out, before the second read is waited for:
// an image that is no longer needed is not read to its end.
struct GiveUpOnExit {
  std::atomic<bool>& giveUp;
  ~GiveUpOnExit() { giveUp.store(true); }
};

// How often the comparing thread reports while it waits for the second read.
constexpr std::chrono::milliseconds kReadReportInterval{20};

// Reads the current image on a second thread while this one reads the
// original: the two reads are most of a comparison's time. Nothing when no
// thread can be had; the caller then reads it itself.
std::optional<std::future<ImageRead>> StartReadingCurrent(const std::string& path, ReadState& state) {
  try {
    return std::async(std::launch::async, [&path, &state] {
      return quillet::ReadImageFile(path, [&state](std::uint64_t done) {
        state.current.store(done);
        return !state.giveUp.load();
      });
    });
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

  // Both sizes are known before either read: a current image that can't be
  // one must not cost a whole read of the original first. A current image
  // that can't be opened is left to its read, so that a failed read of the
  // original is still told first.
  const std::optional<quillet::FileInfo> currentProbe = quillet::ProbeFile(currentPath);
  if (currentProbe && currentProbe->size >= quillet::kMaxImageSize)
    return Classify(currentPath, ImageReadStatus::tooLarge);
  const std::uint64_t total = probe->size + (currentProbe ? currentProbe->size : 0);
  ReadState state;
  // Reports on this thread only, and tells whether to go on.
  auto report = [&] {
    hooks.reading(state.original.load() + state.current.load(), total);
    if (hooks.stopRequested()) state.giveUp.store(true);
    return !state.giveUp.load();
  };

  // The future's destructor waits for the read, on every path out of here.
  std::optional<std::future<ImageRead>> currentRead = StartReadingCurrent(currentPath, state);
  const GiveUpOnExit giveUpOnExit{state.giveUp};
  const ImageRead original = quillet::ReadImageFile(originalPath, [&](std::uint64_t done) {
    state.original.store(done);
    return report();
  });
  // A stopped run has no failure to tell.
  if (hooks.stopRequested()) return std::nullopt;
  if (auto error = Classify(originalPath, original.status)) return error;
  ImageRead current;
  if (currentRead) {
    while (currentRead->wait_for(kReadReportInterval) != std::future_status::ready)
      if (!report()) return std::nullopt;
    current = currentRead->get();
  } else {
    current = quillet::ReadImageFile(currentPath, [&](std::uint64_t done) {
      state.current.store(done);
      return report();
    });
  }
  if (hooks.stopRequested()) return std::nullopt;
  if (auto currentError = Classify(currentPath, current.status)) return currentError;

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
  auto reading = [window](std::uint64_t done, std::uint64_t total) { window->PostReadProgress(done, total); };
  const quillet::CompareOutcome outcome = quillet::CompareFlashFiles(job, {stop, start, progress, append, reading});
  if (!outcome.ok()) window->ShowErrorBox(outcome.error);
  if (!window->StopRequested()) window->SendDiffDone();
  return 0;
}
