#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "cli/outcome_text.h"
#include "core/compare/compare_worker.h"
#include "core/platform/atomic_writer.h"
#include "core/platform/file_error.h"
#include "core/platform/file_system.h"
#include "core/platform/image_file.h"
#include "core/vkp/vkp_text.h"

namespace quillet::cli {

namespace {

// A bar on stderr that redraws only when the percentage changes.
class ProgressBar {
 public:
  explicit ProgressBar(bool shown) : m_shown(shown) {}
  void Start(std::uint32_t length) { m_length = length; }
  void Show(std::uint32_t position) {
    if (!m_shown || m_length == 0) return;
    const int percent = static_cast<int>(std::uint64_t{position} * 100 / m_length);
    if (percent == m_percent) return;
    m_percent = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), percent);
    std::fflush(stderr);
  }
  void Clear() const {
    if (m_shown && m_percent >= 0) std::fputs("\r\033[K", stderr);
  }

 private:
  bool m_shown;
  std::uint32_t m_length = 0;
  int m_percent = -1;
};

bool WriteToStdout(std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

}  // namespace

int RunDiff(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args, {"-o"}, {"--exit-code"});
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() != 2) {
    std::fprintf(stderr, "quillet-cli: diff needs an original and a current image\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  const bool exitCode = parsed->flags.contains("--exit-code");
  const auto output = parsed->values.find("-o");
  const bool toStdout = output == parsed->values.end() || output->second == "-";
  // Resolved once, here: the checks below and the writer use this path, so a
  // link planted at the name meanwhile is replaced, not followed.
  std::string resolved;
  if (!toStdout) {
    try {
      resolved = ResolveOutputPath(output->second);
    } catch (const FileError& error) {
      PrintError(error.what());
      return kExitOutput;
    }
  }
  // The patch would replace the firmware image it was made from. Compared as
  // files, not as text, so that no other spelling, link or hard link gets by;
  // stdout counts as well, since ">> image" does not empty the image first.
  for (const std::string& image : parsed->operands) {
    if (toStdout ? IsSameFile(STDOUT_FILENO, image) : IsSameFile(resolved, image)) {
      PrintError((toStdout ? std::string("standard output") : "the output " + output->second) + " is the image " +
                 image + " itself; the patch would replace it: name another file");
      return kExitUsage;
    }
  }
  for (const std::string& settings : SettingsInputs(parsed->filter)) {
    if (!toStdout && IsSameFile(resolved, settings)) {
      PrintError("the output " + output->second + " is the settings file " + settings +
                 "; the patch would replace it: name another file");
      return kExitUsage;
    }
  }
  CompareJob job{parsed->operands[0], parsed->operands[1], {}};
  if (const int status = LoadFilter(parsed->filter, job.filter); status != kExitOk) return status;

  // The bytes "Записать" would save for the unedited comparison, written as
  // the walk finds them, so that memory holds the two images and little else
  // however many lines there are. A file is replaced only once it is complete
  // and read back: a failed run leaves an existing one as it was.
  std::optional<AtomicFileWriter> file;
  if (!toStdout) {
    try {
      file.emplace(resolved, WriterOptions{.intoSpecialFiles = true, .resolved = true});
    } catch (const FileError& error) {
      PrintError(error.what());
      return kExitOutput;
    }
  }
  const std::string header = EncodeSavedHeader(ComposeComparisonHeader(job.originalPath, job.currentPath));
  bool written = true;
  std::string writeError;
  bool differs = false;
  auto emit = [&](std::string_view bytes) {
    if (!written) return false;
    if (toStdout) {
      written = WriteToStdout(bytes);
      return written;
    }
    try {
      file->Write(bytes);
    } catch (const FileError& error) {
      written = false;
      writeError = error.what();
    }
    return written;
  };
  auto lines = [&](std::string_view bytes) {
    differs = true;
    return emit(bytes);
  };
  ProgressBar bar(::isatty(STDERR_FILENO) == 1);
  // The comparison the window runs, on this thread: the output is written as
  // the lines are found, and the bar drawn as the walk goes.
  const CompareEvents events{
      .reading = {},
      .started =
          [&](std::uint32_t length) {
            bar.Start(length);
            (void)emit(header);
          },
      .progress = [&bar](std::uint32_t position) { bar.Show(position); },
      .lines = lines,
  };
  const JobOutcome outcome = CompareFlashFiles(job, events, {});
  bar.Clear();
  if (!outcome.Ok()) {
    PrintError(OutcomeText(outcome));
    return kExitInput;
  }
  (void)emit(kSavedTextEnd);
  // The tail of the longer image is never looked at: say so rather than let a
  // truncated dump pass for an identical one.
  const std::optional<FileInfo> original = ProbeFile(job.originalPath);
  const std::optional<FileInfo> current = ProbeFile(job.currentPath);
  const bool sizesDiffer = original && current && original->size != current->size;
  if (sizesDiffer) {
    const bool originalLonger = original->size > current->size;
    PrintError((originalLonger ? job.originalPath : job.currentPath) + " is longer than " +
               (originalLonger ? job.currentPath : job.originalPath) + " by " +
               ByteCount(originalLonger ? original->size - current->size : current->size - original->size) +
               "; only the first " + ByteCount(std::min(original->size, current->size)) + " were compared");
  }
  // Images of different sizes differ, whatever their common length holds.
  const int done = exitCode && (differs || sizesDiffer) ? kExitConflicts : kExitOk;

  if (toStdout) {
    if (!written || std::fflush(stdout) != 0) {
      std::perror("quillet-cli: standard output");
      return kExitOutput;
    }
    return done;
  }
  if (!written) {
    PrintError(writeError);
    return kExitOutput;
  }
  try {
    file->Commit();
  } catch (const WriteVerifyError&) {
    PrintError(output->second + " did not read back as written; nothing was changed");
    return kExitOutput;
  } catch (const FileError& error) {
    PrintError(error.what());
    return kExitOutput;
  }
  return done;
}

}  // namespace quillet::cli
