#include "ui/common/row_details.h"

#include <algorithm>
#include <initializer_list>

#include "core/platform/cp1251.h"
#include "core/vkp/hex_string.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

constexpr std::size_t kBriefDiffering = 3;
// Long enough to recognise the line, short enough for a tooltip's width.
constexpr std::size_t kBriefLineChars = 60;

const char* VerdictText(OldBytesVerdict verdict) {
  switch (verdict) {
    case OldBytesVerdict::appliesCleanly:
      return text::kVerdictAppliesCleanly;
    case OldBytesVerdict::partlyInstalled:
      return text::kVerdictPartlyInstalled;
    case OldBytesVerdict::otherFirmware:
      return text::kVerdictOtherFirmware;
    case OldBytesVerdict::oldUnknown:
    case OldBytesVerdict::none:
      break;
  }
  return text::kVerdictOldUnknown;
}

const char* RuleText(VkpError error) {
  switch (error) {
    case VkpError::badOffset:
      return text::kRuleBadOffset;
    case VkpError::noColon:
      return text::kRuleNoColon;
    case VkpError::badAddress:
      return text::kRuleBadAddress;
    case VkpError::badByte:
      return text::kRuleBadByte;
    case VkpError::badAddressOrNoColon:
    case VkpError::none:
      break;
  }
  return text::kRuleBadAddressOrNoColon;
}

// The invalid line as the user wrote it (patch files are Windows-1251), cut to
// maxChars characters, never inside one.
std::string ShownLine(const CheckDetails& details, std::size_t maxChars) {
  std::string_view raw = details.lineText;
  // Shown as Windows-1251 the mark would be three odd letters; a line of its own names it.
  if (details.byteOrderMark && details.line == 1 && raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
  std::string line = Cp1251ToUtf8(raw);
  bool cut = details.lineText.size() >= CheckDetails::kLineTextLimit;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
    if (chars++ == maxChars) {
      line.resize(i);
      cut = true;
      break;
    }
  }
  return cut ? line + "…" : line;
}

void AddEvidence(const CheckDetails& details, DetailsForm form, std::vector<std::string>& lines) {
  switch (details.status) {
    case PATCH_INSTALLED:
      if (details.checkedBytes == 0)
        lines.emplace_back(text::kDetailsInstalledUnchecked);
      else
        lines.push_back(Fill(text::kDetailsInstalled, {std::to_string(details.checkedBytes)}));
      return;
    case PATCH_NOT_INSTALLED: {
      lines.push_back(Fill(
          text::kDetailsNotInstalled,
          {std::to_string(details.alreadyNew), std::to_string(details.checkedBytes), VerdictText(details.verdict)}));
      const std::size_t held = details.firstDiffering.size();
      const std::size_t shown = form == DetailsForm::brief ? std::min(held, kBriefDiffering) : held;
      for (std::size_t i = 0; i < shown; ++i) {
        const DifferingByte& byte = details.firstDiffering[i];
        lines.push_back(Fill(text::kDetailsDiffering,
                             {FormatAddress(byte.address), FormatByte(byte.expected), FormatByte(byte.found),
                              byte.old < 0 ? std::string(text::kDetailsOldUnknown) : FormatByte(byte.old)}));
      }
      if (details.differing <= shown) return;
      if (form == DetailsForm::brief)
        lines.push_back(Fill(text::kDetailsMoreDiffering, {std::to_string(details.differing - shown)}));
      else
        lines.push_back(Fill(text::kDetailsShownDiffering, {std::to_string(shown), std::to_string(details.differing)}));
      return;
    }
    case PATCH_FILE_ERROR:
      lines.push_back(
          Fill(text::kDetailsBrokenLine,
               {std::to_string(details.line),
                ShownLine(details, form == DetailsForm::brief ? kBriefLineChars : CheckDetails::kLineTextLimit),
                RuleText(details.error)}));
      if (details.byteOrderMark) lines.emplace_back(text::kDetailsByteOrderMark);
      return;
  }
}

}  // namespace

