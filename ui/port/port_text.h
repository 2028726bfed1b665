#pragma once
#include <QString>

#include <string>
#include <vector>

#include "core/job/job.h"
#include "core/port/port.h"

namespace quillet {

// The porting window's words, made from what the core reports; the texts
// themselves are in ui/common/window_text.h.

// A patch's word in the list: how it was ported, or why it was refused.
// firmwarePath: the firmware the run took the patches to be made for.
[[nodiscard]] QString PortPatchText(const quillet::PortedPatch& patch, const std::string& firmwarePath);

// A piece's row: its addresses in the patch, and where it goes or why it
// goes nowhere.
[[nodiscard]] QString PortPieceRange(const quillet::PortPiece& piece);
[[nodiscard]] QString PortPieceText(const quillet::PortPiece& piece);

// The line under the list once every patch has its result.
[[nodiscard]] QString PortSummaryText(const std::vector<quillet::PortedPatch>& patches);

}  // namespace quillet
