#include "core/compare/compare_worker.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <new>
#include <optional>
#include <system_error>

#include "core/compare/compare_images.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace quillet {

namespace {

JobCause CauseOf(ImageReadStatus status) {
  switch (status) {
    case ImageReadStatus::ok:
      return JobCause::none;
    case ImageReadStatus::openFailed:
      return JobCause::imageOpen;
    case ImageReadStatus::readShort:
      return JobCause::imageRead;
    case ImageReadStatus::tooLarge:
      return JobCause::imageTooLarge;
  }
  return JobCause::imageRead;
}

// Why an image can't be compared, if it can't.
std::optional<JobOutcome> Failure(const std::string& path, const ImageRead& read) {
  if (read.status == ImageReadStatus::ok) return std::nullopt;
  return JobOutcome{CauseOf(read.status), path, read.osError};
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
  ReadState state;
  // Reports on this thread only, and tells whether to go on.
  auto report = [&] {
    if (events.reading) events.reading(state.original.load() + state.current.load(), total);
    if (stop.StopRequested()) state.giveUp.store(true);
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
  if (stop.StopRequested()) return kStopped;
  if (auto failure = Failure(originalPath, original)) return *failure;
  ImageRead current;
  if (currentRead) {
    while (currentRead->wait_for(kReadReportInterval) != std::future_status::ready)
      if (!report()) return kStopped;
    current = currentRead->get();
  } else {
    current = quillet::ReadImageFile(currentPath, [&](std::uint64_t done) {
      state.current.store(done);
      return report();
    });
  }
  if (stop.StopRequested()) return kStopped;
  if (auto failure = Failure(currentPath, current)) return *failure;

  const auto length = static_cast<std::uint32_t>(std::min(original.data.size(), current.data.size()));
  // A caller that has ended the run on a stop takes no more notifications.
  if (stop.StopRequested()) return kStopped;
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

// The text grows by pieces of at least this size.
constexpr std::size_t kTextPiece = std::size_t{8} << 20;

}  // namespace

JobOutcome CompareFlashFiles(const CompareJob& job, const CompareEvents& events, StopToken stop) {
  try {
    return ReadAndWalk(job, events, stop);
  } catch (const std::bad_alloc&) {
    return {JobCause::outOfMemory, {}, ENOMEM};
  }
}

std::string CompareErrorText(const JobOutcome& outcome) {
  auto quoted = [&outcome](const char* prefix) { return prefix + outcome.path + "'"; };
  switch (outcome.cause) {
    case JobCause::none:
    case JobCause::stopped:
      return {};
    case JobCause::imageOpen:
      return quoted(text::kOpenErrorPrefix);
    case JobCause::imageTooLarge:
      return quoted(text::kTooLargePrefix);
    case JobCause::outOfMemory:
      return text::kOutOfMemory;
    default:
      return quoted(text::kReadErrorPrefix);
  }
}

void CompareText::Reset(std::string header) {
  std::lock_guard lock(m_mutex);
  m_pieces.clear();
  m_pieces.push_back(std::move(header));
  m_closed = false;
}

bool CompareText::Append(std::string_view lines) {
  std::unique_lock lock(m_mutex);
  if (m_closed) return false;
  if (m_pieces.empty() || m_pieces.back().capacity() - m_pieces.back().size() < lines.size()) {
    lock.unlock();
    std::string piece;
    piece.reserve(std::max(kTextPiece, lines.size()));
    lock.lock();
    if (m_closed) return false;
    m_pieces.push_back(std::move(piece));
  }
  m_pieces.back().append(lines);
  return true;
}

std::vector<std::string> CompareText::Close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  std::vector<std::string> pieces = std::move(m_pieces);
  m_pieces.clear();
  return pieces;
}

JobOutcome CompareThreadProc(const CompareJob& job, const CompareEvents& events, CompareText& text, StopToken stop) {
  CompareEvents toText = events;
  toText.lines = [&text](std::string_view lines) { return text.Append(lines); };
  return CompareFlashFiles(job, toText, stop);
}

}  // namespace quillet
