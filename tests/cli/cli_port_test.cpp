#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_cli.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

// quillet-cli port end to end: exit statuses, where the ported patches land,
// and the outputs it refuses before reading anything.

namespace {

#ifdef QUILLET_CLI_PATH

using quillet::testing::CliResult;
using quillet::testing::Quote;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

CliResult RunCli(const TempDir& dir, const std::vector<std::string>& args) {
  return quillet::testing::RunProgram(QUILLET_CLI_PATH, dir, args);
}

// A line changing length bytes of first at address.
std::string Line(const std::string& first, std::uint32_t address, std::uint32_t length) {
  char text[8];
  std::string old;
  std::string changed;
  for (std::uint32_t i = 0; i < length; ++i) {
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint8_t>(first[address + i]));
    old += text;
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint8_t>(first[address + i] ^ 0x5A));
    changed += text;
  }
  std::snprintf(text, sizeof text, "%06X", address);
  return std::string(text) + ": " + old + " " + changed + "\r\n";
}

struct PortRow {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::vector<std::string> written = {};     // files there afterwards
  std::vector<std::string> notWritten = {};  // files not there
  std::string err = "";                      // somewhere in stderr
};

void PrintTo(const PortRow& row, std::ostream* os) { *os << row.name; }

class PortTable : public ::testing::TestWithParam<PortRow> {};

TEST_P(PortTable, ExitStatusAndOutputs) {
  const PortRow& row = GetParam();
  TempDir dir;
  quillet::SplitMix64 rng(7);
  std::string first;
  for (int i = 0; i < 0x4000; ++i) first += static_cast<char>(rng.below(256));
  std::string second = first.substr(0, 0x1000) + std::string(0x100, '\x11') + first.substr(0x1000);
  WriteBytes(dir / "a.bin", first);
  WriteBytes(dir / "b.bin", second);
  WriteBytes(dir / "quillet.INI", "[Address Filter]\r\n");
  for (const char* folder : {"p/sub", "q"}) std::filesystem::create_directories(dir / folder);
  WriteBytes(dir / "p/one.vkp", Line(first, 0x2000, 16));
  WriteBytes(dir / "p/sub/two.vkp", Line(first, 0x3000, 12));
  WriteBytes(dir / "p/short.vkp", Line(first, 0x2800, 4));
  WriteBytes(dir / "q/one.vkp", Line(first, 0x2100, 16));
  std::filesystem::create_symlink("b.bin", dir / "link.vkp");

  const CliResult result = RunCli(dir, row.args);
  EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
  EXPECT_NE((result.out + result.err).find(row.err), std::string::npos) << result.out << result.err;
  for (const std::string& path : row.written) EXPECT_TRUE(std::filesystem::exists(dir / path)) << path;
  for (const std::string& path : row.notWritten) EXPECT_FALSE(std::filesystem::exists(dir / path)) << path;
  EXPECT_TRUE(ReadBytes(dir / "b.bin") == second) << "the image";
}

INSTANTIATE_TEST_SUITE_P(
    Port, PortTable,
    ::testing::Values(
        PortRow{"OnePatchToStandardOutput",
                {"port", "b.bin", "p/one.vkp"},
                0,
                {},
                {},
                "ported\tp/one.vkp\n  002000-00200F: shift +0x100\n"},
        PortRow{"AFolderKeepsItsTreeAndLeavesTheRefusedOut",
                {"port", "b.bin", "p", "-o", "out"},
                1,
                {"out/one.vkp", "out/sub/two.vkp"},
                {"out/short.vkp"},
                "002800-002803: too short to place"},
        PortRow{"TheFirmwarePlacesTheShortPiece",
                {"port", "--from", "a.bin", "b.bin", "p", "-o", "out"},
                0,
                {"out/one.vkp", "out/sub/two.vkp", "out/short.vkp"}},
        PortRow{"TwoOnOnePathWriteNothing", {"port", "b.bin", "p", "q", "-o", "out"}, 64, {}, {"out"}, "both"},
        PortRow{"SeveralNeedAFolder", {"port", "b.bin", "p"}, 64},
        PortRow{"TheImageByALinkIsNoOutput", {"port", "b.bin", "p/one.vkp", "-o", "link.vkp"}, 64},
        PortRow{"TheSettingsFileIsNoOutput", {"port", "b.bin", "p/one.vkp", "-o", "./quillet.INI"}, 64},
        PortRow{"APatchIsNoOutput", {"port", "b.bin", "p", "-o", "p"}, 64},
        PortRow{"AnImageThatCantBeRead", {"port", "missing.bin", "p/one.vkp", "-o", "x.vkp"}, 2, {}, {"x.vkp"}},
        PortRow{"APatchThatCantBeRead", {"port", "b.bin", "missing.vkp", "-o", "x.vkp"}, 3, {}, {"x.vkp"}}),
    [](const ::testing::TestParamInfo<PortRow>& info) { return std::string(info.param.name); });

#endif

}  // namespace
