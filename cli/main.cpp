#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "core/platform/nearest_word.h"
#include "core/platform/std_descriptors.h"
#include "core/res/strings.h"

namespace quillet::cli {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "usage: quillet-cli check [--filter-ini FILE | --no-filter] [--details] [--json | -z] IMAGE PATCH_OR_FOLDER...\n"
      "       quillet-cli filter [--filter-ini FILE | --no-filter]\n"
      "       quillet-cli diff [--filter-ini FILE | --no-filter] [--exit-code] ORIGINAL CURRENT [-o OUT]\n"
      "       quillet-cli conflicts PATCH_OR_FOLDER...\n"
      "       quillet-cli apply [--filter-ini FILE | --no-filter] [--revert] [--force] [--undo UNDO.vkp] [--dry-run]\n"
      "                         [--json] IMAGE PATCH_OR_FOLDER... (-o OUT | --in-place)\n"
      "       quillet-cli port [--from FIRMWARE] [--dry-run] [--json] IMAGE PATCH_OR_FOLDER... [-o OUT]\n"
      "       quillet-cli help [COMMAND] | COMMAND --help | --help | --version\n",
      out);
}

std::string DidYouMean(std::string_view word, const std::vector<std::string_view>& words) {
  const std::string_view nearest = quillet::NearestWord(word, words);
  return nearest.empty() ? std::string() : "; did you mean '" + std::string(nearest) + "'?";
}

}  // namespace quillet::cli

namespace {

struct CommandHelp {
  const char* name;
  const char* text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"check",
     "check   Checks which patch files are installed in IMAGE, the current Full Flash.\n"
     "        Each further argument is a patch file (any extension) or a folder, searched\n"
     "        with its subfolders for *.vkp files. Prints one line per patch file,\n"
     "        STATUS<TAB>PATH, in the order the program's list shows them; STATUS is\n"
     "        installed, not-installed or broken. Control characters, line and\n"
     "        paragraph separators and bytes that are not UTF-8 are escaped (\\n, \\t,\n"
     "        \\xHH a byte, \\\\) in every line written; -z ends each line with NUL\n"
     "        instead and leaves the path as it is. --details adds the evidence,\n"
     "        indented under each line: bytes checked and differing, what the old\n"
     "        bytes say, the first differing addresses, or the invalid line and the\n"
     "        rule it breaks. --json prints an array of {\"path\",\"status\"} objects\n"
     "        instead, with the details as fields; a path that is not UTF-8 also has\n"
     "        \"pathBytes\", its bytes in hexadecimal.\n"},
    {"filter", "filter  Prints the address filter's ranges, one \"START END\" line each.\n"},
    {"diff",
     "diff    Writes the differences of two Full Flash images as a .vkp patch, to\n"
     "        standard output or to OUT (replaced only once complete). Images of\n"
     "        different sizes are compared over the shorter one's length, and stderr\n"
     "        says so. --exit-code: exit 1 when the images differ (in size too), as\n"
     "        git diff does. An output that is one of the images is refused (64).\n"},
    {"conflicts",
     "conflicts\n"
     "        Lists the pairs of patch files (folders searched as for check) that\n"
     "        write different bytes at the same address: a line with the two paths,\n"
     "        then \"  ADDRESS: FIRST SECOND\" for each such byte. Files with an invalid\n"
     "        line are named on stderr and left out. Exit status 0 none, 1 some, 3 a\n"
     "        patch file can't be read.\n"},
    {"apply",
     "apply   Installs the patch files (listed as for check) into IMAGE, or with\n"
     "        --revert writes their old bytes back, all or nothing: a patch whose\n"
     "        bytes hold neither their old nor their new value, or whose old bytes\n"
     "        are unknown, is refused (--force writes it anyway when installing;\n"
     "        reverting always needs the old bytes), and so are two patches that\n"
     "        write different values at one address, and a broken file. The result\n"
     "        goes to OUT, or with --in-place replaces IMAGE, through a temporary\n"
     "        file that is read back and checked first. --undo writes a patch of\n"
     "        exactly the bytes that changed; reverted, it gives IMAGE back.\n"
     "        Prints STATUS<TAB>PATH per patch (applied, already-installed,\n"
     "        reverted, already-reverted or refused, with the reason indented\n"
     "        below); --json as for check; --dry-run writes nothing. Exit status 0\n"
     "        written (or nothing to write), 1 a patch was refused and nothing was\n"
     "        written; 2, 3, 64 and 74 as below. -o naming IMAGE or a patch is a\n"
     "        usage error.\n"},
    {"port",
     "port    Moves patch files made for another firmware (listed as for check) to\n"
     "        IMAGE: each piece of a patch (written addresses no more than 4096 apart)\n"
     "        is found again by its old bytes, or with --from by the bytes of\n"
     "        FIRMWARE, the image the patch was made for, around it, and moves by as\n"
     "        much as it moved. A piece found at no place or at several is refused.\n"
     "        Prints STATUS<TAB>PATH per patch (ported, fits or refused) and under it\n"
     "        a line per piece: its addresses and its shift or why it is refused;\n"
     "        --json as for check. One patch file goes to -o FILE or standard output\n"
     "        (the listing then goes to stderr); otherwise the ported patches go into\n"
     "        -o DIR, each at its path below the folder it was found in. Refused\n"
     "        patches are not written; --dry-run writes nothing. Exit status 0 none\n"
     "        refused, 1 some refused (the others are written); 2, 3, 64 and 74 as\n"
     "        below. An output that is an input is a usage error.\n"},
};

