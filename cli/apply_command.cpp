#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "core/install/install_job.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/res/strings.h"
#include "core/search/patch_list.h"
#include "core/vkp/hex_string.h"

using quillet::CheckDetails;
using quillet::DifferingByte;
using quillet::PATCH_FILE_ERROR;

namespace quillet::cli {

namespace {

const char* StatusWord(InstallStatus status) {
  switch (status) {
    case InstallStatus::applied:
      return "applied";
    case InstallStatus::alreadyInstalled:
      return "already-installed";
    case InstallStatus::reverted:
      return "reverted";
    case InstallStatus::alreadyReverted:
      return "already-reverted";
    case InstallStatus::refused:
      break;
  }
  return "refused";
}

const char* CauseWord(RefusalCause cause) {
  switch (cause) {
    case RefusalCause::otherFirmware:
      return "other-firmware";
    case RefusalCause::oldUnknown:
      return "old-unknown";
    case RefusalCause::collision:
      return "collision";
    case RefusalCause::broken:
      return "broken";
    case RefusalCause::tooLarge:
      return "too-large";
    case RefusalCause::none:
      break;
  }
  return "none";
}

std::string Hex2(int value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::string ByteText(const DifferingByte& byte) {
  return FormatAddress(byte.address) + ": old " + (byte.old < 0 ? std::string("unknown") : Hex2(byte.old)) + ", new " +
         Hex2(byte.expected) + ", found " + Hex2(byte.found);
}

// Why a patch was refused, as the lines under it say it (before escaping).
std::vector<std::string> ReasonLines(const PatchDecision& decision, const std::vector<std::string>& paths) {
  switch (decision.cause) {
    case RefusalCause::otherFirmware:
      return {"made for another firmware: " + ByteText(*decision.offending)};
    case RefusalCause::oldUnknown:
      return {"old bytes unknown: " + ByteText(*decision.offending)};
    case RefusalCause::collision:
      return {"collides with " + paths[decision.otherPatch] + " at " + FormatAddress(decision.collisionAddress) + ": " +
              Hex2(decision.ownValue) + " here, " + Hex2(decision.otherValue) + " there"};
    case RefusalCause::broken: {
      // In the words of check --details.
      CheckDetails details;
      details.status = PATCH_FILE_ERROR;
      details.error = decision.rule;
      details.line = decision.line;
      details.lineText = decision.lineText;
      // Line 1 starts the file, and only there can the mark stand.
      details.byteOrderMark = decision.line == 1 && decision.lineText.starts_with("\xEF\xBB\xBF");
      std::vector<std::string> lines = FormatCheckDetails(details);
      for (std::string& line : lines) line = Cp1251ToUtf8(line);
      return lines;
    }
    case RefusalCause::tooLarge:
      return {"writes too many bytes: one run keeps at most " + std::to_string(kMaxInstallWrites) +
              " written bytes of all its patches"};
    case RefusalCause::none:
      break;
  }
  return {};
}

std::string JsonByte(const DifferingByte& byte) {
  return "{\"address\":\"" + FormatAddress(byte.address) +
         "\",\"old\":" + (byte.old < 0 ? std::string("null") : "\"" + Hex2(byte.old) + "\"") + ",\"new\":\"" +
         Hex2(byte.expected) + "\",\"found\":\"" + Hex2(byte.found) + "\"}";
}

std::string JsonRecord(const PatchDecision& decision, const std::vector<std::string>& paths, std::size_t row) {
  std::string out = "{" + JsonPathFields(paths[row]) + ",\"status\":\"" + StatusWord(decision.status) + "\"";
  out += ",\"bytes\":" + std::to_string(decision.bytesToWrite);
  if (decision.forced) out += ",\"forced\":true";
  if (decision.status == InstallStatus::refused) {
    out += std::string(",\"cause\":\"") + CauseWord(decision.cause) + "\"";
    std::string reason;
    for (const std::string& line : ReasonLines(decision, paths)) reason += (reason.empty() ? "" : "\n") + line;
    out += ",\"reason\":" + JsonString(reason);
  }
  if (decision.offending) out += ",\"byte\":" + JsonByte(*decision.offending);
  if (decision.cause == RefusalCause::collision)
    out += ",\"other\":" + JsonString(paths[decision.otherPatch]) + ",\"address\":\"" +
           FormatAddress(decision.collisionAddress) + "\"";
  if (decision.cause == RefusalCause::broken)
    out +=
        ",\"line\":" + std::to_string(decision.line) + ",\"lineText\":" + JsonString(Cp1251ToUtf8(decision.lineText));
  return out + "}";
}

void PrintDecisions(const std::vector<PatchDecision>& decisions, const std::vector<std::string>& paths, bool json) {
  if (json) {
    std::printf("[");
    for (std::size_t row = 0; row < decisions.size(); ++row)
      std::printf("%s\n%s", row ? "," : "", JsonRecord(decisions[row], paths, row).c_str());
    std::printf("%s]\n", decisions.empty() ? "" : "\n");
    return;
  }
  for (std::size_t row = 0; row < decisions.size(); ++row) {
    std::printf("%s\t%s\n", StatusWord(decisions[row].status), EscapedText(paths[row]).c_str());
    if (decisions[row].status != InstallStatus::refused) continue;
    for (const std::string& line : ReasonLines(decisions[row], paths)) std::printf("  %s\n", EscapedText(line).c_str());
  }
}

// The program's text for a file error, with the system's words beside it.
std::string FileErrorText(const std::string& path, int error) {
  std::string text = FormatFileErrorText(CauseText(CauseFromErrno(error)), path);
  if (error != 0) text += std::string(" (") + std::strerror(error) + ")";
  return text;
}

int UsageError(const char* message) {
  PrintError(message);
  PrintUsage(stderr);
  return kExitUsage;
}

}  // namespace

int RunApply(const std::vector<std::string>& args) {
  const auto parsed =
      ParseCommandArgs(args, {"-o", "--undo"}, {"--revert", "--force", "--dry-run", "--json", "--in-place"});
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() < 2) return UsageError("apply needs an image and at least one patch file or folder");
  InstallJob job;
  job.imagePath = parsed->operands.front();
  job.mode = parsed->flags.contains("--revert") ? InstallMode::revert : InstallMode::install;
  job.force = parsed->flags.contains("--force");
  job.dryRun = parsed->flags.contains("--dry-run");
  job.inPlace = parsed->flags.contains("--in-place");
  const bool json = parsed->flags.contains("--json");
  const auto output = parsed->values.find("-o");
  if (output != parsed->values.end()) {
    if (output->second.empty()) return UsageError("-o needs a file name");
    job.outputPath = output->second;
  }
  if (const auto undo = parsed->values.find("--undo"); undo != parsed->values.end()) {
    if (undo->second.empty()) return UsageError("--undo needs a file name");
    job.undoPath = undo->second;
  }
  if (job.inPlace && !job.outputPath.empty()) return UsageError("choose one of -o OUT and --in-place");
  if (!job.inPlace && job.outputPath.empty() && !job.dryRun)
    return UsageError("apply writes to -o OUT or, with --in-place, over the image");
  if (const int status = LoadFilter(parsed->filter, job.filter); status != kExitOk) return status;

