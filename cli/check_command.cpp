#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "cli/outcome_text.h"
#include "core/platform/cp1251.h"
#include "core/search/patch_list.h"
#include "core/vkp/hex_string.h"

using quillet::AddressFilter;
using quillet::CheckDetails;
using quillet::DifferingByte;
using quillet::OldBytesVerdict;
using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

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

const char* VerdictWord(OldBytesVerdict verdict) {
  switch (verdict) {
    case OldBytesVerdict::appliesCleanly:
      return "applies-cleanly";
    case OldBytesVerdict::partlyInstalled:
      return "partly-installed";
    case OldBytesVerdict::otherFirmware:
      return "other-firmware";
    case OldBytesVerdict::oldUnknown:
      return "old-unknown";
    case OldBytesVerdict::none:
      break;
  }
  return "none";
}

const char* RuleWord(VkpError error) {
  switch (error) {
    case VkpError::badOffset:
      return "offset-not-hexadecimal";
    case VkpError::noColon:
      return "no-colon";
    case VkpError::badAddress:
      return "address-not-hexadecimal";
    case VkpError::badByte:
      return "byte-not-hexadecimal";
    case VkpError::badAddressOrNoColon:
      return "address-not-hexadecimal-or-no-colon";
    case VkpError::none:
      break;
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
  // Every byte is counted now, however many a patch writes; the key stays for
  // readers written against it.
  out += ",\"partial\":false";
  if (details.status != PATCH_NOT_INSTALLED) return out;
  out += std::string(",\"verdict\":\"") + VerdictWord(details.verdict) + "\",\"firstDiffering\":[";
  for (std::size_t i = 0; i < details.firstDiffering.size(); ++i) {
    const DifferingByte& byte = details.firstDiffering[i];
    out += i ? "," : "";
    out += "{\"address\":\"" + FormatAddress(byte.address) + "\",\"expected\":\"" + FormatByte(byte.expected) +
           "\",\"found\":\"" + FormatByte(byte.found) +
           "\",\"old\":" + (byte.old < 0 ? "null" : "\"" + FormatByte(byte.old) + "\"") + "}";
  }
  return out + "]";
}

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
  const std::vector<UnreadableFolder> unreadableFolders = AddPatchInputs(list, inputs);
  const bool details = parsed->flags.contains("--details");
  const bool json = parsed->flags.contains("--json");
  const bool nul = parsed->flags.contains("-z");
  if (json && nul) {
    PrintError("choose one of --json and -z");
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::function<void(std::size_t, const CheckDetails&)> print;
  // "[" waits for the first result, so that an image that can't be used
  // leaves stdout empty, as it does for the plain listing.
  bool opened = false;
  if (json) {
    print = [&list, details, &opened](std::size_t row, const CheckDetails& found) {
      std::printf("%s\n{%s,\"status\":\"%s\"%s}", opened ? "," : "[", JsonPathFields(list[row].path).c_str(),
                  StatusWord(found.status), details ? JsonDetails(found).c_str() : "");
      opened = true;
    };
  } else {
    // With -z every line ends with NUL instead, and only the path is left
    // raw: a details line is escaped and is a record of its own, led by two
    // spaces where a result record starts with its status word.
    print = [&list, details, nul](std::size_t row, const CheckDetails& found) {
      const std::string& path = list[row].path;
      const char end = nul ? '\0' : '\n';
      std::printf("%s\t", StatusWord(found.status));
      if (nul)
        std::fwrite(path.data(), 1, path.size(), stdout);
      else
        std::fputs(EscapedText(path).c_str(), stdout);
      std::fputc(end, stdout);
      if (!details) return;
      for (const std::string& line : FormatCheckDetails(found)) {
        std::printf("  %s", EscapedText(Cp1251ToUtf8(line)).c_str());
        std::fputc(end, stdout);
      }
    };
  }
  // The same job the window runs, on this thread: with no window to keep
  // answering, each row is printed as it is checked, with nothing handed over.
  const SearchJob job = list.StartSearch(parsed->operands.front(), filter, details);
  const SearchEvents events{
      .started = {},
      .checking = {},
      .checked =
          [&](std::size_t row, const CheckDetails& found) {
            list.Record(row, found);
            print(row, found);
          },
  };
  const SearchOutcome result = RunSearch(job, events, {});
  const bool imageUsed = result.cause == JobCause::none || result.cause == JobCause::patchFile;
  if (json && imageUsed) std::printf("%s]\n", opened ? "\n" : "[");
  // A folder that could not be read may hold patch files the listing lacks.
  std::fflush(stdout);
  for (const UnreadableFolder& folder : unreadableFolders)
    PrintError(folder.path + ": " + std::strerror(folder.osError));
  if (result.cause == JobCause::none) return unreadableFolders.empty() ? kExitOk : kExitPatchFile;
  // The rows done so far stay printed, ahead of the message, as they stay marked in the window.
  std::fflush(stdout);
  PrintError(OutcomeText(result));
  return result.cause == JobCause::patchFile ? kExitPatchFile : kExitInput;
}

}  // namespace quillet::cli
