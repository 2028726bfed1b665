#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/res/version.h"

#include "tests/support/run_cli.h"

// The desktop program's starts that must end before Qt is touched, run as a user would: the
// built binary in an environment without a display. A row that wrongly reached Qt would
// abort (no display) or open a window and be ended by the timeout.

namespace {

#ifdef QUILLET_PATH

using quillet::testing::Quote;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct StartRow {
  const char* name;
  std::vector<std::string> environment;  // given to env(1) after the display variables are removed
  std::vector<std::string> args;
  int exitCode;
  std::string out;  // exactly, or the first line when it ends in "\n..."
  std::string err;  // exactly; kNoDisplay: one line that says so and points to quillet-cli
};

const std::string kNoDisplay = "(no display)";

TEST(DesktopStart, AnswersWithoutAWindow) {
  const std::string version = std::string("quillet ") + QUILLET_VERSION + "\n";
  const std::string usage = "usage: quillet [--from-desktop] [--] [PATCH_OR_FOLDER...]\n...";
  const StartRow rows[] = {
      {"help", {}, {"--help"}, 0, usage, ""},
      {"short help among patch files", {}, {"a.vkp", "-h", "b.vkp"}, 0, usage, ""},
      {"version, even with a display", {"DISPLAY=:97"}, {"--version"}, 0, version, ""},
      {"an unknown option, even with a display",
       {"DISPLAY=:97"},
       {"--from-dekstop", "a.vkp"},
       64,
       "",
       "quillet: unknown option '--from-dekstop'; did you mean '--from-desktop'?\n"
       "quillet: 'quillet --help' lists the options\n"},
      {"no display at all", {}, {}, 1, "", kNoDisplay},
      {"an option after -- is a patch file", {}, {"--", "--help"}, 1, "", kNoDisplay},
      {"Qt's options, its platform one needing a display",
       {"QT_QPA_PLATFORM=offscreen"},
       {"-style", "fusion", "--platform", "xcb", "-reverse", "x.vkp"},
       1,
       "",
       kNoDisplay},
      {"a list of such platforms", {"QT_QPA_PLATFORM=wayland-egl;xcb:foo"}, {}, 1, "", kNoDisplay},
      {"an empty display is none", {"DISPLAY=", "WAYLAND_DISPLAY="}, {}, 1, "", kNoDisplay},
  };
  std::string pattern = (std::filesystem::temp_directory_path() / "quillet-start-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  for (const StartRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::string command =
        "cd " + Quote(dir.string()) + " && timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";
    for (const std::string& assignment : row.environment) command += " " + Quote(assignment);
    command += " " + Quote(QUILLET_PATH);
    for (const std::string& arg : row.args) command += " " + Quote(arg);
    command += " >out 2>err";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), row.exitCode);
    const std::string out = Slurp((dir / "out").string());
    const std::string err = Slurp((dir / "err").string());
    if (row.out.ends_with("\n..."))
      EXPECT_EQ(out.substr(0, out.find('\n') + 1), row.out.substr(0, row.out.size() - 3)) << out;
    else
      EXPECT_EQ(out, row.out);
    if (row.err == kNoDisplay) {
      EXPECT_NE(err.find("no display"), std::string::npos) << err;
      EXPECT_NE(err.find("quillet-cli"), std::string::npos) << err;
      EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    } else {
      EXPECT_EQ(err, row.err);
    }
  }
  std::filesystem::remove_all(dir);
}

#endif

}  // namespace
