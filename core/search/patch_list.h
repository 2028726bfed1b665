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
  // The last search that was to check it ended before it did: its mark says
  // nothing, neither installed nor not.
  bool notChecked = false;
};

// Told of every change of a PatchList while it happens, so that a view of the
// rows never has to be told by hand. A Before call comes while the rows are
// still as they were, its After call once they have changed.
class PatchListObserver {
 public:
  virtual void BeforeInsert(std::size_t first, std::size_t count) = 0;
  virtual void AfterInsert() = 0;
  virtual void BeforeRemove(std::size_t first, std::size_t count) = 0;
  virtual void AfterRemove() = 0;
  // Too many scattered rows come or go at once to be told run by run.
  virtual void BeforeReset() = 0;
  virtual void AfterReset() = 0;
  // Rows first..last have new marks or evidence.
  virtual void Changed(std::size_t first, std::size_t last) = 0;

 protected:
  ~PatchListObserver() = default;
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
  void Clear();
  // observer (or none) is told of every change from now on; it must outlive
  // the list or be taken away first.
  void SetObserver(PatchListObserver* observer) { m_observer = observer; }

  [[nodiscard]] const std::vector<PatchRow>& Rows() const { return m_rows; }
  [[nodiscard]] std::size_t size() const { return m_rows.size(); }
  [[nodiscard]] bool empty() const { return m_rows.empty(); }
  [[nodiscard]] const PatchRow& operator[](std::size_t row) const { return m_rows[row]; }
  // A search over the list is starting: every row is marked not installed, so
  // no mark of an earlier search stays, and forgets that search's evidence.
  // The job that checks the rows, top to bottom.
  // With rows, only those rows (in the order given) are searched and reset;
  // the job's row i is then rows[i].
  [[nodiscard]] SearchJob StartSearch(const std::string& imagePath, const AddressFilter& filter, bool details,
                                      const std::vector<std::size_t>* rows = nullptr);
  // The search's result for the job's row: its status, and its evidence (with
  // what it was found against) when the search gathered it.
  void Record(std::size_t jobRow, const CheckDetails& details);
  // The search has ended having checked its first rowsChecked rows: the rest
  // are marked not checked, since a search that never reached a row knows
  // nothing of it.
  void EndSearch(std::size_t rowsChecked);

 private:
  // First row that sorts after (name, path).
  [[nodiscard]] std::size_t UpperBound(std::string_view name, std::string_view path) const;
  // Tells the observer that rows first..last changed, if there is one.
  void Changed(std::size_t first, std::size_t last) const;

  std::vector<PatchRow> m_rows;
  PatchListObserver* m_observer = nullptr;
  std::vector<std::size_t> m_searchRows;  // the running search's rows, when not all
  bool m_searched = false;                // a search has run over the list since it was made or cleared
  bool m_keepDetails = false;
  std::shared_ptr<const CheckBasis> m_basis;  // of the latest search
};

// The paths that files and folders stand for, as "+ файл" and "+ каталог"
// take them: a folder gives every *.vkp file below it, anything else itself
// (ScanPatchInputs, run here and now). The folders that could not be read are
// put in unreadable when it is given.
[[nodiscard]] std::vector<std::string> ExpandPatchInputs(const std::vector<std::string>& inputs,
                                                         std::vector<UnreadableFolder>* unreadable = nullptr);

// Adds what ExpandPatchInputs gives to the list, in one batch. Returns the
// folders that could not be read, in the order met.
std::vector<UnreadableFolder> AddPatchInputs(PatchList& list, const std::vector<std::string>& inputs);

}  // namespace quillet
