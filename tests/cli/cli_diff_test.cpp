#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/vkp/vkp_text.h"
#include "tests/support/compare_lines.h"
#include "tests/support/run_cli.h"
#include "tests/support/temp_dir.h"

// quillet-cli diff end to end: the bytes "Записать" would save, the worker's
// errors, the filter options.

namespace {

#ifdef QUILLET_CLI_PATH

using quillet::testing::CliResult;
using quillet::testing::Quote;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// redirections: further ones for the shell, after stdout and stderr are set.
CliResult RunCli(const TempDir& dir, std::vector<std::string> args, const std::string& redirections = "") {
  args.insert(args.begin(), "diff");
  return quillet::testing::RunProgram(QUILLET_CLI_PATH, dir, args, "", redirections);
}

// What the comparison window would save for these two files and filter.
std::string SavedBytes(const std::string& original, const std::string& current,
                       const std::vector<std::pair<std::uint32_t, std::uint32_t>>& filter = {}) {
  std::string text = quillet::ComposeComparisonHeader(original, current);
  const std::string a = ReadBytes(original), b = ReadBytes(current);
  const auto length = static_cast<std::uint32_t>(std::min(a.size(), b.size()));
  text += quillet::testing::CompareLines(reinterpret_cast<const std::uint8_t*>(a.data()),
                                         reinterpret_cast<const std::uint8_t*>(b.data()), length,
                                         [&](std::uint32_t address) {
                                           for (const auto& [start, end] : filter)
                                             if (address >= start && address <= end) return true;
                                           return false;
                                         });
  return quillet::EncodeSavedLines(quillet::SplitEditLines(text)).bytes;
}

class CliDiff : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string image(0x3000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13);
    WriteBytes(m_dir / "orig.bin", image);
    for (std::size_t at : {0x10u, 0x11u, 0x1005u, 0x2FFFu}) image[at] = static_cast<char>(image[at] ^ 0x5A);
    image += "tail";  // the longer current image's tail gives no line
    WriteBytes(m_dir / "Текущий.bin", image);
    WriteBytes(m_dir / "quillet.INI", "[Address Filter]\r\n0=1000 10FF\r\n");
    WriteBytes(m_dir / "none.ini", "; nothing\r\n");
  }

  TempDir m_dir;
};

TEST_F(CliDiff, WritesWhatTheWindowWouldSave) {
  const std::string original = m_dir / "orig.bin", current = m_dir / "Текущий.bin";
  struct Row {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> filter;
  };
  for (const Row& row :
       {Row{"settings_file_in_working_folder", {}, {{0x1000, 0x10FF}}}, Row{"no_filter", {"--no-filter"}, {}},
        Row{"named_settings_file", {"--filter-ini", "none.ini"}, {}}}) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = row.options;
    args.push_back(original);
    args.push_back(current);
    const CliResult run = RunCli(m_dir, args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The longer current image's tail is not compared, and stderr says so.
    EXPECT_EQ(run.err, "quillet-cli: " + current + " is longer than " + original +
                           " by 4 bytes; only the first 12288 bytes were compared\n");
    EXPECT_EQ(run.out, SavedBytes(original, current, row.filter));
  }
  // --exit-code says "they differ" in the status, and "the same" with 0;
  // images of different sizes differ even when their common bytes don't.
  WriteBytes(m_dir / "longer.bin", ReadBytes(original) + "x");
  EXPECT_EQ(RunCli(m_dir, {"--no-filter", "--exit-code", original, current}).exitCode, 1);
  EXPECT_EQ(RunCli(m_dir, {"--no-filter", "--exit-code", original, original}).exitCode, 0);
  EXPECT_EQ(RunCli(m_dir, {"--no-filter", "--exit-code", original, m_dir / "longer.bin"}).exitCode, 1);
  // Spot checks that do not lean on the helpers above.
  const CliResult run = RunCli(m_dir, {"--no-filter", original, current});
  EXPECT_TRUE(
      run.out.starts_with(";\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9 Full Flash: " + original + "\r\n"));
  EXPECT_TRUE(run.out.ends_with("\r\n\r\n"));
  EXPECT_NE(run.out.find("\r\n002FFF: "), std::string::npos);
  EXPECT_NE(run.out.find("\r\n\r\n000010: "), std::string::npos);
  EXPECT_NE(run.out.find("\r\n001005: "), std::string::npos);
}

