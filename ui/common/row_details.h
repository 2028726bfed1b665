#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_conflicts.h"
#include "core/search/patch_list.h"

// The evidence behind each row's mark, in the program's Russian voice (UTF-8).

namespace quillet {

// The tooltip shows a glance; the details window everything the row holds.
enum class DetailsForm { brief, full };

// A listed patch file that can't be installed together with a row.
struct RowConflict {
  std::string name;
  std::size_t addresses = 0;
};

// The lines that explain row's mark, judged against the image and filter now
// chosen: empty when no search has anything to say about the row (none has
// run over it).
[[nodiscard]] std::vector<std::string> RowDetailsLines(const PatchRow& row, const std::string& imagePath,
                                                       const AddressFilter& filter, DetailsForm form,
                                                       const std::vector<RowConflict>& conflicts = {});

// A check's evidence alone, as a row's details give it (a broken file's line
// and rule, say), for a window that has no row.
[[nodiscard]] std::vector<std::string> EvidenceLines(const CheckDetails& details, DetailsForm form);

// The row's tooltip: its full path, which the columns cut off, then the brief details.
[[nodiscard]] std::string RowTooltip(const PatchRow& row, const std::string& imagePath, const AddressFilter& filter);

// The listed files row collides with; found was computed over the list's
// paths in display order, and names are the same rows' names.
[[nodiscard]] std::vector<RowConflict> ConflictsOfRow(const PatchConflicts& found,
                                                      const std::vector<std::string>& names, std::size_t row);

// The status line after a search that reached every row.
[[nodiscard]] std::string SearchTotalsText(const PatchList& list);

// The noun's form that Russian counts with: 1 адрес, 2 адреса, 5 адресов
// (21 адрес, 12 адресов).
[[nodiscard]] const char* CountedWord(std::uint64_t count, const char* one, const char* few, const char* many);

// The format with %1.. replaced by the arguments in one pass, so that an
// argument holding "%2" (a file's line, a path) stays as it is; at most nine.
[[nodiscard]] std::string Fill(const char* format, std::initializer_list<std::string> args);

}  // namespace quillet
