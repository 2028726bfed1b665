#include <unistd.h>

#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/compare/compare_worker.h"
#include "core/vkp/vkp_text.h"
#include "core/platform/file_error.h"
#include "core/res/strings.h"

namespace quillet::cli {

namespace {

// The comparison window of the command line: the worker runs on the calling
// thread, so every "send" is handled at once; progress goes to stderr.
class ConsoleCompareWindow final : public ICompareWindow {
 public:
  ConsoleCompareWindow(std::string original, std::string current, std::string header, bool showProgress)
      : m_original(std::move(original)),
        m_current(std::move(current)),
        m_text(std::move(header)),
        m_showProgress(showProgress) {}

  const std::string& OriginalFlashPath() const override { return m_original; }
  const std::string& CurrentFlashPath() const override { return m_current; }
  bool StopRequested() const override { return false; }
  bool AppendText(std::string_view lines) override {
    m_text.append(lines);
    return true;
  }
  void SendDiffStart(std::uint32_t length) override {
    m_length = length;
    m_percent = -1;
  }
  void PostDiffProgress(std::uint32_t position) override {
    if (!m_showProgress || m_length == 0) return;
    const int percent = static_cast<int>(std::uint64_t{position} * 100 / m_length);
    if (percent == m_percent) return;
    m_percent = percent;
    DrawBar(percent);
  }
  void SendDiffDone() override {
    if (m_showProgress && m_percent >= 0) std::fputs("\r\033[K", stderr);
  }
  void ShowErrorBox(const std::string& text) override { m_error = text; }

  [[nodiscard]] const std::string& Text() const { return m_text; }
  [[nodiscard]] const std::optional<std::string>& Error() const { return m_error; }

 private:
  static void DrawBar(int percent) {
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), percent);
    std::fflush(stderr);
  }

  std::string m_original;
  std::string m_current;
  std::string m_text;
  bool m_showProgress;
  std::uint32_t m_length = 0;
  int m_percent = -1;
  std::optional<std::string> m_error;
};

bool WriteToStdout(const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
}

}  // namespace

int RunDiff(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args, {"-o"});
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() != 2) {
    std::fprintf(stderr, "quillet-cli: diff needs an original and a current image\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (const int status = LoadFilter(parsed->filter); status != kExitOk) return status;
  const auto output = parsed->values.find("-o");
  const bool toStdout = output == parsed->values.end() || output->second == "-";

  try {
    ConsoleCompareWindow window(parsed->operands[0], parsed->operands[1],
                                ComposeComparisonHeader(parsed->operands[0], parsed->operands[1]),
                                ::isatty(STDERR_FILENO) == 1);
    CompareThreadProc(&window);
    if (window.Error()) {
      std::fprintf(stderr, "%s\n", window.Error()->c_str());
      return kExitInput;
    }
    if (toStdout) {
      if (!WriteToStdout(EncodeSavedLines(SplitEditLines(window.Text())))) {
        std::perror("quillet-cli: standard output");
        return kExitOutput;
      }
    } else {
      SaveComparisonText(output->second, SplitEditLines(window.Text()));
    }
  } catch (const FileError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return kExitInput;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s\n", text::kOutOfMemory);
    return kExitInput;
  }
  return kExitOk;
}

}  // namespace quillet::cli
