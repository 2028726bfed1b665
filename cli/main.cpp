#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/res/strings.h"

namespace quillet::cli {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "usage: quillet-cli check [--filter-ini FILE | --no-filter] IMAGE PATCH_OR_FOLDER...\n"
      "       quillet-cli filter [--filter-ini FILE | --no-filter]\n"
      "       quillet-cli diff [--filter-ini FILE | --no-filter] ORIGINAL CURRENT [-o OUT]\n"
      "       quillet-cli conflicts PATCH_OR_FOLDER...\n"
      "       quillet-cli --help | --version\n",
      out);
}

}  // namespace quillet::cli

namespace {

void PrintHelp() {
  quillet::cli::PrintUsage(stdout);
  std::fputs(
      "\n"
      "check   Checks which patch files are installed in IMAGE, the current Full Flash.\n"
      "        Each further argument is a patch file (any extension) or a folder, searched\n"
      "        with its subfolders for *.vkp files. Prints one line per patch file,\n"
      "        STATUS<TAB>PATH, sorted by file name; STATUS is installed, not-installed\n"
      "        or broken. --details adds the evidence, indented under each line: bytes\n"
      "        checked and differing, what the old bytes say, the first differing\n"
      "        addresses, or the invalid line and the rule it breaks. --json prints an\n"
      "        array of {\"path\",\"status\"} objects instead, with the details as fields.\n"
      "filter  Prints the address filter's ranges, one \"START END\" line each.\n"
      "diff    Writes the differences of two Full Flash images as a .vkp patch.\n"
      "conflicts\n"
      "        Lists the pairs of patch files (folders searched as for check) that\n"
      "        write different bytes at the same address: a line with the two paths,\n"
      "        then \"  ADDRESS: FIRST SECOND\" for each such byte. Files with an invalid\n"
      "        line are named on stderr and left out. Exit status 0 none, 1 some, 3 a\n"
      "        patch file can't be read.\n"
      "\n"
      "The address filter is read from quillet.INI in the working directory, as the\n"
      "desktop program started there would read it, unless --filter-ini names another\n"
      "settings file or --no-filter turns it off.\n"
      "\n"
      "Exit status: 0 done (whatever the statuses), 2 the image or settings file can't\n"
      "be used, 3 a patch file can't be read, 64 usage error, 74 the output can't be\n"
      "written.\n",
      stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillet::cli;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h") {
    PrintHelp();
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("quillet-cli %s\n", quillet::text::kVersion);
    return kExitOk;
  }
  int status = kExitUsage;
  if (command == "check") {
    status = RunCheck(args);
  } else if (command == "filter") {
    status = RunFilter(args);
  } else if (command == "diff") {
    status = RunDiff(args);
  } else if (command == "conflicts") {
    status = RunConflicts(args);
  } else {
    std::fprintf(stderr, "quillet-cli: unknown command '%s'\n", command.c_str());
    PrintUsage(stderr);
  }
  // A full disk or a closed pipe must not pass for a complete listing.
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && (status == kExitOk || status == kExitConflicts)) {
    std::fprintf(stderr, "quillet-cli: can't write the output: %s\n", std::strerror(errno));
    return kExitOutput;
  }
  return status;
}
