#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/folder_scan.h"
#include "core/search/patch_check.h"
#include "core/search/search.h"

namespace quillet {

// What a search's details were found against. A row's evidence only explains
// its mark while the user's choice is still the same image and the same
// addresses left out.
struct CheckBasis {
  std::string imagePath;
  // The filter's stretches, not its ranges: the same addresses loaded in
  // another order or overlapping differently filter alike.
  std::vector<AddressRange> filterStretches;

  [[nodiscard]] static CheckBasis Of(const std::string& imagePath, const AddressFilter& filter);
  [[nodiscard]] bool Matches(const std::string& imagePath, const AddressFilter& filter) const;
};

// One listed patch file: the path is its identity (exact bytes, as the file
// system gave them), the name is what the list shows first.
struct PatchRow {
  std::string name;
  std::string path;
  PatchStatus status = PATCH_NOT_INSTALLED;  // of the last search; not installed until then
  // The evidence of the last search that kept it and reached this row, and
  // what it was found against (shared by the rows of one search).
  std::optional<CheckDetails> details;
  std::shared_ptr<const CheckBasis> basis;
  bool addedAfterSearch = false;  // listed after a search had run over the list
};

// The list of patch files the main window shows and quillet-cli checks: each
// path once, rows always in display order (PatchRowLess).
class PatchList {
 public:
  // Adds path unless it is listed; the new row's index, or nothing when it was
  // already there.
  std::optional<std::size_t> Add(const std::string& path);
  // The same for many paths at once, in one sort and one merge rather than an
  // insertion each: rows end where one Add after another would put them. The
  // new rows' indexes, rising.
  std::vector<std::size_t> AddAll(const std::vector<std::string>& paths);
  // The row whose path is exactly path.
  [[nodiscard]] std::optional<std::size_t> Find(std::string_view path) const;
  // Removes the rows at these indexes (any order, duplicates ignored).
  void Remove(std::vector<std::size_t> rows);
  void Clear() {
    m_rows.clear();
    m_searched = false;
  }

  [[nodiscard]] const std::vector<PatchRow>& Rows() const { return m_rows; }
  [[nodiscard]] std::size_t size() const { return m_rows.size(); }
  [[nodiscard]] bool empty() const { return m_rows.empty(); }
  [[nodiscard]] const PatchRow& operator[](std::size_t row) const { return m_rows[row]; }
  void SetStatus(std::size_t row, PatchStatus status) { m_rows[row].status = status; }
  void SetDetails(std::size_t row, const CheckDetails& details, std::shared_ptr<const CheckBasis> basis) {
    m_rows[row].details = details;
    m_rows[row].basis = std::move(basis);
  }
  // A search is starting: every row forgets the previous one's evidence.
  void StartSearch();
  // Whether a search has run over the list since it was made or cleared.
  [[nodiscard]] bool Searched() const { return m_searched; }

 private:
  // First row that sorts after (name, path).
  [[nodiscard]] std::size_t UpperBound(std::string_view name, std::string_view path) const;

  std::vector<PatchRow> m_rows;
  bool m_searched = false;
};

// The paths that files and folders stand for, as "+ файл" and "+ каталог"
// take them: a folder gives every *.vkp file below it, anything else itself.
// status is told the folder scan's progress (see ScanFolder); the folders that
// could not be read are added to unreadable when it is given.
[[nodiscard]] std::vector<std::string> ExpandPatchInputs(const std::vector<std::string>& inputs,
                                                         const std::function<void(const std::string&)>& status = {},
                                                         std::vector<UnreadableFolder>* unreadable = nullptr);

// Adds what ExpandPatchInputs gives to the list, in one batch. Returns the
// folders that could not be read, in the order met.
std::vector<UnreadableFolder> AddPatchInputs(PatchList& list, const std::vector<std::string>& inputs,
                                             const std::function<void(const std::string&)>& status = {});

// Whether a search over the list leaves each row's evidence in the row.
enum class RowDetails { drop, keep };

// The search over a list: every row is first marked not installed, so no mark
// of an earlier search stays, then rows get their status top to bottom as in
// RunSearch. The observer sees each row after the list has it. With
// RowDetails::keep, the evidence is gathered even without explained, and each
// row has it (and the image and filter) before the observer sees the row.
[[nodiscard]] SearchResult SearchPatchList(const std::string& imagePath, PatchList& list,
                                           const AddressFilter& filter, const SearchObserver& observer,
                                           const ExplainedCheck& explained = {},
                                           RowDetails rowDetails = RowDetails::drop);

}  // namespace quillet
