#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/cp1251.h"
#include "core/res/strings.h"
#include "tests/support/run_cli.h"
#include "tests/support/temp_dir.h"

// quillet-cli apply end to end: what is refused, what reaches the disk, and
// that a failed or refused run leaves every file as it was.

namespace {

#ifdef QUILLET_CLI_PATH

using quillet::testing::CliResult;
using quillet::testing::Quote;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

std::string Hex(std::uint8_t value) {
  char buffer[4];
  std::snprintf(buffer, sizeof buffer, "%02X", value);
  return buffer;
}

// shell goes before the program, for limits set on the run.
CliResult RunCli(const TempDir& dir, const std::vector<std::string>& args, const std::string& shell = "") {
  return quillet::testing::RunProgram(QUILLET_CLI_PATH, dir, args, shell);
}

constexpr std::size_t kImageSize = 0x1000;

std::string Image() {
  std::string image(kImageSize, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
  return image;
}

std::uint8_t At(std::size_t address) { return static_cast<std::uint8_t>(Image()[address]); }

using Changes = std::map<std::size_t, std::uint8_t>;

std::string With(const Changes& changes) {
  std::string image = Image();
  for (const auto& [address, value] : changes) image[address] = static_cast<char>(value);
  return image;
}

enum Setup { plain = 0, readOnlyImage = 1, linkToImage = 2, settingsFile = 4, earlierUndo = 8 };

struct ApplyRow {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;                 // somewhere in stderr; empty: stderr is empty
  std::optional<Changes> outFile;  // out.bin as the image with these changes; nothing: there is none
  Changes image = {};              // the image afterwards
  int setup = plain;
  std::string shell = "";
};

void PrintTo(const ApplyRow& row, std::ostream* os) { *os << row.name; }

class ApplyTable : public ::testing::TestWithParam<ApplyRow> {};

const Changes kClean{{0x10, 0x12}, {0x11, 0x34}};
const Changes kCleanAndForeign{{0x10, 0x12}, {0x11, 0x34}, {0x30, 0x99}};
const std::string kForeignLine =
    "  made for another firmware: 000030: old " + Hex(At(0x30) ^ 1) + ", new 99, found " + Hex(At(0x30)) + "\n";

TEST_P(ApplyTable, ExitStatusLinesAndFiles) {
  const ApplyRow& row = GetParam();
  TempDir dir;
  WriteBytes(dir / "img.bin", Image());
  std::filesystem::create_directories(dir / "p");
  const std::map<std::string, std::string> patches{
      {"p/clean.vkp", "000010: " + Hex(At(0x10)) + Hex(At(0x11)) + " 1234\r\n"},
      {"p/done.vkp", "000020: 00 " + Hex(At(0x20)) + "\r\n"},
      {"p/foreign.vkp", "000030: " + Hex(At(0x30) ^ 1) + " 99\r\n"},
      {"p/clash.vkp", "000011: " + Hex(At(0x11)) + " 35\r\n"},
      {"p/single.vkp", "000040: 77\r\n"},
      {"p/broken.vkp", "XYZ\r\n"},
  };
  for (const auto& [path, text] : patches) WriteBytes(dir / path, text);
  if (row.setup & readOnlyImage) ::chmod((dir / "img.bin").c_str(), 0444);
  if (row.setup & linkToImage) std::filesystem::create_symlink("img.bin", dir / "link.bin");
  if (row.setup & settingsFile) WriteBytes(dir / "quillet.INI", "[Address Filter]\r\n");
  if (row.setup & earlierUndo) WriteBytes(dir / "undo.vkp", "earlier");

  const CliResult result = RunCli(dir, row.args, row.shell);
  EXPECT_EQ(result.exitCode, row.exitCode);
  EXPECT_EQ(result.out, row.out);
  if (row.err.empty())
    EXPECT_EQ(result.err, "");
  else
    EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
  EXPECT_TRUE(ReadBytes(dir / "img.bin") == With(row.image)) << "the image";
  if (row.outFile)
    EXPECT_TRUE(ReadBytes(dir / "out.bin") == With(*row.outFile)) << "out.bin";
  else
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  for (const auto& [path, text] : patches) EXPECT_EQ(ReadBytes(dir / path), text) << path;
  // Nothing is left behind: no temporary file above all.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
  std::erase_if(names, [](const std::string& name) {
    return name == "img.bin" || name == "p" || name == "out.bin" || name == "link.bin" || name == ".out" ||
           name == ".err" || name == "undo.vkp" || name == "quillet.INI";
  });
  EXPECT_TRUE(names.empty()) << names.front();
  // No row's run may leave an undo patch: each that asks for one writes nothing.
  if (row.setup & earlierUndo)
    EXPECT_EQ(ReadBytes(dir / "undo.vkp"), "earlier");
  else
    EXPECT_FALSE(std::filesystem::exists(dir / "undo.vkp"));
  if (row.setup & settingsFile) {
    EXPECT_EQ(ReadBytes(dir / "quillet.INI"), "[Address Filter]\r\n");
  }
}

const std::vector<std::string> kApply{"apply", "--no-filter"};

std::vector<std::string> Args(std::vector<std::string> more) {
  std::vector<std::string> args = kApply;
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ApplyTable,
    ::testing::Values(
        ApplyRow{"new_file_leaves_the_image", Args({"img.bin", "p/clean.vkp", "p/done.vkp", "-o", "out.bin"}), 0,
                 "applied\tp/clean.vkp\nalready-installed\tp/done.vkp\n", "", kClean},
        ApplyRow{"nothing_to_write_gives_a_copy", Args({"img.bin", "p/done.vkp", "-o", "out.bin"}), 0,
                 "already-installed\tp/done.vkp\n", "", Changes{}},
        ApplyRow{"other_firmware_refused_nothing_written",
                 Args({"img.bin", "p/clean.vkp", "p/foreign.vkp", "-o", "out.bin", "--undo", "undo.vkp"}), 1,
                 "would-apply\tp/clean.vkp\nrefused\tp/foreign.vkp\n" + kForeignLine,
                 "nothing was written: 1 of 2 patches refused", std::nullopt},
        ApplyRow{"force_writes_other_firmware",
                 Args({"--force", "img.bin", "p/clean.vkp", "p/foreign.vkp", "-o", "out.bin"}), 0,
                 "applied\tp/clean.vkp\napplied\tp/foreign.vkp\n", "", kCleanAndForeign},
        ApplyRow{
            "old_bytes_unknown_refused", Args({"img.bin", "p/single.vkp", "-o", "out.bin"}), 1,
            "refused\tp/single.vkp\n  old bytes unknown: 000040: old unknown, new 77, found " + Hex(At(0x40)) + "\n",
            "nothing was written", std::nullopt},
        ApplyRow{"collision_refuses_both", Args({"--force", "img.bin", "p", "-o", "out.bin"}), 1,
                 "refused\tp/broken.vkp\n  line 1: no ':': XYZ\n"
                 "refused\tp/clash.vkp\n  collides with p/clean.vkp at 000011: 35 here, 34 there\n"
                 "refused\tp/clean.vkp\n  collides with p/clash.vkp at 000011: 34 here, 35 there\n"
                 "already-installed\tp/done.vkp\nwould-apply\tp/foreign.vkp\nwould-apply\tp/single.vkp\n",
                 "nothing was written: 3 of 6 patches refused", std::nullopt},
        ApplyRow{"revert_writes_old_bytes", Args({"--revert", "img.bin", "p/done.vkp", "-o", "out.bin"}), 0,
                 "reverted\tp/done.vkp\n", "", Changes{{0x20, 0x00}}},
        ApplyRow{
            "revert_needs_old_bytes_even_forced",
            Args({"--revert", "--force", "img.bin", "p/single.vkp", "-o", "out.bin"}), 1,
            "refused\tp/single.vkp\n  old bytes unknown: 000040: old unknown, new 77, found " + Hex(At(0x40)) + "\n",
            "nothing was written", std::nullopt},
        ApplyRow{"in_place_replaces_the_image", Args({"img.bin", "p/clean.vkp", "--in-place"}), 0,
                 "applied\tp/clean.vkp\n", "", std::nullopt, kClean},
        ApplyRow{"read_only_image_in_place_stays",
                 Args({"img.bin", "p/clean.vkp", "--in-place"}),
                 74,
                 "would-apply\tp/clean.vkp\n",
                 "Access to img.bin was denied",
                 std::nullopt,
                 {},
                 readOnlyImage},
        ApplyRow{"full_disk_changes_nothing",
                 Args({"img.bin", "p/clean.vkp", "-o", "out.bin", "--undo", "undo.vkp"}),
                 74,
                 "would-apply\tp/clean.vkp\n",
                 "nothing was written: the output can't be written",
                 std::nullopt,
                 {},
                 plain,
                 "ulimit -f 2; trap '' XFSZ;"},
        ApplyRow{"dry_run_writes_nothing",
                 Args({"--dry-run", "img.bin", "p/clean.vkp", "-o", "out.bin", "--undo", "undo.vkp"}), 0,
                 "would-apply\tp/clean.vkp\n", "nothing was written: a dry run", std::nullopt},
        ApplyRow{"dry_run_needs_no_target", Args({"--dry-run", "--json", "img.bin", "p/foreign.vkp"}), 1,
                 "[\n{\"path\":\"p/"
                 "foreign.vkp\",\"status\":\"refused\",\"bytes\":1,\"filtered\":0,\"cause\":\"other-firmware\","
                 "\"reason\":\"made for another firmware: 000030: old " +
                     Hex(At(0x30) ^ 1) + ", new 99, found " + Hex(At(0x30)) +
                     "\",\"byte\":{\"address\":\"000030\",\"old\":\"" + Hex(At(0x30) ^ 1) +
                     "\",\"new\":\"99\",\"found\":\"" + Hex(At(0x30)) + "\"}}\n]\n",
                 "nothing was written", std::nullopt},
        ApplyRow{"output_names_a_patch", Args({"img.bin", "p/clean.vkp", "-o", "p/clean.vkp"}), 64, "",
                 "p/clean.vkp is the image, a patch", std::nullopt},
        ApplyRow{"output_names_the_image", Args({"img.bin", "p/clean.vkp", "-o", "./img.bin"}), 64, "",
                 "./img.bin is the image", std::nullopt},
        ApplyRow{"output_is_a_link_to_the_image",
                 Args({"img.bin", "p/clean.vkp", "-o", "link.bin"}),
                 64,
                 "",
                 "link.bin is the image",
                 std::nullopt,
                 {},
                 linkToImage},
        ApplyRow{"undo_names_the_image", Args({"img.bin", "p/clean.vkp", "--in-place", "--undo", "img.bin"}), 64, "",
                 "img.bin exists: an undo patch never replaces another", std::nullopt},
        ApplyRow{"undo_names_the_output", Args({"img.bin", "p/clean.vkp", "-o", "out.bin", "--undo", "out.bin"}), 64,
                 "", "out.bin is the image, a patch, the settings file or the other output", std::nullopt},
        ApplyRow{"output_is_the_settings_file",
                 Args({"img.bin", "p/clean.vkp", "-o", "quillet.INI"}),
                 64,
                 "",
                 "quillet.INI is the image, a patch, the settings file",
                 std::nullopt,
                 {},
                 settingsFile},
        ApplyRow{"undo_never_replaces_an_earlier_one",
                 Args({"img.bin", "p/clean.vkp", "--in-place", "--undo", "undo.vkp"}),
                 64,
                 "",
                 "undo.vkp exists: an undo patch never replaces another",
                 std::nullopt,
                 {},
                 earlierUndo},
        ApplyRow{"no_target", Args({"img.bin", "p/clean.vkp"}), 64, "", "usage:", std::nullopt},
        ApplyRow{"both_targets", Args({"img.bin", "p/clean.vkp", "-o", "out.bin", "--in-place"}), 64, "",
                 "usage:", std::nullopt},
        ApplyRow{"image_missing", Args({"gone.bin", "p/clean.vkp", "-o", "out.bin"}), 2, "",
                 "gone.bin: can't open the image (No such file or directory)", std::nullopt},
        ApplyRow{"patch_missing", Args({"img.bin", "p/clean.vkp", "p/gone.vkp", "-o", "out.bin"}), 3, "",
                 "p/gone.vkp was not found.", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// The undo patch is what diff of the image and the result saves, under a
// line that marks it as one, and reverted into the result, in place, it gives
// the image back.
const std::string kUndoMark = quillet::Utf8ToCp1251(quillet::text::kHeaderUndo) + "\r\n";

TEST(ApplyUndo, IsTheComparisonOfBeforeAndAfterAndRevertsExactly) {
  TempDir dir;
  WriteBytes(dir / "img.bin", Image());
  WriteBytes(dir / "a.vkp", "000010: " + Hex(At(0x10)) + Hex(At(0x11)) + " 1234\r\n+100\r\n0: 00 " + Hex(At(0x100)) +
                                "\r\nFF0: " + Hex(At(0xFF0)) + " 42\r\n");
  WriteBytes(dir / "b.vkp", "00001F: " + Hex(At(0x1F)) + Hex(At(0x20)) + " 5678\r\n");
  ASSERT_EQ(RunCli(dir, Args({"img.bin", "a.vkp", "b.vkp", "-o", "out.bin", "--undo", "undo.vkp"})).exitCode, 0);
  const CliResult diff = RunCli(dir, {"diff", "--no-filter", "img.bin", "out.bin"});
  ASSERT_EQ(diff.exitCode, 0);
  EXPECT_EQ(ReadBytes(dir / "undo.vkp"), kUndoMark + diff.out);
  EXPECT_NE(diff.out.find("00001F: " + Hex(At(0x1F)) + " 56\r\n000020: " + Hex(At(0x20)) + " 78\r\n"),
            std::string::npos);

  const CliResult back = RunCli(dir, Args({"--revert", "out.bin", "undo.vkp", "--in-place", "--undo", "redo.vkp"}));
  EXPECT_EQ(back.exitCode, 0) << back.err;
  EXPECT_EQ(back.out, "reverted\tundo.vkp\n");
  EXPECT_TRUE(ReadBytes(dir / "out.bin") == Image());
  // Nothing left to revert: the image is not rewritten, and the undo of that is empty of lines.
  const CliResult again = RunCli(dir, Args({"--revert", "out.bin", "undo.vkp", "--in-place", "--undo", "none.vkp"}));
  EXPECT_EQ(again.out, "already-reverted\tundo.vkp\n");
  EXPECT_EQ(ReadBytes(dir / "none.vkp"), kUndoMark + RunCli(dir, {"diff", "--no-filter", "out.bin", "out.bin"}).out);
}

#endif

}  // namespace
