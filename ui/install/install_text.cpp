#include "ui/install/install_text.h"

#include <cstdio>

#include "core/platform/file_error.h"
#include "core/vkp/hex_string.h"
#include "ui/common/row_details.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

std::string ByteText(const DifferingByte& byte) {
  return Fill(text::kDetailsDiffering, {FormatAddress(byte.address), FormatByte(byte.expected), FormatByte(byte.found),
                                        byte.old < 0 ? std::string(text::kDetailsOldUnknown) : FormatByte(byte.old)});
}

}  // namespace

namespace {

std::string DecisionOnly(const PatchDecision& decision, const std::vector<std::string>& names);

}  // namespace

std::string InstallDecisionText(const PatchDecision& decision, const std::vector<std::string>& names) {
  std::string text = DecisionOnly(decision, names);
  if (decision.filtered != 0) text += Fill(text::kInstallFilteredNote, {std::to_string(decision.filtered)});
  return text;
}

std::string InstallUndoNote(const PatchDecision& decision, InstallMode mode) {
  return decision.undoPatch && mode == InstallMode::install ? text::kInstallUndoPatchNote : std::string();
}

std::string InstallUndoSavedText(const std::string& undoPath) { return Fill(text::kInstallUndoSaved, {undoPath}); }

namespace {

std::string DecisionOnly(const PatchDecision& decision, const std::vector<std::string>& names) {
  const std::string bytes = std::to_string(decision.bytesToWrite);
  const std::string word = CountedWord(decision.bytesToWrite, text::kBytesOne, text::kBytesFew, text::kBytesMany);
  switch (decision.status) {
    case InstallStatus::applied:
      return Fill(text::kInstallApplied, {bytes, word});
    case InstallStatus::reverted:
      return Fill(text::kInstallReverted, {bytes, word});
    case InstallStatus::alreadyInstalled:
      return text::kInstallAlreadyInstalled;
    case InstallStatus::alreadyReverted:
      return text::kInstallAlreadyReverted;
    case InstallStatus::refused:
      break;
  }
  std::string why;
  switch (decision.cause) {
    case RefusalCause::otherFirmware:
    case RefusalCause::oldUnknown:
      why = std::string(decision.cause == RefusalCause::otherFirmware ? text::kVerdictOtherFirmware
                                                                      : text::kVerdictOldUnknown);
      if (decision.offending) why += "; " + ByteText(*decision.offending);
      break;
    case RefusalCause::collision:
      why = Fill(text::kInstallCollision,
                 {FormatAddress(decision.collisionAddress),
                  decision.otherPatch < names.size() ? names[decision.otherPatch] : std::string(),
                  FormatByte(decision.ownValue), FormatByte(decision.otherValue)});
      break;
    case RefusalCause::broken: {
      const char* rule = text::kRuleBadAddressOrNoColon;
      switch (decision.rule) {
        case VkpError::badOffset:
          rule = text::kRuleBadOffset;
          break;
        case VkpError::noColon:
          rule = text::kRuleNoColon;
          break;
        case VkpError::badAddress:
          rule = text::kRuleBadAddress;
          break;
        case VkpError::badByte:
          rule = text::kRuleBadByte;
          break;
        default:
          break;
      }
      why = Fill(text::kDetailsBrokenLine, {std::to_string(decision.line), decision.lineText, std::string(rule)});
      break;
    }
    case RefusalCause::tooLarge:
      why = text::kInstallTooLarge;
      break;
    case RefusalCause::none:
      break;
  }
  return Fill(text::kInstallRefused, {why});
}

}  // namespace

std::string InstallSummaryText(const std::vector<PatchDecision>& decisions, std::uint64_t bytesChanged) {
  std::size_t refused = 0;
  for (const PatchDecision& decision : decisions) refused += decision.status == InstallStatus::refused ? 1 : 0;
  if (refused != 0) return Fill(text::kInstallNothingWritten, {std::to_string(refused)});
  if (bytesChanged == 0) return text::kInstallNothingToChange;
  return Fill(text::kInstallBytesChanged, {std::to_string(bytesChanged)});
}

}  // namespace quillet