std::vector<std::string> RowDetailsLines(const PatchRow& row, const std::string& imagePath, const AddressFilter& filter,
                                         DetailsForm form, const std::vector<RowConflict>& conflicts) {
  std::vector<std::string> lines;
  if (row.addedAfterSearch) {
    lines.emplace_back(text::kDetailsAddedAfterSearch);
  } else if (row.notChecked) {
    lines.emplace_back(text::kDetailsNotChecked);
  } else if (row.details) {
    // Said first: the evidence below may no longer hold for what is chosen now.
    if (!row.basis || !row.basis->Matches(imagePath, filter)) lines.emplace_back(text::kDetailsOtherBasis);
    AddEvidence(*row.details, form, lines);
  }
  if (form == DetailsForm::full) {
    for (const RowConflict& conflict : conflicts)
      lines.push_back(Fill(text::kDetailsConflict, {conflict.name, std::to_string(conflict.addresses),
                                                    CountedWord(conflict.addresses, text::kAddressesOne,
                                                                text::kAddressesFew, text::kAddressesMany)}));
  }
  return lines;
}

std::vector<std::string> EvidenceLines(const CheckDetails& details, DetailsForm form) {
  std::vector<std::string> lines;
  AddEvidence(details, form, lines);
  return lines;
}

std::string RowTooltip(const PatchRow& row, const std::string& imagePath, const AddressFilter& filter) {
  std::string tooltip = row.path;
  for (const std::string& line : RowDetailsLines(row, imagePath, filter, DetailsForm::brief)) tooltip += "\n" + line;
  return tooltip;
}

std::vector<RowConflict> ConflictsOfRow(const PatchConflicts& found, const std::vector<std::string>& names,
                                        std::size_t row) {
  std::vector<RowConflict> conflicts;
  for (const PatchConflict& pair : found.conflicts) {
    if (pair.first != row && pair.second != row) continue;
    const std::size_t other = pair.first == row ? pair.second : pair.first;
    if (other < names.size()) conflicts.push_back({names[other], pair.bytes.size()});
  }
  return conflicts;
}

std::string SearchTotalsText(const PatchList& list) {
  std::size_t installed = 0, notInstalled = 0, broken = 0, clean = 0, partly = 0, other = 0, unknown = 0;
  for (const PatchRow& row : list.Rows()) {
    if (row.notChecked) continue;  // neither installed nor not
    switch (row.status) {
      case PATCH_INSTALLED:
        ++installed;
        break;
      case PATCH_FILE_ERROR:
        ++broken;
        break;
      case PATCH_NOT_INSTALLED:
        ++notInstalled;
        switch (row.details ? row.details->verdict : OldBytesVerdict::none) {
          case OldBytesVerdict::appliesCleanly:
            ++clean;
            break;
          case OldBytesVerdict::partlyInstalled:
            ++partly;
            break;
          case OldBytesVerdict::otherFirmware:
            ++other;
            break;
          case OldBytesVerdict::oldUnknown:
          case OldBytesVerdict::none:
            ++unknown;
            break;
        }
        break;
    }
  }
  // The line must fit the status line: verdicts no row has are left out.
  std::string verdicts;
  for (const auto& [label, count] : {std::pair{text::kTotalsClean, clean}, std::pair{text::kTotalsPartly, partly},
                                     std::pair{text::kTotalsOther, other}, std::pair{text::kTotalsUnknown, unknown}}) {
    if (count == 0) continue;
    verdicts += verdicts.empty() ? " (" : ", ";
    verdicts += label + std::to_string(count);
  }
  if (!verdicts.empty()) verdicts += ")";
  return Fill(text::kSearchTotals,
              {std::to_string(installed), std::to_string(notInstalled), verdicts, std::to_string(broken)});
}

const char* CountedWord(std::uint64_t count, const char* one, const char* few, const char* many) {
  const std::uint64_t lastTwo = count % 100;
  const std::uint64_t last = count % 10;
  if (lastTwo >= 11 && lastTwo <= 14) return many;
  if (last == 1) return one;
  if (last >= 2 && last <= 4) return few;
  return many;
}

std::string Fill(const char* format, std::initializer_list<std::string> args) {
  std::string out;
  for (const char* c = format; *c != '\0'; ++c) {
    if (c[0] == '%' && c[1] >= '1' && c[1] <= '9' && static_cast<std::size_t>(c[1] - '1') < args.size()) {
      out += *(args.begin() + (c[1] - '1'));
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

}  // namespace quillet
