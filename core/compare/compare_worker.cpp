#include "core/compare/compare_worker.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>

#include "core/compare/compare_images.h"
#include "core/job/image_failure.h"
#include "core/platform/image_file.h"

namespace quillet {

namespace {

const JobOutcome kStopped{JobCause::stopped, {}, 0};

// Reads both images and walks them; both buffers are gone by the time it
// returns, whatever the path.
JobOutcome ReadAndWalk(const quillet::CompareJob& job, const quillet::CompareEvents& events, quillet::StopToken stop) {
  const std::string& originalPath = job.originalPath;
  const std::string& currentPath = job.currentPath;
  const std::optional<quillet::FileInfo> probe = quillet::ProbeFile(originalPath);
  if (!probe) return {JobCause::imageOpen, originalPath, errno};
  if (probe->size >= quillet::kMaxImageSize) return {JobCause::imageTooLarge, originalPath, 0};

  // Both sizes are known before either read: a current image that can't be
  // one must not cost a whole read of the original first. A current image
  // that can't be opened is left to its read, so that a failed read of the
  // original is still told first.
  const std::optional<quillet::FileInfo> currentProbe = quillet::ProbeFile(currentPath);
  if (currentProbe && currentProbe->size >= quillet::kMaxImageSize) return {JobCause::imageTooLarge, currentPath, 0};
  const std::uint64_t total = probe->size + (currentProbe ? currentProbe->size : 0);
  // The images are read one after the other, on the job's one thread: the
  // comparison shares no state with a reader of its own.
  auto reading = [&](std::uint64_t done) {
    if (events.reading) events.reading(done, total);
    return !stop.StopRequested();
  };
  const ImageRead original = quillet::ReadImageFile(originalPath, reading);
  // A stopped run has no failure to tell.
  if (stop.StopRequested()) return kStopped;
  if (auto failure = ImageReadFailure(original, originalPath)) return *failure;
  const std::uint64_t originalSize = original.data.size();
  const ImageRead current =
      quillet::ReadImageFile(currentPath, [&](std::uint64_t done) { return reading(originalSize + done); });
  if (stop.StopRequested()) return kStopped;
  if (auto failure = ImageReadFailure(current, currentPath)) return *failure;

  const auto length = static_cast<std::uint32_t>(std::min(original.data.size(), current.data.size()));
  if (events.started) events.started(length);

  quillet::FilterCursor filter(job.filter);
  auto stopRequested = [&stop] { return stop.StopRequested(); };
  auto filtered = [&filter](std::uint32_t address) { return filter.IsAddressFiltered(address); };
  auto progress = [&events](std::uint32_t position) {
    if (events.progress) events.progress(position);
  };
  auto lines = [&events](std::string_view text) { return !events.lines || events.lines(text); };
  const quillet::WalkEnd end = quillet::CompareImages(
      original.data.data(), current.data.data(), length,
      {.stopRequested = stopRequested, .isFiltered = filtered, .progress = progress, .appendLines = lines});
  return end == quillet::WalkEnd::stopped ? kStopped : JobOutcome{};
}

// The window's text grows by batches of at least this size: few enough hand-overs
// for millions of lines, and no batch is ever copied.
constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

const JobOutcome kOutOfMemory{JobCause::outOfMemory, {}, ENOMEM};

}  // namespace

JobOutcome CompareFlashFiles(const CompareJob& job, const CompareEvents& events, StopToken stop) {
  try {
    return ReadAndWalk(job, events, stop);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

JobOutcome CompareThreadProc(const CompareJob& job, const CompareEvents& events, const LineBatches& batches,
                             StopToken stop) {
  std::string batch;
  CompareEvents gathering = events;
  gathering.lines = [&](std::string_view lines) {
    if (!batch.empty() && batch.capacity() - batch.size() < lines.size()) {
      batches(std::move(batch));
      batch = std::string();
    }
    if (batch.capacity() == 0) batch.reserve(std::max(kBatchBytes, lines.size()));
    batch.append(lines);
    return true;
  };
  JobOutcome outcome = CompareFlashFiles(job, gathering, stop);
  try {
    if (!batch.empty()) batches(std::move(batch));
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  return outcome;
}

}  // namespace quillet
