#include "core/install/install_job.h"
#include "core/platform/atomic_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

#include "core/job/image_failure.h"
#include "core/platform/file_error.h"
#include "core/platform/file_system.h"
#include "core/platform/image_file.h"
#include "core/vkp/vkp_text.h"

namespace quillet {

namespace {

// Pieces of the result written at a time: the writer's own chunk, so that
// nothing of the image's size is copied.
constexpr std::size_t kPiece = std::size_t{1} << 20;
// Changes turned into undo lines at a time.
constexpr std::size_t kUndoChanges = std::size_t{1} << 16;

// Thrown from the last moment before the rename when the image is no longer
// the file that was read, or a stop came during the read-back.
struct ImageChanged {};
struct Stopped {};

// Where a resolved output would be made, for telling two outputs apart when
// neither exists yet.
std::filesystem::path PlaceOf(const std::string& resolved) {
  std::error_code ignored;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(resolved, ignored), ignored);
}

class Job {
 public:
  Job(const InstallJob& job, const InstallEvents& events, StopToken stop)
      : m_job(job), m_events(events), m_stop(stop) {}

  InstallOutcome Run() {
    try {
      if (!CheckTargets()) return std::move(m_outcome);
      ImageRead image;
      if (!ReadImage(image)) return std::move(m_outcome);
      const auto size = static_cast<std::uint32_t>(image.data.size());
      m_total = m_job.patchPaths.size() + (std::uint64_t{size} + kPiece - 1) / kPiece + 1;

      std::vector<PatchWrites> patches;
      patches.reserve(m_job.patchPaths.size());
      std::size_t room = kMaxInstallWrites;
      for (const std::string& path : m_job.patchPaths) {
        if (m_stop.StopRequested()) return Fail(JobCause::stopped, {}, 0);
        try {
          patches.push_back(ReadPatchWritesFile(path, size, m_job.filter, room));
        } catch (const FileError& error) {
          return Fail(JobCause::patchFile, path, error.OsError());
        }
        room -= patches.back().writes.size();
        Step();
      }

      const InstallPlan plan = PlanInstall(image.data.data(), size, m_job.mode, m_job.force, patches);
      m_outcome.patches = plan.patches;
      if (plan.Refused()) return Fail(JobCause::refused, {}, 0);
      m_outcome.bytesChanged = plan.changes.size();
      if (m_job.dryRun) return std::move(m_outcome);
      if (m_stop.StopRequested()) return Fail(JobCause::stopped, {}, 0);

      ApplyChanges(image.data.data(), plan.changes);
      // The rules' own promise, before a byte reaches the disk; the writer
      // then holds the file to these bytes, every one of them.
      if (!HoldsPlan(image.data.data(), size, m_job.mode, patches, plan))
        return Fail(JobCause::verifyFailed, Target(), 0);
      std::vector<PatchWrites>().swap(patches);
      return Write(image, plan.changes);
    } catch (const std::bad_alloc&) {
      return Fail(JobCause::outOfMemory, {}, 0);
    }
  }

 private:
  [[nodiscard]] const std::string& Target() const { return m_job.inPlace ? m_job.imagePath : m_job.outputPath; }

  void SetFailure(JobCause cause, const std::string& path, int error) {
    m_outcome.cause = cause;
    m_outcome.path = path;
    m_outcome.systemError = error;
  }
  InstallOutcome Fail(JobCause cause, const std::string& path, int error) {
    SetFailure(cause, path, error);
    return std::move(m_outcome);
  }

  void Step() {
    ++m_done;
    if (m_events.progress) m_events.progress(m_done, m_total);
  }

  [[nodiscard]] WriterOptions Options(bool noReplace, bool fromImage) const {
    return WriterOptions{
        .resolved = true, .noReplace = noReplace, .piecesOutliveCommit = fromImage, .ops = m_job.fileOps};
  }

