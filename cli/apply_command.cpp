#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "cli/outcome_text.h"
#include "core/install/install_job.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/search/patch_list.h"
#include "core/vkp/hex_string.h"

using quillet::CheckDetails;
using quillet::DifferingByte;
using quillet::PATCH_FILE_ERROR;

namespace quillet::cli {

namespace {

// What a run that wrote nothing says of the patches it would have written:
// "applied" only ever means bytes that are in place.
const char* StatusWord(InstallStatus status, bool written) {
  switch (status) {
    case InstallStatus::applied:
      return written ? "applied" : "would-apply";
    case InstallStatus::alreadyInstalled:
      return "already-installed";
    case InstallStatus::reverted:
      return written ? "reverted" : "would-revert";
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

std::string ByteText(const DifferingByte& byte) {
  return FormatAddress(byte.address) + ": old " + (byte.old < 0 ? std::string("unknown") : FormatByte(byte.old)) +
         ", new " + FormatByte(byte.expected) + ", found " + FormatByte(byte.found);
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
              FormatByte(decision.ownValue) + " here, " + FormatByte(decision.otherValue) + " there"};
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
         "\",\"old\":" + (byte.old < 0 ? std::string("null") : "\"" + FormatByte(byte.old) + "\"") + ",\"new\":\"" +
         FormatByte(byte.expected) + "\",\"found\":\"" + FormatByte(byte.found) + "\"}";
}

std::string JsonRecord(const PatchDecision& decision, const std::vector<std::string>& paths, std::size_t row,
                       bool written) {
  std::string out = "{" + JsonPathFields(paths[row]) + ",\"status\":\"" + StatusWord(decision.status, written) + "\"";
  out += ",\"bytes\":" + std::to_string(decision.bytesToWrite);
  out += ",\"filtered\":" + std::to_string(decision.filtered);
  if (decision.undoPatch) out += ",\"undoPatch\":true";
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

void PrintDecisions(const std::vector<PatchDecision>& decisions, const std::vector<std::string>& paths, bool json,
                    bool written) {
  if (json) {
    std::printf("[");
    for (std::size_t row = 0; row < decisions.size(); ++row)
      std::printf("%s\n%s", row ? "," : "", JsonRecord(decisions[row], paths, row, written).c_str());
    std::printf("%s]\n", decisions.empty() ? "" : "\n");
    return;
  }
  for (std::size_t row = 0; row < decisions.size(); ++row) {
    std::printf("%s\t%s\n", StatusWord(decisions[row].status, written), EscapedText(paths[row]).c_str());
    if (decisions[row].status != InstallStatus::refused) continue;
    for (const std::string& line : ReasonLines(decisions[row], paths)) std::printf("  %s\n", EscapedText(line).c_str());
  }
}

int UsageError(const std::string& message) {
  PrintError(message);
  PrintUsage(stderr);
  return kExitUsage;
}

// What the filter and the patches' own kind say beside the listing, on
// stderr: bytes left out, and an undo patch chosen to be installed.
void PrintNotes(const std::vector<PatchDecision>& decisions, const std::vector<std::string>& paths, InstallMode mode) {
  for (std::size_t row = 0; row < decisions.size() && row < paths.size(); ++row) {
    const PatchDecision& decision = decisions[row];
    if (decision.filtered != 0)
      PrintError(paths[row] + ": " + ByteCount(decision.filtered) + " left out by the address filter");
    if (decision.undoPatch && mode == InstallMode::install)
      PrintError(paths[row] + " is an undo patch: it is meant to be reverted (apply --revert)");
  }
}

// Why a run wrote nothing, as its last line says.
std::string NothingWritten(const std::string& why) { return "nothing was written: " + why; }

std::string RefusedCount(const std::vector<PatchDecision>& decisions) {
  std::size_t refused = 0;
  for (const PatchDecision& decision : decisions) refused += decision.status == InstallStatus::refused ? 1 : 0;
  return std::to_string(refused) + " of " + std::to_string(decisions.size()) +
         (decisions.size() == 1 ? " patch" : " patches") + " refused";
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
  // An earlier undo patch may be the only record of an earlier change.
  if (struct stat st{}; !job.undoPath.empty() && ::lstat(job.undoPath.c_str(), &st) == 0)
    return UsageError(job.undoPath + " exists: an undo patch never replaces another; name a new file");
  job.otherInputs = SettingsInputs(parsed->filter);
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
  const std::string imagePath = job.imagePath;
  const InstallEvents events{
      .progress = {},
      .waitingForImage = [&imagePath] { PrintError("waiting: another run is changing " + imagePath); },
  };
  const InstallOutcome outcome = InstallPatches(job, events, {});
  if (!outcome.patches.empty() || outcome.cause == JobCause::none || outcome.cause == JobCause::refused)
    PrintDecisions(outcome.patches, job.patchPaths, json, outcome.written);
  PrintNotes(outcome.patches, job.patchPaths, job.mode);
  const bool listed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const std::string& target = job.inPlace ? job.imagePath : job.outputPath;
  switch (outcome.cause) {
    case JobCause::none:
      if (!listed) {
        // The listing is all that failed: the result is in place, and a
        // caller must not take it for a run that changed nothing.
        PrintError(std::string(outcome.written ? target + " was written" : "nothing needed writing") +
                   "; only the listing could not be written: " + std::strerror(errno));
        return kExitOutput;
      }
      if (job.dryRun) PrintError(NothingWritten("a dry run"));
      return kExitOk;
    case JobCause::refused:
      PrintError(NothingWritten(RefusedCount(outcome.patches)));
      return kExitConflicts;
    case JobCause::noTarget:
      return UsageError("apply writes to -o OUT or, with --in-place, over the image");
    case JobCause::outputIsInput:
      return UsageError(outcome.path +
                        " is the image, a patch, the settings file or the other output: it is never "
                        "written over");
    case JobCause::undoExists:
      return UsageError(OutcomeText(outcome));
    case JobCause::imageOpen:
    case JobCause::imageRead:
    case JobCause::imageTooLarge:
      PrintError(OutcomeText(outcome));
      PrintError(NothingWritten("the image can't be used"));
      return kExitInput;
    case JobCause::outOfMemory:
      PrintError(NothingWritten(OutcomeText(outcome)));
      return kExitInput;
    case JobCause::patchFile:
      PrintError(OutcomeText(outcome));
      PrintError(NothingWritten("a patch file can't be read"));
      return kExitPatchFile;
    case JobCause::outputWrite:
    case JobCause::undoWrite:
      PrintError(OutcomeText(outcome));
      PrintError(NothingWritten(outcome.cause == JobCause::undoWrite ? "the undo patch can't be written"
                                                                     : "the output can't be written"));
      return kExitOutput;
    case JobCause::verifyFailed:
      PrintError(OutcomeText(outcome));
      PrintError(NothingWritten("the result did not read back as planned"));
      return kExitOutput;
    case JobCause::imageChanged:
      PrintError(OutcomeText(outcome));
      PrintError(NothingWritten("the image changed meanwhile"));
      return kExitOutput;
    case JobCause::stopped:
      break;
  }
  return kExitInternal;
}

}  // namespace quillet::cli
