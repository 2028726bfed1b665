#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/platform/cp1251.h"
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

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are (paths as given, texts already UTF-8).
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {

std::string Hex2(int value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

const char* VerdictWord(OldBytesVerdict verdict) {
  switch (verdict) {
    case OldBytesVerdict::appliesCleanly: return "applies-cleanly";
    case OldBytesVerdict::partlyInstalled: return "partly-installed";
    case OldBytesVerdict::otherFirmware: return "other-firmware";
    case OldBytesVerdict::oldUnknown: return "old-unknown";
    case OldBytesVerdict::none: break;
  }
  return "none";
}

const char* RuleWord(VkpError error) {
  switch (error) {
    case VkpError::badOffset: return "offset-not-hexadecimal";
    case VkpError::noColon: return "no-colon";
    case VkpError::badAddress: return "address-not-hexadecimal";
    case VkpError::badByte: return "byte-not-hexadecimal";
    case VkpError::badAddressOrNoColon: return "address-not-hexadecimal-or-no-colon";
    case VkpError::none: break;
  }
  return "none";
}

// The fields the details add to a result's JSON object, each led by a comma.
std::string JsonDetails(const CheckDetails& details) {
  std::string out;
  if (details.status == PATCH_FILE_ERROR) {
    out += ",\"line\":" + std::to_string(details.line) + ",\"rule\":\"" + RuleWord(details.error) + "\"";
    out += ",\"lineText\":" + JsonString(Cp1251ToUtf8(details.lineText));
    out += std::string(",\"byteOrderMark\":") + (details.byteOrderMark ? "true" : "false");
    return out;
  }
  out += ",\"checkedBytes\":" + std::to_string(details.checkedBytes);
  out += ",\"alreadyNew\":" + std::to_string(details.alreadyNew);
  out += ",\"differing\":" + std::to_string(details.differing);
  out += std::string(",\"partial\":") + (details.partial ? "true" : "false");
  if (details.status != PATCH_NOT_INSTALLED) return out;
  out += std::string(",\"verdict\":\"") + VerdictWord(details.verdict) + "\",\"firstDiffering\":[";
  for (std::size_t i = 0; i < details.firstDiffering.size(); ++i) {
    const DifferingByte& byte = details.firstDiffering[i];
    out += i ? "," : "";
    out += "{\"address\":\"" + FormatAddress(byte.address) + "\",\"expected\":\"" + Hex2(byte.expected) +
           "\",\"found\":\"" + Hex2(byte.found) + "\",\"old\":" + (byte.old < 0 ? "null" : "\"" + Hex2(byte.old) + "\"") + "}";
  }
  return out + "]";
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

namespace {

std::string WithCause(const std::string& cause) { return cause.empty() ? std::string() : " (" + cause + ")"; }

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args, {}, {"--details", "--json", "-z"});
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
  const bool details = parsed->flags.contains("--details");
  const bool json = parsed->flags.contains("--json");
  // Records end with NUL and keep the path as it is, so any file name is safe.
  const bool nul = parsed->flags.contains("-z");
  if (json && nul) {
    std::fprintf(stderr, "quillet-cli: choose one of --json and -z\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  ExplainedCheck print;
  if (json) {
    std::printf("[");
    print = [&list, details](std::size_t row, const CheckDetails& found) {
      std::printf("%s\n{\"path\":%s,\"status\":\"%s\"%s}", row ? "," : "", JsonString(list[row].path).c_str(),
                  StatusWord(found.status), details ? JsonDetails(found).c_str() : "");
    };
  } else {
    print = [&list, details, nul](std::size_t row, const CheckDetails& found) {
      const std::string& path = list[row].path;
      if (nul) {
        std::printf("%s\t", StatusWord(found.status));
        std::fwrite(path.data(), 1, path.size(), stdout);
        std::fputc('\0', stdout);
      } else {
        std::printf("%s\t%s\n", StatusWord(found.status), EscapedPath(path).c_str());
      }
      if (!details) return;
      for (const std::string& line : FormatCheckDetails(found)) std::printf("  %s\n", Cp1251ToUtf8(line).c_str());
    };
  }
  SearchObserver observer;
  if (!details) {
    // Without details the plain check is enough: the same status, less work.
    observer.checked = [&print](std::size_t row, PatchStatus status) {
      CheckDetails plain;
      plain.status = status;
      print(row, plain);
    };
  }
  const SearchResult result =
      SearchPatchList(parsed->operands.front(), list, filter, observer, details ? print : ExplainedCheck());
  if (json) std::printf("%s]\n", result.rowsChecked ? "\n" : "");
  if (result.failure == SearchFailure::none) return kExitOk;
  // The rows done so far stay printed, ahead of the message, as they stay marked in the window.
  std::fflush(stdout);
  if (result.failure == SearchFailure::patchFile)
    std::fprintf(stderr, "quillet-cli: %s\n", result.message.text.c_str());
  else  // the image's messages don't name it: the window shows them beside its name
    std::fprintf(stderr, "quillet-cli: %s: %s%s\n", parsed->operands.front().c_str(), result.message.text.c_str(),
                 WithCause(ImageFailureCause(parsed->operands.front())).c_str());
  return result.failure == SearchFailure::patchFile ? kExitPatchFile : kExitInput;
}

}  // namespace quillet::cli
