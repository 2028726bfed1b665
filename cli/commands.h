#pragma once
#include <cstdio>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"

// quillet-cli's commands. Each takes the arguments after its name and returns
// the process's exit code; messages go to stderr in UTF-8.

namespace quillet::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitConflicts = 1;  // conflicts: some patch files collide; diff --exit-code: the images differ
inline constexpr int kExitInput = 2;      // an image or the settings file can't be used
inline constexpr int kExitPatchFile = 3;  // a patch file can't be opened or read
inline constexpr int kExitUsage = 64;
inline constexpr int kExitOutput = 74;  // standard output could not be written
inline constexpr int kExitInternal = 70;

void PrintUsage(std::FILE* out);

// "; did you mean 'WORD'?" with the one of words that word is a typing slip of, or nothing.
[[nodiscard]] std::string DidYouMean(std::string_view word, const std::vector<std::string_view>& words);

// The command being run (main sets it before running it), which usage errors about an unknown
// option name in their pointer to its help.
void SetCommandName(std::string_view command);

// Where the address filter comes from.
struct FilterChoice {
  enum class Source { settingsFile, iniFile, none };
  Source source = Source::settingsFile;
  std::string iniPath;  // for iniFile
};

struct CommandArgs {
  FilterChoice filter;
  std::map<std::string, std::string> values;  // the command's own valued options, by name
  std::set<std::string> flags;                // the command's own options without a value, given
  std::vector<std::string> operands;          // in their order
};

// Takes "--filter-ini FILE" (or "--filter-ini=FILE"), "--no-filter", the
// command's own valued options (such as "-o") and its flags (such as
// "--details", which take no value) out of args; "--" ends the
// options. Anything else that starts with '-' (except "-" alone) is refused with
// a "did you mean" and a pointer to the command's help; a repeated or
// conflicting option or a missing value prints the usage. Both give nothing.
[[nodiscard]] std::optional<CommandArgs> ParseCommandArgs(const std::vector<std::string>& args,
                                                          std::initializer_list<std::string_view> valuedOptions = {},
                                                          std::initializer_list<std::string_view> flagOptions = {});

// Fills filter as chosen. Without an option: the settings file the
// desktop program started in this working directory would use (absent: no
// ranges). A named file that is missing or unreadable is an error: the
// message goes to stderr and the result is kExitInput; otherwise kExitOk.
[[nodiscard]] int LoadFilter(const FilterChoice& choice, quillet::AddressFilter& filter);

// The settings files an output must never replace: the one named, and the
// one the desktop program started here would use, whether read or not.
[[nodiscard]] std::vector<std::string> SettingsInputs(const FilterChoice& choice);

int RunCheck(const std::vector<std::string>& args);
int RunFilter(const std::vector<std::string>& args);
int RunDiff(const std::vector<std::string>& args);
int RunConflicts(const std::vector<std::string>& args);
int RunApply(const std::vector<std::string>& args);
int RunPort(const std::vector<std::string>& args);

}  // namespace quillet::cli