  // Nothing is written over an input: the output is not the image (unless in
  // place), a patch or another input, the undo patch none of those nor the
  // output, and an undo patch that exists is never replaced. Each output is
  // resolved here, once: the checks and the writer use that path, so a link
  // planted at the name later is replaced, not followed.
  bool CheckTargets() {
    const bool writes = !m_job.dryRun;
    if (!m_job.inPlace && m_job.outputPath.empty() && writes) {
      SetFailure(JobCause::noTarget, {}, 0);
      return false;
    }
    try {
      m_resolvedTarget = ResolveOutputPath(m_job.inPlace ? m_job.imagePath : m_job.outputPath);
      if (!m_job.undoPath.empty()) m_resolvedUndo = ResolveOutputPath(m_job.undoPath);
    } catch (const FileError& error) {
      SetFailure(JobCause::outputWrite, error.Path(), error.OsError());
      return false;
    }
    if (!m_job.undoPath.empty()) {
      struct stat st {};
      if (::lstat(m_job.undoPath.c_str(), &st) == 0 || ::lstat(m_resolvedUndo.c_str(), &st) == 0) {
        SetFailure(JobCause::undoExists, m_job.undoPath, EEXIST);
        return false;
      }
    }
    // Links and hard links too: a path is an input when it names the same
    // file. Each path is looked up once, since a run may name thousands of
    // patches; an output that doesn't exist yet is no input.
    struct stat output {};
    const bool outputExists =
        !m_job.inPlace && !m_job.outputPath.empty() && ::stat(m_resolvedTarget.c_str(), &output) == 0;
    bool outputIsInput = false;
    const auto compare = [&](const std::string& input) {
      struct stat st {};
      if (::stat(input.c_str(), &st) != 0) return;
      outputIsInput = outputIsInput || (st.st_dev == output.st_dev && st.st_ino == output.st_ino);
    };
    if (outputExists) {
      compare(m_job.imagePath);
      for (const std::string& patch : m_job.patchPaths) compare(patch);
    }
    if (!m_job.inPlace || outputExists)
      for (const std::string& input : m_job.otherInputs) compare(input);
    // In place, the settings file may still not be the image.
    if (m_job.inPlace)
      for (const std::string& input : m_job.otherInputs)
        outputIsInput = outputIsInput || IsSameFile(input, m_job.imagePath);
    if (outputIsInput) {
      SetFailure(JobCause::outputIsInput, Target(), 0);
      return false;
    }
    // The undo patch does not exist (above): it can only be another output
    // that does not exist either.
    if (!m_job.undoPath.empty() && PlaceOf(m_resolvedUndo) == PlaceOf(m_resolvedTarget)) {
      SetFailure(JobCause::outputIsInput, m_job.undoPath, 0);
      return false;
    }
    return true;
  }

  // In place, the image is held from before its read: a second run waits
  // here and then reads what the first put in place.
  bool ReadImage(ImageRead& image) {
    const bool holds = m_job.inPlace && !m_job.dryRun;
    if (holds) {
      bool told = false;
      const auto keepWaiting = [&] {
        if (!told && m_events.waitingForImage) m_events.waitingForImage();
        told = true;
        return !m_stop.StopRequested();
      };
      switch (m_lock.Acquire(m_resolvedTarget, keepWaiting)) {
        case ImageLock::Status::locked:
          break;
        case ImageLock::Status::openFailed:
          SetFailure(JobCause::imageOpen, m_job.imagePath, errno);
          return false;
        case ImageLock::Status::givenUp:
          SetFailure(JobCause::stopped, {}, 0);
          return false;
      }
    }
    image = holds ? ReadImageFrom(m_lock.Fd()) : ReadImageFile(m_job.imagePath);
    const auto failure = ImageReadFailure(image, m_job.imagePath);
    if (failure) SetFailure(failure->cause, failure->path, failure->systemError);
    return !failure;
  }

  // The undo patch first, then the result: once the image has changed, its
  // undo is on disk. Should the result fail, be stopped, or a signal end the
  // program first, the undo patch goes again: it would record a change that
  // was never made.
  InstallOutcome Write(const ImageRead& image, const std::vector<ByteChange>& changes) {
    const FileInfo before{image.stamp.size, image.stamp.mtimeSeconds};
    // In place and nothing to change: the image is not rewritten at all.
    const bool writeResult = !(m_job.inPlace && changes.empty());
    FileInfo after = before;
    // The result gets the time it was decided at, which its undo patch states.
    if (writeResult) after = FileInfo{image.data.size(), static_cast<std::int64_t>(std::time(nullptr))};
    std::optional<RemovedUnlessKept> undo;
    if (!m_job.undoPath.empty()) {
      if (m_stop.StopRequested()) return Fail(JobCause::stopped, {}, 0);
      try {
        WriteUndo(before, after, changes);
      } catch (const FileError& error) {
        return Fail(JobCause::undoWrite, m_job.undoPath, error.OsError());
      }
      undo.emplace(m_resolvedUndo);
    }
    if (!writeResult) {
      if (undo) undo->Keep();
      return std::move(m_outcome);
    }
    (void)WriteResultFile(image, after.mtime, undo);
    return std::move(m_outcome);
  }

