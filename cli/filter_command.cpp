#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "core/filter/address_filter.h"
#include "core/filter/filter_storage.h"
#include "core/platform/file_error.h"
#include "core/platform/file_reader.h"
#include "core/platform/file_system.h"
#include "core/platform/profile.h"
#include "core/vkp/hex_string.h"

using quillet::AddressFilter;
using quillet::AddressRange;

namespace quillet::cli {

namespace {

constexpr std::string_view kFilterIni = "--filter-ini";
constexpr std::string_view kNoFilter = "--no-filter";

std::string& CommandName() {
  static std::string name;
  return name;
}

std::optional<CommandArgs> UsageError(const std::string& message) {
  PrintError(message);
  PrintUsage(stderr);
  return std::nullopt;
}

// The whole usage would bury the one line that matters under every other command's.
std::optional<CommandArgs> UnknownOption(const std::string& arg, const std::string& name,
                                         std::initializer_list<std::string_view> valuedOptions,
                                         std::initializer_list<std::string_view> flagOptions) {
  std::vector<std::string_view> options{kFilterIni, kNoFilter, "--help"};
  options.insert(options.end(), valuedOptions.begin(), valuedOptions.end());
  options.insert(options.end(), flagOptions.begin(), flagOptions.end());
  PrintError("unknown option '" + arg + "'" + DidYouMean(name, options));
  const std::string help = CommandName().empty() ? "quillet-cli --help" : "quillet-cli " + CommandName() + " --help";
  PrintError("'" + help + "' lists the options");
  return std::nullopt;
}

}  // namespace

void SetCommandName(std::string_view command) { CommandName() = command; }

std::optional<CommandArgs> ParseCommandArgs(const std::vector<std::string>& args,
                                            std::initializer_list<std::string_view> valuedOptions,
                                            std::initializer_list<std::string_view> flagOptions) {
  CommandArgs parsed;
  bool filterChosen = false;
  auto chooseFilter = [&](FilterChoice choice) {
    if (filterChosen) return false;
    filterChosen = true;
    parsed.filter = std::move(choice);
    return true;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value"; a value that is itself an option is
    // taken as given, so that a file named "-x" stays reachable.
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    if (name == kNoFilter) {
      if (value) return UsageError("--no-filter takes no value");
      if (!chooseFilter({FilterChoice::Source::none, {}}))
        return UsageError("choose one of --filter-ini FILE and --no-filter, once");
      continue;
    }
    bool flag = false;
    for (const std::string_view own : flagOptions) flag = flag || name == own;
    if (flag) {
      if (value) return UsageError("option '" + name + "' takes no value");
      if (!parsed.flags.insert(name).second) return UsageError("option '" + name + "' given twice");
      continue;
    }
    bool valued = name == kFilterIni;
    for (const std::string_view own : valuedOptions) valued = valued || name == own;
    if (!valued) return UnknownOption(arg, name, valuedOptions, flagOptions);
    if (!value) {
      if (i + 1 >= args.size()) return UsageError("option '" + name + "' needs a value");
      value = args[++i];
    }
    if (name == kFilterIni) {
      if (value->empty()) return UsageError("--filter-ini needs a file name");
      if (!chooseFilter({FilterChoice::Source::iniFile, *value}))
        return UsageError("choose one of --filter-ini FILE and --no-filter, once");
      continue;
    }
    if (!parsed.values.emplace(name, *value).second) return UsageError("option '" + name + "' given twice");
  }
  return parsed;
}

namespace {

// A quillet started from the desktop's menu keeps its settings in the user's
// configuration folder, not in the folder quillet-cli runs in: when only that
// file holds a filter, a person should learn that it is not in effect here.
void MentionDesktopFilter(const std::string& workingFolderFile) {
  struct stat st {};
  if (::stat(workingFolderFile.c_str(), &st) == 0 || errno != ENOENT) return;
  const std::string folder = DesktopSettingsFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (folder.empty()) return;
  const std::string desktopFile = SettingsPathFor(folder, "quillet");
  std::vector<AddressRange> desktop;
  try {
    desktop = ReadAddressFilter(desktopFile);
  } catch (const FileError&) {
    return;  // a hint, not an error: the file is not the one in use
  }
  if (desktop.empty()) return;
  PrintError("no quillet.INI here, so no address filter; the desktop program's " + desktopFile + " has " +
             RangeCount(desktop.size()) + ": --filter-ini " + desktopFile + " uses it");
}

}  // namespace

int LoadFilter(const FilterChoice& choice, AddressFilter& filter) {
  filter.clear();
  if (choice.source == FilterChoice::Source::none) return kExitOk;
  const std::string path = choice.source == FilterChoice::Source::iniFile
                               ? choice.iniPath
                               : SettingsPathFor(GetWorkingDirectory(), "quillet");
  try {
    // A file named on the command line must be there; the default one may be absent.
    if (choice.source == FilterChoice::Source::iniFile) (void)ReadWholeFile(path);
    filter = ReadAddressFilter(path);
  } catch (const FileError& error) {
    PrintError(error.what());
    return kExitInput;
  }
  // A filter nobody named on the command line should not go unnoticed by a
  // person, nor one that is not in effect although the menu's program uses it.
  if (choice.source == FilterChoice::Source::settingsFile && ::isatty(STDERR_FILENO) == 1) {
    if (!filter.empty())
      PrintError("using the address filter of " + path + " (" + RangeCount(filter.size()) + ")");
    else
      MentionDesktopFilter(path);
  }
  return kExitOk;
}

std::vector<std::string> SettingsInputs(const FilterChoice& choice) {
  std::vector<std::string> inputs{SettingsPathFor(GetWorkingDirectory(), "quillet")};
  if (choice.source == FilterChoice::Source::iniFile) inputs.push_back(choice.iniPath);
  return inputs;
}

int RunFilter(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args);
  if (!parsed) return kExitUsage;
  if (!parsed->operands.empty()) {
    PrintError("filter takes no operands");
    PrintUsage(stderr);
    return kExitUsage;
  }
  AddressFilter filter;
  if (const int status = LoadFilter(parsed->filter, filter); status != kExitOk) return status;
  for (const AddressRange& range : filter.Ranges())
    std::printf("%s %s\n", FormatAddress(range.start).c_str(), FormatAddress(range.end).c_str());
  return kExitOk;
}

}  // namespace quillet::cli