TEST_F(CliDiff, OutputFileGetsTheSameBytes) {
  const CliResult toStdout = RunCli(m_dir, {"--no-filter", "orig.bin", "Текущий.bin"});
  const CliResult toFile = RunCli(m_dir, {"--no-filter", "orig.bin", "Текущий.bin", "-o", "out.vkp"});
  EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(ReadBytes(m_dir / "out.vkp"), toStdout.out);
  // Paths in the header stay as given.
  EXPECT_TRUE(toStdout.out.find("Full Flash: orig.bin\r\n") != std::string::npos);
  // With stderr closed the size warning must not land in the file opened next.
  const CliResult noStderr = RunCli(m_dir, {"--no-filter", "orig.bin", "Текущий.bin", "-o", "closed.vkp"}, "2>&- <&-");
  EXPECT_EQ(noStderr.exitCode, 0);
  EXPECT_EQ(ReadBytes(m_dir / "closed.vkp"), toStdout.out);
  // A value is taken as given, as "-o -z" would be.
  EXPECT_EQ(RunCli(m_dir, {"--no-filter", "orig.bin", "Текущий.bin", "-o", "--exit-code"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(m_dir / "--exit-code"), toStdout.out);
}

// An output that is one of the images, however it is spelled, would replace
// the firmware with the patch: refused before anything is read.
TEST_F(CliDiff, RefusesToWriteOverAnImage) {
  const std::string image = ReadBytes(m_dir / "orig.bin");
  const std::string current = ReadBytes(m_dir / "Текущий.bin");
  ASSERT_EQ(::symlink("orig.bin", (m_dir / "link.bin").c_str()), 0);
  ASSERT_EQ(::link((m_dir / "orig.bin").c_str(), (m_dir / "hard.bin").c_str()), 0);
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string redirections;
    std::string err;
  };
  const std::string cur = "Текущий.bin";
  const std::vector<Row> rows = {
      {"original_same_text",
       {"orig.bin", cur, "-o", "orig.bin"},
       "",
       "the output orig.bin is the image orig.bin itself"},
      {"current_same_text", {"orig.bin", cur, "-o", cur}, "", "the output " + cur + " is the image " + cur + " itself"},
      {"dot_slash", {"orig.bin", cur, "-o", "./orig.bin"}, "", "the output ./orig.bin is the image orig.bin itself"},
      {"symbolic_link", {"orig.bin", cur, "-o", "link.bin"}, "", "the output link.bin is the image orig.bin itself"},
      {"hard_link", {cur, "hard.bin", "-o", "orig.bin"}, "", "the output orig.bin is the image hard.bin itself"},
      {"absolute_path", {"orig.bin", cur, "-o", m_dir / "orig.bin"}, "", "is the image orig.bin itself"},
      {"stdout_appends_to_image", {"orig.bin", cur}, ">>orig.bin", "standard output is the image orig.bin itself"},
      {"stdout_as_dash", {"orig.bin", cur, "-o", "-"}, ">>link.bin", "standard output is the image orig.bin itself"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = {"--no-filter"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const CliResult run = RunCli(m_dir, args, row.redirections);
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_TRUE(run.err.starts_with("quillet-cli: ") && run.err.find(row.err) != std::string::npos &&
                run.err.find('\n') == run.err.size() - 1)
        << run.err;
    EXPECT_EQ(ReadBytes(m_dir / "orig.bin"), image);
    EXPECT_EQ(ReadBytes(m_dir / "Текущий.bin"), current);
  }
}

TEST_F(CliDiff, FailuresGoToStderrAndWriteNothing) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // a text expected somewhere in stderr
  };
  const std::vector<Row> rows = {
      {"original_missing",
       {"--no-filter", "gone.bin", "orig.bin", "-o", "out.vkp"},
       2,
       "quillet-cli: gone.bin: can't open the image (No such file or directory)\n"},
      {"current_missing",
       {"--no-filter", "orig.bin", "gone.bin", "-o", "out.vkp"},
       2,
       "quillet-cli: gone.bin: can't open the image (No such file or directory)\n"},
      {"current_is_folder",
       {"--no-filter", "orig.bin", ".", "-o", "out.vkp"},
       2,
       "quillet-cli: .: can't open the image (Is a directory)\n"},
      {"output_folder_missing", {"--no-filter", "orig.bin", "orig.bin", "-o", "nowhere/out.vkp"}, 74, "quillet-cli: "},
      {"one_image_only", {"orig.bin", "-o", "out.vkp"}, 64, "usage:"},
      {"both_filter_options",
       {"--no-filter", "--filter-ini", "none.ini", "orig.bin", "orig.bin", "-o", "out.vkp"},
       64,
       "usage:"},
      {"filter_file_missing", {"--filter-ini", "gone.ini", "orig.bin", "orig.bin", "-o", "out.vkp"}, 2, "gone.ini"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const CliResult run = RunCli(m_dir, row.args);
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    struct stat st {};
    EXPECT_NE(::stat((m_dir / "out.vkp").c_str(), &st), 0) << "an output file was written";
  }
}

#endif  // QUILLET_CLI_PATH

}  // namespace