  // The list the window would hold, in its order.
  PatchList list;
  const std::vector<UnreadableFolder> unreadable =
      AddPatchInputs(list, std::vector<std::string>(parsed->operands.begin() + 1, parsed->operands.end()));
  if (!unreadable.empty()) {
    // Some of the chosen patches can't be known: all or nothing means nothing.
    for (const UnreadableFolder& folder : unreadable) PrintError(folder.path + ": " + std::strerror(folder.osError));
    return kExitPatchFile;
  }
  for (const PatchRow& row : list.Rows()) job.patchPaths.push_back(row.path);

  // The same job the window runs, on this thread, which would only wait for it.
  const InstallOutcome outcome = InstallPatches(job, {}, {});
  if (!outcome.patches.empty() || outcome.cause == JobCause::none || outcome.cause == JobCause::refused)
    PrintDecisions(outcome.patches, job.patchPaths, json);
  std::fflush(stdout);
  switch (outcome.cause) {
    case JobCause::none:
      return kExitOk;
    case JobCause::refused:
      PrintError("a patch was refused; nothing was written");
      return kExitConflicts;
    case JobCause::noTarget:
      return UsageError("apply writes to -o OUT or, with --in-place, over the image");
    case JobCause::outputIsInput:
      PrintError(outcome.path + " is the image, a patch or the other output: it is never written over");
      PrintUsage(stderr);
      return kExitUsage;
    case JobCause::imageOpen:
    case JobCause::imageRead:
      PrintError(outcome.path + ": " +
                 (outcome.cause == JobCause::imageOpen ? text::kCurrentOpenError : text::kCurrentReadError) + " (" +
                 std::strerror(outcome.systemError) + ")");
      return kExitInput;
    case JobCause::imageTooLarge:
      PrintError(text::kTooLargePrefix + outcome.path + "'");
      return kExitInput;
    case JobCause::outOfMemory:
      PrintError(text::kOutOfMemory);
      return kExitInput;
    case JobCause::patchFile:
      PrintError(FileErrorText(outcome.path, outcome.systemError));
      return kExitPatchFile;
    case JobCause::outputWrite:
    case JobCause::undoWrite:
      PrintError(FileErrorText(outcome.path, outcome.systemError) + "; nothing was changed");
      return kExitOutput;
    case JobCause::verifyFailed:
      PrintError(outcome.path + " did not read back as written; nothing was changed");
      return kExitOutput;
    case JobCause::stopped:
      break;
  }
  return kExitInternal;
}

}  // namespace quillet::cli
