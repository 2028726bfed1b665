#include "cli/outcome_text.h"

#include <cstring>

#include "core/platform/file_error.h"
#include "core/vkp/hex_string.h"

namespace quillet::cli {

namespace {

std::string WithSystemWords(std::string text, int error) {
  if (error != 0) text += std::string(" (") + std::strerror(error) + ")";
  return text;
}

}  // namespace

std::string FileErrorText(const std::string& path, int error) {
  return WithSystemWords(FormatFileErrorText(CauseText(CauseFromErrno(error)), path), error);
}

std::string OutcomeText(const JobOutcome& outcome) {
  const std::string& path = outcome.path;
  switch (outcome.cause) {
    case JobCause::none:
    case JobCause::stopped:
    case JobCause::refused:
    case JobCause::noTarget:
      return {};
    case JobCause::imageOpen:
      return WithSystemWords(path + ": can't open the image", outcome.systemError);
    case JobCause::imageRead:
      return WithSystemWords(path + ": can't read the whole image", outcome.systemError);
    case JobCause::imageTooLarge:
      return path + ": an image of 4 GiB or more: its addresses don't fit in 32 bits";
    case JobCause::outOfMemory:
      return "out of memory";
    case JobCause::outputIsInput:
      return "the output " + path + " is an input: it is never written over";
    case JobCause::verifyFailed:
      return path + " did not read back as written";
    case JobCause::undoExists:
      return path + " exists: an undo patch never replaces another; name a new file";
    case JobCause::imageChanged:
      return path + ": the image changed while it was being patched";
    case JobCause::patchFile:
      // The file error's own words say why a patch can't be read.
      return FormatFileErrorText(CauseText(CauseFromErrno(outcome.systemError)), path);
    case JobCause::outputWrite:
    case JobCause::undoWrite:
      break;
  }
  return FileErrorText(path, outcome.systemError);
}

std::vector<std::string> FormatCheckDetails(const CheckDetails& details) {
  std::vector<std::string> lines;
  switch (details.status) {
    case PATCH_INSTALLED:
      if (details.checkedBytes == 0)
        lines.push_back("no byte checked: every written address is filtered or beyond the image's end");
      else
        lines.push_back("all " + std::to_string(details.checkedBytes) + " checked bytes hold their new value");
      break;
    case PATCH_NOT_INSTALLED: {
      lines.push_back(std::to_string(details.differing) + " of " + std::to_string(details.checkedBytes) +
                      " checked bytes differ; " + std::to_string(details.alreadyNew) + " already hold their new value");
      switch (details.verdict) {
        case OldBytesVerdict::appliesCleanly:
          lines.push_back("applies cleanly: every byte not yet new holds its old value");
          break;
        case OldBytesVerdict::partlyInstalled:
          lines.push_back("partly installed: some bytes are new already, the rest hold their old value");
          break;
        case OldBytesVerdict::otherFirmware:
          lines.push_back("made for another firmware: some bytes hold neither their old nor their new value");
          break;
        case OldBytesVerdict::oldUnknown:
        case OldBytesVerdict::none:
          lines.push_back("old bytes unknown: a differing byte's line has no usable old field");
          break;
      }
      for (const DifferingByte& byte : details.firstDiffering)
        lines.push_back(FormatAddress(byte.address) + ": expected " + FormatByte(byte.expected) + ", found " +
                        FormatByte(byte.found) + ", old " +
                        (byte.old < 0 ? std::string("unknown") : FormatByte(byte.old)));
      if (details.differing > details.firstDiffering.size())
        lines.push_back("and " + std::to_string(details.differing - details.firstDiffering.size()) + " more");
      break;
    }
    case PATCH_FILE_ERROR: {
      const char* rule = "invalid line";
      switch (details.error) {
        case VkpError::badOffset:
          rule = "offset not hexadecimal";
          break;
        case VkpError::noColon:
          rule = "no ':'";
          break;
        case VkpError::badAddress:
          rule = "address not hexadecimal";
          break;
        case VkpError::badByte:
          rule = "a written byte pair not hexadecimal";
          break;
        case VkpError::badAddressOrNoColon:
          rule = "address not hexadecimal, or no ':'";
          break;
        case VkpError::none:
          break;
      }
      lines.push_back("line " + std::to_string(details.line) + ": " + rule + ": " + details.lineText);
      if (details.byteOrderMark) lines.push_back("the file starts with a UTF-8 byte-order mark");
      break;
    }
  }
  return lines;
}

}  // namespace quillet::cli