  bool WriteResultFile(const ImageRead& image, std::int64_t mtime, std::optional<RemovedUnlessKept>& undo) {
    const ImageBuffer& bytes = image.data;
    // Kept from just before the rename: a signal after it must not take away
    // the undo of a change made. Should the rename itself fail, it goes.
    bool undoKept = false;
    const auto dropKeptUndo = [&] {
      if (undoKept) (void)::unlink(m_resolvedUndo.c_str());
    };
    try {
      AtomicFileWriter result(m_resolvedTarget, Options(false, true));
      for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        if (m_stop.StopRequested()) {
          SetFailure(JobCause::stopped, {}, 0);
          return false;
        }
        const std::size_t count = std::min(kPiece, bytes.size() - at);
        result.Write({reinterpret_cast<const char*>(bytes.data()) + at, count});
        Step();
      }
      // The last moment before the rename: whatever wrote to the image since
      // its read (another program, or this one run twice on a file system
      // without locks) would have its bytes put back by this result.
      result.Commit([&] {
        // The read-back of a large image takes a while: a stop asked for
        // meanwhile still finds nothing in place.
        if (m_stop.StopRequested()) throw Stopped{};
        if (StampOf(m_job.imagePath) != image.stamp) throw ImageChanged{};
        if (undo) undo->Keep();
        undoKept = undo.has_value();
      });
    } catch (const ImageChanged&) {
      SetFailure(JobCause::imageChanged, m_job.imagePath, 0);
      return false;
    } catch (const Stopped&) {
      SetFailure(JobCause::stopped, {}, 0);
      return false;
    } catch (const WriteVerifyError&) {
      SetFailure(JobCause::verifyFailed, Target(), 0);
      return false;
    } catch (const FileError& error) {
      dropKeptUndo();
      SetFailure(JobCause::outputWrite, Target(), error.OsError());
      return false;
    }
    Step();
    m_outcome.written = true;
    // Only the time a header states; a failure leaves the time of writing.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<std::time_t>(mtime), 0}};
    (void)::utimensat(AT_FDCWD, m_resolvedTarget.c_str(), times, 0);
    return true;
  }

  // The comparison of the image before and after under the undo header, as
  // `diff` of the two files would save it once the result is in place.
  void WriteUndo(const FileInfo& before, const FileInfo& after, const std::vector<ByteChange>& changes) {
    AtomicFileWriter undo(m_resolvedUndo, Options(true, false));
    undo.Write(EncodeSavedHeader(ComposeUndoHeader(m_job.imagePath, before, Target(), after)));
    std::string lines;
    for (std::size_t at = 0; at < changes.size();) {
      std::size_t end = std::min(at + kUndoChanges, changes.size());
      // A piece ends with a 16-byte group, so no line is cut in two.
      while (end < changes.size() && (changes[end].address >> 4) == (changes[end - 1].address >> 4)) ++end;
      lines.clear();
      AppendChangeLines(lines, changes.data() + at, end - at);
      undo.Write(lines);
      at = end;
    }
    undo.Write(kSavedTextEnd);
    undo.Commit();
  }

  const InstallJob& m_job;
  const InstallEvents& m_events;
  StopToken m_stop;
  InstallOutcome m_outcome;
  std::string m_resolvedTarget;
  std::string m_resolvedUndo;
  ImageLock m_lock;  // in place: held until the run ends, after the rename
  std::uint64_t m_done = 0;
  std::uint64_t m_total = 0;
};

}  // namespace

InstallOutcome InstallPatches(const InstallJob& job, const InstallEvents& events, StopToken stop) {
  return Job(job, events, stop).Run();
}

std::string FreeUndoPath(const std::string& resultPath) {
  std::string path = resultPath + ".undo.vkp";
  for (int number = 2;; ++number) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return path;
    path = resultPath + ".undo-" + std::to_string(number) + ".vkp";
  }
}

}  // namespace quillet