constexpr char kCommonHelp[] =
    "\n"
    "The address filter is read from quillet.INI in the working directory, as the\n"
    "desktop program started there would read it, unless --filter-ini names another\n"
    "settings file or --no-filter turns it off.\n"
    "\n"
    "Exit status: 0 done (whatever the statuses), 2 the image or settings file can't\n"
    "be used, 3 a patch file can't be read, 64 usage error, 74 the output can't be\n"
    "written.\n";

const CommandHelp* FindHelp(const std::string& name) {
  for (const CommandHelp& help : kCommandHelp)
    if (name == help.name) return &help;
  return nullptr;
}

// The whole help, or one command's.
void PrintHelp(const CommandHelp* only) {
  quillet::cli::PrintUsage(stdout);
  std::fputs("\n", stdout);
  for (const CommandHelp& help : kCommandHelp)
    if (only == nullptr || only == &help) std::fputs(help.text, stdout);
  std::fputs(kCommonHelp, stdout);
}

// "--help" or "-h" among a command's options (not after "--").
bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

// An unknown command, with the command it is closest to when it is near one.
void ReportUnknownCommand(const std::string& word) {
  std::vector<std::string_view> commands;
  for (const CommandHelp& help : kCommandHelp) commands.emplace_back(help.name);
  commands.emplace_back("help");
  quillet::cli::PrintError("unknown command '" + word + "'" + quillet::cli::DidYouMean(word, commands));
  quillet::cli::PrintUsage(stderr);
}

// Help and version text is output too: a full disk must not pass for success.
int Finished(int status) {
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) &&
      (status == quillet::cli::kExitOk || status == quillet::cli::kExitConflicts)) {
    std::fprintf(stderr, "quillet-cli: can't write the output: %s\n", std::strerror(errno));
    return quillet::cli::kExitOutput;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillet::cli;
  // Before anything is opened: a file opened on a closed descriptor 2 would
  // receive the warnings meant for stderr.
  if (!quillet::EnsureStandardDescriptors()) return kExitInternal;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h") {
    PrintHelp(nullptr);
    return Finished(kExitOk);
  }
  if (command == "help") {
    const CommandHelp* help = args.empty() ? nullptr : FindHelp(args.front());
    if (!args.empty() && help == nullptr) {
      ReportUnknownCommand(args.front());
      return kExitUsage;
    }
    PrintHelp(help);
    return Finished(kExitOk);
  }
  if (command == "--version") {
    std::printf("quillet-cli %s\n", quillet::text::kVersion);
    return Finished(kExitOk);
  }
  if (const CommandHelp* help = FindHelp(command); help != nullptr && AsksForHelp(args)) {
    PrintHelp(help);
    return Finished(kExitOk);
  }
  SetCommandName(command);
  int status = kExitUsage;
  if (command == "check") {
    status = RunCheck(args);
  } else if (command == "filter") {
    status = RunFilter(args);
  } else if (command == "diff") {
    status = RunDiff(args);
  } else if (command == "conflicts") {
    status = RunConflicts(args);
  } else if (command == "apply") {
    status = RunApply(args);
  } else if (command == "port") {
    status = RunPort(args);
  } else if (command.starts_with('-') && command != "-") {
    const std::string name = command.substr(0, command.find('='));
    const std::vector<std::string_view> commandOptions{"--filter-ini", "--no-filter", "--details", "--json",  "-z",
                                                       "--exit-code",  "-o",          "--revert",  "--force", "--undo",
                                                       "--dry-run",    "--in-place",  "--from"};
    if (std::find(commandOptions.begin(), commandOptions.end(), name) != commandOptions.end()) {
      PrintError("option '" + name + "' goes after the command");
      PrintUsage(stderr);
    } else {
      std::vector<std::string_view> options{"--help", "--version"};
      options.insert(options.end(), commandOptions.begin(), commandOptions.end());
      PrintError("unknown option '" + command + "'" + DidYouMean(name, options));
      PrintError("'quillet-cli --help' lists the commands and their options");
    }
  } else {
    ReportUnknownCommand(command);
  }
  // A full disk or a closed pipe must not pass for a complete listing.
  return Finished(status);
}
