#include "ui/port/port_text.h"

#include <algorithm>

#include "core/platform/file_error.h"
#include "core/platform/file_system.h"
#include "core/search/patch_check.h"
#include "core/vkp/hex_string.h"
#include "ui/common/row_details.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

std::string RefusalReason(const quillet::PortedPatch& patch, const std::string& firmwarePath) {
  const std::string firmware = quillet::FileNameOf(firmwarePath);
  switch (patch.cause) {
    case quillet::PortRefusal::broken: {
      // The same words as the main list's for a broken file.
      quillet::CheckDetails details;
      details.status = quillet::PATCH_FILE_ERROR;
      details.error = patch.rule;
      details.line = patch.line;
      details.lineText = patch.lineText;
      details.byteOrderMark = patch.line == 1 && patch.lineText.starts_with("\xEF\xBB\xBF");
      std::string joined;
      for (const std::string& line : quillet::EvidenceLines(details, quillet::DetailsForm::brief))
        joined += (joined.empty() ? "" : "; ") + line;
      return joined;
    }
    case quillet::PortRefusal::otherFirmware:
      return Fill(text::kPortRefusedOtherFirmware,
                  {firmware, FormatAddress(patch.offending->address), FormatByte(patch.offending->old),
                   FormatByte(patch.offending->found)});
    case quillet::PortRefusal::beyondFirmware:
      return Fill(text::kPortRefusedBeyondFirmware, {firmware, FormatAddress(patch.offending->address)});
    case quillet::PortRefusal::overlap:
      return Fill(text::kPortRefusedOverlap, {FormatAddress(patch.offending->address)});
    case quillet::PortRefusal::pieces:
    case quillet::PortRefusal::none:
      break;
  }
  return text::kPortRefusedPieces;
}

}  // namespace

QString PortPatchText(const quillet::PortedPatch& patch, const std::string& firmwarePath) {
  switch (patch.status) {
    case quillet::PortStatus::ported:
      return QString::fromUtf8(text::kPortStatusPorted);
    case quillet::PortStatus::fits:
      return QString::fromUtf8(text::kPortStatusFits);
    case quillet::PortStatus::refused:
      break;
  }
  return Q(Fill(text::kPortRefused, {RefusalReason(patch, firmwarePath)}));
}

QString PortPieceRange(const quillet::PortPiece& piece) {
  return Q(Fill(text::kPortPiece, {FormatAddress(piece.first), FormatAddress(piece.last)}));
}

QString PortPieceText(const quillet::PortPiece& piece) {
  switch (piece.verdict) {
    case quillet::PieceVerdict::placed: {
      std::string said = Fill(text::kPortPieceShift, {quillet::FormatShift(piece.shift)});
      if (piece.installed) said += text::kPortPieceInstalled;
      if (piece.writtenOnly) said += text::kPortPieceWrittenOnly;
      return Q(said);
    }
    case quillet::PieceVerdict::oldUnknown:
      return Q(Fill(text::kPortPieceOldUnknown, {FormatAddress(piece.unknownAt)}));
    case quillet::PieceVerdict::tooShort:
      return QString::fromUtf8(text::kPortPieceTooShort);
    case quillet::PieceVerdict::notFound:
      return QString::fromUtf8(text::kPortPieceNotFound);
    case quillet::PieceVerdict::ambiguous:
      break;
  }
  const std::string count = std::to_string(piece.places);
  std::string places;
  for (const std::uint32_t place : piece.firstPlaces) places += (places.empty() ? "" : " ") + FormatAddress(place);
  if (piece.places > piece.firstPlaces.size()) places += " …";
  return Q(Fill(text::kPortPieceAmbiguous,
                {piece.places >= quillet::kPlaceCountLimit ? Fill(text::kPortPlacesAtLeast, {count}) : count, places}));
}

QString PortSummaryText(const std::vector<quillet::PortedPatch>& patches) {
  const auto count = [&patches](quillet::PortStatus status) {
    return std::to_string(std::count_if(patches.begin(), patches.end(), [status](const quillet::PortedPatch& patch) {
      return patch.status == status;
    }));
  };
  return Q(Fill(text::kPortSummary, {count(quillet::PortStatus::ported), count(quillet::PortStatus::fits),
                                     count(quillet::PortStatus::refused)}));
}

}  // namespace quillet
