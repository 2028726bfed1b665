#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/search/patch_list.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace quillet::cli {

namespace {

const char* StatusWord(PatchStatus status) {
  switch (status) {
    case PATCH_INSTALLED:
      return "installed";
    case PATCH_NOT_INSTALLED:
      return "not-installed";
    case PATCH_FILE_ERROR:
      return "broken";
  }
  return "broken";
}

}  // namespace

// A path in the plain listing: one line is always one patch, so a line break,
// a TAB or another control character is written escaped (\n, \t, \xHH), and
// so is the backslash itself.
std::string EscapedPath(const std::string& path) {
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// A JSON string: the path's bytes, control characters and quotes escaped.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char hex[7];
      std::snprintf(hex, sizeof hex, "\\u%04X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

int RunCheck(const std::vector<std::string>& allArgs) {
  // check's own flags; the rest goes through the common parser.
  enum class Form { lines, nul, json } form = Form::lines;
  std::vector<std::string> args;
  bool optionsEnded = false;
  for (const std::string& arg : allArgs) {
    if (!optionsEnded && (arg == "-z" || arg == "--json")) {
      form = arg == "-z" ? Form::nul : Form::json;
      continue;
    }
    optionsEnded = optionsEnded || arg == "--";
    args.push_back(arg);
  }
  const auto parsed = ParseCommandArgs(args);
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() < 2) {
    std::fprintf(stderr, "quillet-cli: check needs an image and at least one patch file or folder\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  AddressFilter filter;
  if (const int status = LoadFilter(parsed->filter, filter); status != kExitOk) return status;

  // The same search the main window runs, over the list it would hold.
  const std::vector<std::string> inputs(parsed->operands.begin() + 1, parsed->operands.end());
  PatchList list;
  AddPatchInputs(list, inputs);
  SearchObserver observer;
  observer.checked = [&list, form](std::size_t row, PatchStatus status) {
    const std::string& path = list[row].path;
    switch (form) {
      case Form::lines:
        std::printf("%s\t%s\n", StatusWord(status), EscapedPath(path).c_str());
        break;
      case Form::nul:  // any file name is safe: records end with NUL, the path unchanged
        std::printf("%s\t", StatusWord(status));
        std::fwrite(path.data(), 1, path.size(), stdout);
        std::fputc('\0', stdout);
        break;
      case Form::json:
        std::printf("%s{\"path\": %s, \"status\": \"%s\"}", row == 0 ? "[\n  " : ",\n  ", JsonString(path).c_str(),
                    StatusWord(status));
        break;
    }
  };
  const SearchResult result = SearchPatchList(parsed->operands.front(), list, filter, observer);
  // The array is closed even when a patch file ended the search: what was checked is valid JSON.
  if (form == Form::json) std::fputs(list.empty() || result.rowsChecked == 0 ? "[]\n" : "\n]\n", stdout);
  if (result.failure == SearchFailure::none) return kExitOk;
  // The rows done so far stay printed, ahead of the message, as they stay marked in the window.
  std::fflush(stdout);
  if (result.failure == SearchFailure::patchFile)
    std::fprintf(stderr, "quillet-cli: %s\n", result.message.text.c_str());
  else  // the image's messages don't name it: the window shows them beside its name
    std::fprintf(stderr, "quillet-cli: %s: %s\n", parsed->operands.front().c_str(), result.message.text.c_str());
  return result.failure == SearchFailure::patchFile ? kExitPatchFile : kExitInput;
}

}  // namespace quillet::cli
