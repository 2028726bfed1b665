#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/compare/compare_worker.h"
#include "core/job/job_link.h"
#include "core/platform/file_error.h"
#include "core/platform/file_io.h"
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

int RunDiff(const std::vector<std::string>& allArgs) {
  // --exit-code is diff's own flag; the rest goes through the common parser.
  std::vector<std::string> args;
  bool exitCode = false;
  bool optionsEnded = false;
  for (const std::string& arg : allArgs) {
    if (!optionsEnded && arg == "--exit-code") {
      exitCode = true;
      continue;
    }
    optionsEnded = optionsEnded || arg == "--";
    args.push_back(arg);
  }
  const auto parsed = ParseCommandArgs(args, {"-o"});
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() != 2) {
    std::fprintf(stderr, "quillet-cli: diff needs an original and a current image\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  CompareJob job{parsed->operands[0], parsed->operands[1], {}};
  if (const int status = LoadFilter(parsed->filter, job.filter); status != kExitOk) return status;
  const auto output = parsed->values.find("-o");
  const bool toStdout = output == parsed->values.end() || output->second == "-";

  // The bytes "Записать" would save for the unedited comparison, written as
  // the walk finds them, so that memory holds the two images and little else
  // however many lines there are. A file is replaced only once it is complete:
  // a failed run leaves an existing one as it was.
  std::optional<AtomicFileWriter> file;
  if (!toStdout) {
    try {
      file.emplace(output->second, true);
    } catch (const FileError& error) {
      std::fprintf(stderr, "quillet-cli: %s\n", error.what());
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
  // The comparison runs on a thread of its own, as in the window. The output is
  // written there as the lines are found (this thread only waits); the bar is
  // drawn here.
  JobOutcome outcome;
  JobLink link({});
  const CompareEvents events{
      .reading = {},
      .started = [&](std::uint32_t length) {
        link.Posted<std::uint32_t>([&bar](std::uint32_t all) { bar.Start(all); })(length);
        (void)emit(header);
      },
      .progress = link.Latest<std::uint32_t>([&bar](std::uint32_t position) { bar.Show(position); }),
      .lines = lines,
  };
  const bool running = link.Start<JobOutcome>(
      [&](StopToken stop) { return CompareFlashFiles(job, events, stop); },
      [&outcome](JobOutcome& ended) { outcome = std::move(ended); });
  if (!running) outcome = CompareFlashFiles(job, events, {});
  link.RunUntilDone();
  bar.Clear();
  if (!outcome.ok()) {
    // The message names the image; the system's words say why.
    std::fprintf(stderr, "quillet-cli: %s%s\n", CompareErrorText(outcome).c_str(),
                 outcome.systemError != 0 ? (" (" + std::string(std::strerror(outcome.systemError)) + ")").c_str() : "");
    return kExitInput;
  }
  (void)emit(kSavedTextEnd);
  // The tail of the longer image is never looked at: say so rather than let a
  // truncated dump pass for an identical one.
  const std::optional<FileInfo> original = ProbeFile(job.originalPath);
  const std::optional<FileInfo> current = ProbeFile(job.currentPath);
  if (original && current && original->size != current->size) {
    const bool originalLonger = original->size > current->size;
    std::fprintf(stderr, "quillet-cli: %s is longer than %s by %llu bytes; only the first %llu bytes were compared\n",
                 (originalLonger ? job.originalPath : job.currentPath).c_str(),
                 (originalLonger ? job.currentPath : job.originalPath).c_str(),
                 static_cast<unsigned long long>(originalLonger ? original->size - current->size
                                                                : current->size - original->size),
                 static_cast<unsigned long long>(std::min(original->size, current->size)));
  }
  const int done = exitCode && differs ? kExitConflicts : kExitOk;

  if (toStdout) {
    if (!written || std::fflush(stdout) != 0) {
      std::perror("quillet-cli: standard output");
      return kExitOutput;
    }
    return done;
  }
  if (!written) {
    std::fprintf(stderr, "quillet-cli: %s\n", writeError.c_str());
    return kExitOutput;
  }
  try {
    file->Commit();
  } catch (const FileError& error) {
    std::fprintf(stderr, "quillet-cli: %s\n", error.what());
    return kExitOutput;
  }
  return done;
}

}  // namespace quillet::cli
