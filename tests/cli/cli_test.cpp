#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_cli.h"

// quillet-cli end to end: the built binary run in a folder of its own.

namespace {

#ifdef QUILLET_CLI_PATH

using quillet::testing::Quote;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A folder holding an image, patch files of each status and a settings file.
class CliFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    std::string image(0x2000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
    Put(m_dir + "/img.bin", image);
    Put(m_dir + "/p/b.vkp", "; installed\r\n000010: 00 70\r\n");
    Put(m_dir + "/p/sub/a.vkp", "000010: 00 71\n");  // not installed
    Put(m_dir + "/p/sub/b.vkp",
        "\xEF\xBB\xBF"
        "10: 70");                                         // broken by its byte-order mark
    Put(m_dir + "/p/sub/c.txt", "10: 71");                 // not *.vkp: only listed by name
    Put(m_dir + "/p/filtered.vkp", "+1000\n000: FFFF\n");  // differs only inside the filter
    Put(m_dir + "/quillet.INI", "[Address Filter]\r\n0=1001 1000\r\n1=0x0 0\r\n");
    Put(m_dir + "/other.ini", "[address filter]\n0=1001 1001\n");
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  CliRun run(const std::vector<std::string>& args) const { return runIn(m_dir, QUILLET_CLI_PATH, args); }

  CliRun runIn(const std::string& cwd, const std::string& program, const std::vector<std::string>& args) const {
    std::string command = "cd " + Quote(cwd) + " && exec " + Quote(program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote(m_dir + "/.out") + " 2>" + Quote(m_dir + "/.err");
    const int status = std::system(command.c_str());
    CliRun result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = Slurp(m_dir + "/.out");
    result.err = Slurp(m_dir + "/.err");
    return result;
  }

  std::string m_dir;
};

struct CliRow {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;  // exact; "*" + text: the text somewhere in stderr
};

void PrintTo(const CliRow& row, std::ostream* os) { *os << row.name; }

class CliTable : public CliFixture, public ::testing::WithParamInterface<CliRow> {};

TEST_P(CliTable, OutputAndExitCode) {
  const CliRow& row = GetParam();
  const CliRun result = run(row.args);
  EXPECT_EQ(result.exitCode, row.exitCode);
  EXPECT_EQ(result.out, row.out);
  if (row.err.starts_with('*'))
    EXPECT_NE(result.err.find(row.err.substr(1)), std::string::npos) << result.err;
  else
    EXPECT_EQ(result.err, row.err);
}

const std::string kUsage =
    "*usage: quillet-cli check [--filter-ini FILE | --no-filter] [--details] [--json | -z] IMAGE PATCH_OR_FOLDER...";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliTable,
    ::testing::Values(
        CliRow{"folder_scan_sorted_by_name_then_path",
               {"check", "img.bin", "p"},
               0,
               "not-installed\tp/sub/a.vkp\ninstalled\tp/b.vkp\nbroken\tp/sub/b.vkp\ninstalled\tp/filtered.vkp\n",
               ""},
        CliRow{"paths_listed_once_any_extension",
               {"check", "img.bin", "p/b.vkp", "p/sub/c.txt", "p", "p/b.vkp"},
               0,
               "not-installed\tp/sub/a.vkp\ninstalled\tp/b.vkp\nbroken\tp/sub/b.vkp\nnot-installed\tp/sub/c.txt\n"
               "installed\tp/filtered.vkp\n",
               ""},
        CliRow{"no_filter_sees_filtered_bytes",
               {"check", "--no-filter", "img.bin", "p/filtered.vkp"},
               0,
               "not-installed\tp/filtered.vkp\n",
               ""},
        CliRow{"filter_ini_replaces_settings",
               {"check", "--filter-ini", "other.ini", "img.bin", "p/filtered.vkp"},
               0,
               "not-installed\tp/filtered.vkp\n",
               ""},
        CliRow{"filter_ini_equals_form",
               {"check", "--filter-ini=quillet.INI", "img.bin", "p/filtered.vkp"},
               0,
               "installed\tp/filtered.vkp\n",
               ""},
        CliRow{"image_missing",
               {"check", "gone.bin", "p"},
               2,
               "",
               "quillet-cli: gone.bin: can't open the image (No such file or directory)\n"},
        CliRow{
            "image_is_folder", {"check", "p", "p"}, 2, "", "quillet-cli: p: can't open the image (Is a directory)\n"},
        CliRow{"patch_missing_ends_run",
               {"check", "img.bin", "p/b.vkp", "p/bz.vkp", "p/sub/c.txt"},
               3,
               "installed\tp/b.vkp\n",
               "quillet-cli: p/bz.vkp was not found.\n"},
        CliRow{"filter_ini_missing",
               {"check", "--filter-ini", "gone.ini", "img.bin", "p"},
               2,
               "",
               "quillet-cli: gone.ini was not found.\n"},
        CliRow{"filter_lists_in_order", {"filter"}, 0, "001000 001001\n000000 000000\n", ""},
        CliRow{"filter_from_named_file", {"filter", "--filter-ini", "other.ini"}, 0, "001001 001001\n", ""},
        CliRow{"filter_none", {"filter", "--no-filter"}, 0, "", ""},
        CliRow{"filter_ini_missing_for_filter",
               {"filter", "--filter-ini", "gone.ini"},
               2,
               "",
               "quillet-cli: gone.ini was not found.\n"},
        CliRow{"double_dash_ends_options",
               {"check", "--no-filter", "--", "img.bin", "-x.vkp"},
               3,
               "",
               "quillet-cli: -x.vkp was not found.\n"},
        CliRow{"version", {"--version"}, 0, "quillet-cli 0.4.2\n", ""}, CliRow{"no_command", {}, 64, "", kUsage},
        CliRow{"unknown_command", {"search"}, 64, "", kUsage},
        CliRow{"mistyped_command",
               {"chekc", "img.bin", "p"},
               64,
               "",
               "*quillet-cli: unknown command 'chekc'; did you mean 'check'?\n"},
        CliRow{"help_for_mistyped_command",
               {"help", "conflict"},
               64,
               "",
               "*quillet-cli: unknown command 'conflict'; did you mean 'conflicts'?\n"},
        CliRow{"mistyped_option_before_command",
               {"--verison"},
               64,
               "",
               "quillet-cli: unknown option '--verison'; did you mean '--version'?\n"
               "quillet-cli: 'quillet-cli --help' lists the commands and their options\n"},
        CliRow{"option_before_command",
               {"--no-filter", "check"},
               64,
               "",
               "*quillet-cli: option '--no-filter' goes after the command\n"},
        CliRow{"json_image_missing_prints_nothing",
               {"check", "--json", "gone.bin", "p"},
               2,
               "",
               "quillet-cli: gone.bin: can't open the image (No such file or directory)\n"},
        CliRow{"json_patch_missing_still_an_array",
               {"check", "--json", "img.bin", "p/gone.vkp"},
               3,
               "[]\n",
               "quillet-cli: p/gone.vkp was not found.\n"},
        CliRow{"mistyped_option_points_to_its_help",
               {"check", "--detials=x", "img.bin", "p"},
               64,
               "",
               "quillet-cli: unknown option '--detials=x'; did you mean '--details'?\n"
               "quillet-cli: 'quillet-cli check --help' lists the options\n"},
        CliRow{"missing_patch_operand", {"check", "img.bin"}, 64, "", kUsage},
        CliRow{"both_filter_options",
               {"check", "--no-filter", "--filter-ini", "other.ini", "img.bin", "p"},
               64,
               "",
               kUsage},
        CliRow{"filter_ini_without_value", {"filter", "--filter-ini"}, 64, "", kUsage},
        CliRow{"filter_with_operand", {"filter", "extra"}, 64, "", kUsage}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliFixture, HelpGoesToStdout) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"help", "diff"}, {"diff", "--help"}}) {
    const CliRun result = run(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.starts_with("usage: quillet-cli check")) << result.out;
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(run({"help", "nonsense"}).exitCode, 64);
}

