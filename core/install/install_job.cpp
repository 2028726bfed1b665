#include "core/install/install_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

#include "core/platform/file_error.h"
#include "core/platform/file_io.h"
#include "core/vkp/vkp_text.h"

namespace quillet {

namespace {

// Pieces of the result written at a time: the writer's own chunk, so that
// nothing of the image's size is copied.
constexpr std::size_t kPiece = std::size_t{1} << 20;
// Changes turned into undo lines at a time.
constexpr std::size_t kUndoChanges = std::size_t{1} << 16;

// Whether two outputs, neither of which may exist yet, are one file: the file
// itself where it exists (IsSameFile), otherwise the place it would be made at.
bool SameOutput(const std::string& a, const std::string& b) {
  if (IsSameFile(a, b)) return true;
  struct stat st {};
  if (::stat(a.c_str(), &st) == 0 || ::stat(b.c_str(), &st) == 0) return false;
  std::error_code ignored;
  const auto place = [&ignored](const std::string& path) {
    return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored);
  };
  return place(a) == place(b);
}

class Job {
 public:
  Job(const InstallJob& job, const InstallEvents& events, StopToken stop)
      : m_job(job), m_events(events), m_stop(stop) {}

  InstallOutcome run() {
    try {
      if (!checkTargets()) return std::move(m_outcome);
      const std::optional<FileInfo> before = ProbeFile(m_job.imagePath);
      ImageRead image = ReadImageFile(m_job.imagePath);
      switch (image.status) {
        case ImageReadStatus::ok:
          break;
        case ImageReadStatus::openFailed:
          return fail(JobCause::imageOpen, m_job.imagePath, image.osError);
        case ImageReadStatus::readShort:
          return fail(JobCause::imageRead, m_job.imagePath, image.osError);
        case ImageReadStatus::tooLarge:
          return fail(JobCause::imageTooLarge, m_job.imagePath, 0);
      }
      const auto size = static_cast<std::uint32_t>(image.data.size());
      m_total = 2 * m_job.patchPaths.size() + (std::uint64_t{size} + kPiece - 1) / kPiece;

      std::vector<PatchWrites> patches;
      patches.reserve(m_job.patchPaths.size());
      std::size_t room = kMaxInstallWrites;
      for (const std::string& path : m_job.patchPaths) {
        if (m_stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
        try {
          patches.push_back(ReadPatchWritesFile(path, size, m_job.filter, room));
        } catch (const FileError& error) {
          return fail(JobCause::patchFile, path, error.osError());
        }
        room -= patches.back().writes.size();
        step();
      }

      const InstallPlan plan = PlanInstall(image.data.data(), size, m_job.mode, m_job.force, patches);
      m_outcome.patches = plan.patches;
      if (m_events.patchDecided)
        for (std::size_t i = 0; i < plan.patches.size(); ++i) m_events.patchDecided(i, plan.patches[i]);
      if (plan.refused()) return fail(JobCause::refused, {}, 0);
      m_outcome.bytesChanged = plan.changes.size();
      if (m_job.dryRun) return std::move(m_outcome);
      if (m_stop.StopRequested()) return fail(JobCause::stopped, {}, 0);

      ApplyChanges(image.data.data(), plan.changes);
      // The rules' own promise, before a byte reaches the disk.
      if (!HoldsPlan(image.data.data(), size, m_job.mode, patches, plan))
        return fail(JobCause::verifyFailed, target(), 0);
      // The patches' writes stay until the written file is checked against
      // them: no more memory than while they were being decided.
      return write(image.data, before, patches, plan);
    } catch (const std::bad_alloc&) {
      return fail(JobCause::outOfMemory, {}, 0);
    }
  }

 private:
  [[nodiscard]] const std::string& target() const { return m_job.inPlace ? m_job.imagePath : m_job.outputPath; }

  void setFailure(JobCause cause, const std::string& path, int error) {
    m_outcome.cause = cause;
    m_outcome.path = path;
    m_outcome.systemError = error;
  }
  InstallOutcome fail(JobCause cause, const std::string& path, int error) {
    setFailure(cause, path, error);
    return std::move(m_outcome);
  }

  void step() {
    ++m_done;
    if (m_events.progress) m_events.progress(m_done, m_total);
  }

  // Nothing is written over an input: the output is not the image (unless in
  // place) nor a patch, the undo patch none of those nor the output.
  bool checkTargets() {
    if (!m_job.inPlace && m_job.outputPath.empty() && !m_job.dryRun) {
      setFailure(JobCause::noTarget, {}, 0);
      return false;
    }
    // Links and hard links too: a path is an input when it names the same
    // file. Each path is looked up once, since a run may name thousands of
    // patches; an output that doesn't exist yet is no input.
    struct stat output {};
    struct stat undo {};
    const bool outputExists =
        !m_job.inPlace && !m_job.outputPath.empty() && ::stat(m_job.outputPath.c_str(), &output) == 0;
    const bool undoExists = !m_job.undoPath.empty() && ::stat(m_job.undoPath.c_str(), &undo) == 0;
    const auto same = [](const struct stat& a, const struct stat& b) {
      return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    };
    bool outputIsInput = false;
    bool undoIsInput = false;
    const auto compare = [&](const std::string& input) {
      struct stat st {};
      if (::stat(input.c_str(), &st) != 0) return;
      outputIsInput = outputIsInput || (outputExists && same(st, output));
      undoIsInput = undoIsInput || (undoExists && same(st, undo));
    };
    if (outputExists || undoExists) {
      compare(m_job.imagePath);
      for (const std::string& patch : m_job.patchPaths) compare(patch);
    }
    if (outputIsInput) {
      setFailure(JobCause::outputIsInput, m_job.outputPath, 0);
      return false;
    }
    if (undoIsInput || (!m_job.undoPath.empty() && !m_job.inPlace && !m_job.outputPath.empty() &&
                        SameOutput(m_job.undoPath, m_job.outputPath))) {
      setFailure(JobCause::outputIsInput, m_job.undoPath, 0);
      return false;
    }
    return true;
  }

  // The undo patch first, then the result: once the image has changed, its
  // undo is on disk. (Two temporary files can't be open at once: a signal must
  // know the one to remove.) Should the result fail or be stopped, an undo
  // patch made for it is removed again; one that replaced an older file stays,
  // and reverted into the image it finds every byte reverted already.
  InstallOutcome write(const ImageBuffer& image, const std::optional<FileInfo>& before,
                       const std::vector<PatchWrites>& patches, const InstallPlan& plan) {
    const std::vector<ByteChange>& changes = plan.changes;
    // In place and nothing to change: the image is not rewritten at all.
    const bool writeResult = !(m_job.inPlace && changes.empty());
    std::optional<FileInfo> after = before;
    // The result gets the time it was decided at, which its undo patch states.
    if (writeResult) after = FileInfo{image.size(), static_cast<std::int64_t>(std::time(nullptr))};
    bool undoMade = false;
    if (!m_job.undoPath.empty()) {
      if (m_stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
      struct stat st {};
      undoMade = ::lstat(m_job.undoPath.c_str(), &st) != 0 && errno == ENOENT;
      try {
        writeUndo(before, after, changes);
      } catch (const FileError& error) {
        return fail(JobCause::undoWrite, m_job.undoPath, error.osError());
      }
    }
    if (!writeResult) return std::move(m_outcome);
    InstallOutcome outcome = writeResultFile(image, after->mtime, patches);
    if (!outcome.written && undoMade) ::unlink(m_job.undoPath.c_str());
    return outcome;
  }

  InstallOutcome writeResultFile(const ImageBuffer& image, std::int64_t mtime,
                                 const std::vector<PatchWrites>& patches) {
    try {
      AtomicFileWriter result(target());
      for (std::size_t at = 0; at < image.size(); at += kPiece) {
        if (m_stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
        const std::size_t count = std::min(kPiece, image.size() - at);
        result.Write({reinterpret_cast<const char*>(image.data()) + at, count});
        step();
      }
      // Read back from the file itself, as the disk will hold it, before it
      // replaces anything: its size, then every byte a patch writes, checked
      // against the patch as the check would. That is the whole promise; the
      // other bytes are the image's own, which the buffer held when the plan
      // was checked in memory and which went out in the same writes, so the
      // size shows they are all there. Reading just these stretches costs
      // little beside the disk's writing, which goes on meanwhile.
      if (result.WrittenSize() != image.size()) return fail(JobCause::verifyFailed, target(), 0);
      const ImageReader read = [&result](std::uint32_t position, std::uint8_t* buffer, std::size_t count) {
        return result.ReadBackAt(position, buffer, count);
      };
      for (const PatchWrites& patch : patches) {
        if (m_stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
        if (!HoldsPatch(read, m_job.mode, patch)) return fail(JobCause::verifyFailed, target(), 0);
        step();
      }
      result.Commit();
    } catch (const FileError& error) {
      return fail(JobCause::outputWrite, target(), error.osError());
    }
    m_outcome.written = true;
    // Only the time a header states; a failure leaves the time of writing.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<std::time_t>(mtime), 0}};
    (void)::utimensat(AT_FDCWD, target().c_str(), times, 0);
    return std::move(m_outcome);
  }

  // The comparison of the image before and after under its usual header, as
  // `diff` of the two files would save it once the result is in place.
  void writeUndo(const std::optional<FileInfo>& before, const std::optional<FileInfo>& after,
                 const std::vector<ByteChange>& changes) {
    AtomicFileWriter undo(m_job.undoPath);
    undo.Write(EncodeSavedHeader(ComposeComparisonHeader(m_job.imagePath, before, target(), after)));
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
  std::uint64_t m_done = 0;
  std::uint64_t m_total = 0;
};

}  // namespace

InstallOutcome InstallPatches(const InstallJob& job, const InstallEvents& events, StopToken stop) {
  return Job(job, events, stop).run();
}

}  // namespace quillet
