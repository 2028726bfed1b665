#pragma once
#include <string>
#include <vector>

#include "core/install/install_job.h"

// The workbench's texts as the window shows them, in the program's voice.

namespace quillet {

// One chosen patch's line in the confirmation window: what will happen to it
// (and how many bytes it writes), or why it is refused. names: the chosen
// patches' file names, for a collision's other patch.
[[nodiscard]] std::string InstallDecisionText(const PatchDecision& decision, const std::vector<std::string>& names);

// For an undo patch chosen to be installed: that it is meant to be reverted.
// Empty otherwise.
[[nodiscard]] std::string InstallUndoNote(const PatchDecision& decision, InstallMode mode);

// Where the undo patch of a run that was written went, and how it is used.
[[nodiscard]] std::string InstallUndoSavedText(const std::string& undoPath);

// The line under the list: how many bytes will change, or that nothing will
// be written and why.
[[nodiscard]] std::string InstallSummaryText(const std::vector<PatchDecision>& decisions, std::uint64_t bytesChanged);

}  // namespace quillet