// No file name or file content forges a line, a record or a JSON value, or
// reaches the terminal as a control: one escaping rule for every text line,
// raw paths with -z only, strict JSON with the exact bytes beside a name that
// is not UTF-8.
TEST_F(CliFixture, NamesAndContentsForgeNoOutput) {
  struct Row {
    const char* name;
    std::string file;    // the patch file's name
    std::string listed;  // as the listing and conflicts write it
    std::string json;    // the JSON object's path fields
  };
  const std::vector<Row> rows = {
      {"ordinary_cyrillic_unchanged", "Патч 1.vkp", "Патч 1.vkp", R"("path":"odd/Патч 1.vkp")"},
      {"line_feed_and_tab", "x\ninstalled\tfake.vkp", R"(x\ninstalled\tfake.vkp)",
       R"("path":"odd/x\u000ainstalled\u0009fake.vkp")"},
      {"carriage_return", "a\rb.vkp", R"(a\x0Db.vkp)", R"("path":"odd/a\u000db.vkp")"},
      {"terminal_escape", "\x1B[2Jx.vkp", R"(\x1B[2Jx.vkp)", R"("path":"odd/\u001b[2Jx.vkp")"},
      {"delete", "a\x7F.vkp", R"(a\x7F.vkp)", R"("path":"odd/a\u007f.vkp")"},
      {"backslash_kept_apart_from_escapes", R"(a\n.vkp)", R"(a\\n.vkp)", R"("path":"odd/a\\n.vkp")"},
      {"c1_next_line", "a\xC2\x85z.vkp", R"(a\xC2\x85z.vkp)", R"("path":"odd/a\u0085z.vkp")"},
      {"c1_control_sequence_introducer",
       "a\xC2\x9B"
       "2J.vkp",
       R"(a\xC2\x9B2J.vkp)", R"("path":"odd/a\u009b2J.vkp")"},
      {"line_separator", "a\xE2\x80\xA8z.vkp", R"(a\xE2\x80\xA8z.vkp)", R"("path":"odd/a\u2028z.vkp")"},
      {"paragraph_separator", "a\xE2\x80\xA9z.vkp", R"(a\xE2\x80\xA9z.vkp)", R"("path":"odd/a\u2029z.vkp")"},
      {"not_utf8", "a\xFF\xC3.vkp", R"(a\xFF\xC3.vkp)",
       "\"path\":\"odd/a\xEF\xBF\xBD\xEF\xBF\xBD.vkp\",\"pathBytes\":\"6f64642f61ffc32e766b70\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(m_dir + "/odd");
    Put(m_dir + "/odd/" + row.file, "000010: 00 71\n");
    Put(m_dir + "/odd/~partner.vkp", "000010: 00 72\n");  // collides with it
    const std::string path = "odd/" + row.file;
    EXPECT_EQ(run({"check", "--no-filter", "img.bin", path}).out, "not-installed\todd/" + row.listed + "\n");
    EXPECT_EQ(run({"check", "--no-filter", "-z", "img.bin", path}).out, "not-installed\t" + path + '\0');
    EXPECT_EQ(run({"check", "--no-filter", "--json", "img.bin", path}).out,
              "[\n{" + row.json + ",\"status\":\"not-installed\"}\n]\n");
    const CliRun conflicts = run({"conflicts", "odd"});
    EXPECT_EQ(conflicts.exitCode, 1);
    const std::string pairs[] = {"odd/" + row.listed + "\todd/~partner.vkp\n  000010: 71 72\n",
                                 "odd/~partner.vkp\todd/" + row.listed + "\n  000010: 72 71\n"};
    EXPECT_TRUE(conflicts.out == pairs[0] || conflicts.out == pairs[1]) << conflicts.out;
    const CliRun missing = run({"check", "--no-filter", "img.bin", path + ".gone"});
    EXPECT_EQ(missing.err, "quillet-cli: odd/" + row.listed + ".gone was not found.\n");
  }

  // A broken line is shown as read, escaped; with -z each details line is a
  // record of its own, led by two spaces.
  Put(m_dir + "/odd/broken.vkp", std::string("10: 70\r\x1B[2J\0zz\n", 15));
  const std::string shown = R"(  line 1: a written byte pair not hexadecimal: 10: 70\x0D\x1B[2J\x00zz)";
  EXPECT_EQ(run({"check", "--details", "img.bin", "odd/broken.vkp"}).out, "broken\todd/broken.vkp\n" + shown + "\n");
  EXPECT_EQ(run({"check", "--details", "-z", "img.bin", "odd/broken.vkp"}).out,
            "broken\todd/broken.vkp" + std::string(1, '\0') + shown + '\0');
  EXPECT_EQ(run({"check", "--details", "--json", "img.bin", "odd/broken.vkp"}).out,
            "[\n{\"path\":\"odd/broken.vkp\",\"status\":\"broken\",\"line\":1,\"rule\":\"byte-not-hexadecimal\","
            R"("lineText":"10: 70\u000d\u001b[2J\u0000zz","byteOrderMark":false})"
            "\n]\n");
  EXPECT_EQ(run({"check", "--json", "-z", "img.bin", "odd"}).exitCode, 64);
}

TEST_F(CliFixture, OutputThatCannotBeWrittenIsAnError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // conflicts finds a collision in p (b.vkp and sub/a.vkp), so its exit 1 must give way too;
  // a closed stdout receives nothing either.
  for (const char* args : {" check img.bin p >/dev/full", " conflicts p >/dev/full", " check img.bin p >&-"}) {
    SCOPED_TRACE(args);
    const std::string command =
        "cd " + Quote(m_dir) + " && exec " + Quote(QUILLET_CLI_PATH) + args + " 2>" + Quote(m_dir + "/.err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 74);
    EXPECT_NE(Slurp(m_dir + "/.err").find("can't write the output"), std::string::npos);
  }
}

TEST_F(CliFixture, ConflictsNamePairsInListOrderWithEachCollidingByte) {
  Put(m_dir + "/lib/a.vkp", "10: 00 AA\n+100\n0: 11\n11: 22\n");  // writes 100 and 111 under the offset
  Put(m_dir + "/lib/sub/b.vkp", "100: 11\n10: 99\n10: BB\n12: CC\n111: 23\n");
  Put(m_dir + "/lib/c.vkp", "10: AA\n");       // agrees with a.vkp only
  Put(m_dir + "/lib/d.vkp", "10: 77\nXYZ\n");  // broken: left out, 10 never counts
  const CliRun some = run({"conflicts", "lib", "lib/a.vkp"});
  EXPECT_EQ(some.exitCode, 1) << some.err;
  EXPECT_EQ(some.out,
            "lib/a.vkp\tlib/sub/b.vkp\n  000010: AA BB\n  000111: 22 23\n"
            "lib/sub/b.vkp\tlib/c.vkp\n  000010: BB AA\n");
  EXPECT_EQ(some.err, "quillet-cli: lib/d.vkp: invalid line 2, left out\n");

  const CliRun none = run({"conflicts", "lib/c.vkp", "lib/a.vkp", "lib/d.vkp"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "");

  const CliRun missing = run({"conflicts", "lib", "lib/gone.vkp"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_EQ(missing.out, some.out);
  EXPECT_NE(missing.err.find("quillet-cli: lib/gone.vkp was not found.\n"), std::string::npos) << missing.err;

  EXPECT_EQ(run({"conflicts"}).exitCode, 64);
  EXPECT_EQ(run({"conflicts", "--no-filter", "lib"}).exitCode, 64);
}

// What is said to a person only, on a terminal: counted ranges, a desktop
// filter not in effect here, and a conflicts run that found nothing.
TEST_F(CliFixture, TerminalNotes) {
  if (std::system("script -qec true /dev/null >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  const auto onTerminal = [&](const std::string& cwd, const std::string& args) {
    const std::string command = "cd " + Quote(cwd) + " && XDG_CONFIG_HOME=" + Quote(m_dir + "/config") +
                                " script -qec " + Quote(Quote(QUILLET_CLI_PATH) + " " + args) + " /dev/null >" +
                                Quote(m_dir + "/.tty") + " 2>&1";
    (void)std::system(command.c_str());
    return Slurp(m_dir + "/.tty");
  };
  Put(m_dir + "/one/quillet.INI", "[Address Filter]\n0=10 20\n");
  EXPECT_NE(onTerminal(m_dir + "/one", "filter")
                .find("quillet-cli: using the address filter of " + m_dir + "/one/quillet.INI (1 range)"),
            std::string::npos);
  Put(m_dir + "/config/quillet/quillet.INI", "[Address Filter]\n0=10 20\n1=30 40\n");
  const std::string desktop = m_dir + "/config/quillet/quillet.INI";
  const std::string hint = "quillet-cli: no quillet.INI here, so no address filter; the desktop program's " + desktop +
                           " has 2 ranges: --filter-ini " + desktop + " uses it";
  Put(m_dir + "/none/x.vkp", "10: 00 71\n");
  EXPECT_NE(onTerminal(m_dir + "/none", "filter").find(hint), std::string::npos);
  EXPECT_EQ(onTerminal(m_dir + "/one", "filter").find("desktop program"), std::string::npos);
  EXPECT_NE(onTerminal(m_dir + "/none", "conflicts x.vkp").find("quillet-cli: no two patch files collide (1 compared)"),
            std::string::npos);
  // Not on a terminal: the output alone.
  std::filesystem::remove(m_dir + "/quillet.INI");
  EXPECT_EQ(run({"conflicts", "p/b.vkp"}).err, "");
  EXPECT_EQ(run({"filter"}).err, "");
}

TEST_F(CliFixture, NoSettingsFileMeansNoFilter) {
  std::filesystem::remove(m_dir + "/quillet.INI");
  EXPECT_EQ(run({"filter"}).out, "");
  EXPECT_EQ(run({"check", "img.bin", "p/filtered.vkp"}).out, "not-installed\tp/filtered.vkp\n");
}

TEST_F(CliFixture, UnreadableSettingsFileIsReported) {
  std::filesystem::remove(m_dir + "/quillet.INI");
  std::filesystem::create_directory(m_dir + "/quillet.INI");
  const CliRun result = run({"filter"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("quillet.INI"), std::string::npos) << result.err;
}

#ifdef QUILLET_DEMO_DATA_PATH

std::map<std::string, std::string> FolderContents(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = Slurp(entry.path().string());
  return files;
}

TEST_F(CliFixture, DemoDataHoldsEveryStatusAndIsRepeatable) {
  const std::string demo = m_dir + "/demo";
  ASSERT_EQ(runIn(m_dir, QUILLET_DEMO_DATA_PATH, {"demo"}).exitCode, 0);
  const auto first = FolderContents(demo);
  ASSERT_EQ(runIn(m_dir, QUILLET_DEMO_DATA_PATH, {"demo"}).exitCode, 0);
  ASSERT_EQ(runIn(m_dir, QUILLET_DEMO_DATA_PATH, {"again"}).exitCode, 0);
  EXPECT_TRUE(FolderContents(demo) == first);
  EXPECT_TRUE(FolderContents(m_dir + "/again") == first);
  EXPECT_EQ(first.at("current.bin").size(), 4u << 20);
  EXPECT_NE(first.at("current.bin"), first.at("original.bin"));

  const CliRun check = runIn(demo, QUILLET_CLI_PATH, {"check", "current.bin", "patches"});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  std::map<std::string, int> counts;
  std::istringstream lines(check.out);
  for (std::string line; std::getline(lines, line);) ++counts[line.substr(0, line.find('\t'))];
  EXPECT_EQ(counts["installed"], 14);
  EXPECT_EQ(counts["not-installed"], 11);
  EXPECT_EQ(counts["broken"], 5);
  EXPECT_NE(check.out.find("installed\tpatches/filtered_only.vkp\n"), std::string::npos);
  EXPECT_EQ(runIn(demo, QUILLET_CLI_PATH, {"check", "--no-filter", "current.bin", "patches/filtered_only.vkp"}).out,
            "not-installed\tpatches/filtered_only.vkp\n");

  // The README's walk shows exactly one colliding pair, four bytes long.
  const CliRun conflicts = runIn(demo, QUILLET_CLI_PATH, {"conflicts", "patches"});
  EXPECT_EQ(conflicts.exitCode, 1) << conflicts.err;
  EXPECT_EQ(conflicts.out.substr(0, conflicts.out.find('\n') + 1),
            "patches/fonts/digits_bold.vkp\tpatches/fonts/digits_large.vkp\n");
  EXPECT_EQ(std::count(conflicts.out.begin(), conflicts.out.end(), '\n'), 5) << conflicts.out;
}

#endif
#endif

}  // namespace
