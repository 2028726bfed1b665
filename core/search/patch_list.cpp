#include "core/search/patch_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "core/platform/file_system.h"
#include "core/search/folder_scan.h"

namespace quillet {

namespace {

// A change of more scattered runs than this is told as one reset: row by row
// it would cost a move of the list, and the view a relayout, per run.
constexpr std::size_t kMaxRunsTold = 64;

}  // namespace

CheckBasis CheckBasis::Of(const std::string& imagePath, const AddressFilter& filter) {
  return {imagePath, filter.Stretches()};
}

bool CheckBasis::Matches(const std::string& image, const AddressFilter& filter) const {
  return imagePath == image && std::equal(filterStretches.begin(), filterStretches.end(), filter.Stretches().begin(),
                                          filter.Stretches().end(), [](const AddressRange& a, const AddressRange& b) {
                                            return a.start == b.start && a.end == b.end;
                                          });
}

SearchJob PatchList::StartSearch(const std::string& imagePath, const AddressFilter& filter, bool details,
                                 const std::vector<std::size_t>* rows) {
  m_searched = true;
  m_keepDetails = details;
  m_basis = details ? std::make_shared<const CheckBasis>(CheckBasis::Of(imagePath, filter)) : nullptr;
  SearchJob job{imagePath, {}, filter, details};
  m_searchRows.clear();
  if (rows == nullptr) {
    m_searchRows.resize(m_rows.size());
    for (std::size_t row = 0; row < m_rows.size(); ++row) m_searchRows[row] = row;
  } else {
    for (const std::size_t row : *rows)
      if (row < m_rows.size()) m_searchRows.push_back(row);
  }
  job.patchPaths.reserve(m_searchRows.size());
  for (const std::size_t index : m_searchRows) {
    PatchRow& row = m_rows[index];
    row.status = PATCH_NOT_INSTALLED;
    row.details.reset();
    row.basis.reset();
    row.addedAfterSearch = false;
    row.notChecked = false;
    job.patchPaths.push_back(row.path);
  }
  if (!m_searchRows.empty())
    Changed(*std::min_element(m_searchRows.begin(), m_searchRows.end()),
            *std::max_element(m_searchRows.begin(), m_searchRows.end()));
  return job;
}

void PatchList::Record(std::size_t jobRow, const CheckDetails& details) {
  if (jobRow >= m_searchRows.size() || m_searchRows[jobRow] >= m_rows.size()) return;
  const std::size_t row = m_searchRows[jobRow];
  m_rows[row].status = details.status;
  if (m_keepDetails) {
    m_rows[row].details = details;
    m_rows[row].basis = m_basis;
  }
  Changed(row, row);
}

void PatchList::EndSearch(std::size_t rowsChecked) {
  std::size_t first = m_rows.size();
  std::size_t last = 0;
  for (std::size_t jobRow = rowsChecked; jobRow < m_searchRows.size(); ++jobRow) {
    const std::size_t row = m_searchRows[jobRow];
    if (row >= m_rows.size()) continue;
    m_rows[row].notChecked = true;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  m_searchRows.clear();
  if (first <= last) Changed(first, last);
}

void PatchList::Clear() {
  if (m_observer) m_observer->BeforeReset();
  m_rows.clear();
  m_searchRows.clear();
  m_searched = false;
  if (m_observer) m_observer->AfterReset();
}

void PatchList::Changed(std::size_t first, std::size_t last) const {
  if (m_observer) m_observer->Changed(first, last);
}

std::size_t PatchList::UpperBound(std::string_view name, std::string_view path) const {
  const auto it = std::upper_bound(m_rows.begin(), m_rows.end(), std::pair{name, path},
                                   [](const std::pair<std::string_view, std::string_view>& key, const PatchRow& row) {
                                     return PatchRowLess(key.first, key.second, row.name, row.path);
                                   });
  return static_cast<std::size_t>(it - m_rows.begin());
}

std::optional<std::size_t> PatchList::Find(std::string_view path) const {
  // A row's name is always the last part of its path, so the order by name and
  // path leads straight to the only place where path can be.
  const std::size_t after = UpperBound(FileNameOf(path), path);
  if (after == 0 || m_rows[after - 1].path != path) return std::nullopt;
  return after - 1;
}

std::optional<std::size_t> PatchList::Add(const std::string& path) {
  if (Find(path)) return std::nullopt;
  std::string name = FileNameOf(path);
  const std::size_t row = UpperBound(name, path);
  PatchRow added;
  added.name = std::move(name);
  added.path = path;
  added.addedAfterSearch = m_searched;
  if (m_observer) m_observer->BeforeInsert(row, 1);
  m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(row), std::move(added));
  if (m_observer) m_observer->AfterInsert();
  return row;
}

std::vector<std::size_t> PatchList::AddAll(const std::vector<std::string>& paths) {
  std::vector<PatchRow> added;
  std::unordered_set<std::string_view> seen;
  for (const std::string& path : paths) {
    if (Find(path) || !seen.insert(path).second) continue;
    PatchRow row;
    row.name = FileNameOf(path);
    row.path = path;
    row.addedAfterSearch = m_searched;
    added.push_back(std::move(row));
  }
  if (added.empty()) return {};
  const auto less = [](const PatchRow& a, const PatchRow& b) { return PatchRowLess(a.name, a.path, b.name, b.path); };
  // Stable, and listed rows ahead of new ones that sort equal: where Add's
  // upper bound would put them, one after another.
  std::stable_sort(added.begin(), added.end(), less);
  std::vector<std::size_t> indexes;
  indexes.reserve(added.size());
  std::size_t listedBefore = 0;
  std::size_t runs = 0;
  for (std::size_t i = 0; i < added.size(); ++i) {
    while (listedBefore < m_rows.size() && !less(added[i], m_rows[listedBefore])) ++listedBefore;
    indexes.push_back(listedBefore + i);
    if (i == 0 || indexes[i] != indexes[i - 1] + 1) ++runs;
  }
  if (m_observer != nullptr && runs <= kMaxRunsTold) {
    // Run by run, each where the rows before it already stand.
    for (std::size_t begin = 0; begin < added.size();) {
      std::size_t end = begin + 1;
      while (end < added.size() && indexes[end] == indexes[end - 1] + 1) ++end;
      m_observer->BeforeInsert(indexes[begin], end - begin);
      m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(indexes[begin]),
                    std::make_move_iterator(added.begin() + static_cast<std::ptrdiff_t>(begin)),
                    std::make_move_iterator(added.begin() + static_cast<std::ptrdiff_t>(end)));
      m_observer->AfterInsert();
      begin = end;
    }
    return indexes;
  }
  if (m_observer) m_observer->BeforeReset();
  std::vector<PatchRow> merged;
  merged.reserve(m_rows.size() + added.size());
  auto listed = m_rows.begin();
  for (PatchRow& row : added) {
    while (listed != m_rows.end() && !less(row, *listed)) merged.push_back(std::move(*listed++));
    merged.push_back(std::move(row));
  }
  while (listed != m_rows.end()) merged.push_back(std::move(*listed++));
  m_rows = std::move(merged);
  if (m_observer) m_observer->AfterReset();
  return indexes;
}

void PatchList::Remove(std::vector<std::size_t> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::lower_bound(rows.begin(), rows.end(), m_rows.size()), rows.end());
  if (rows.empty()) return;
  std::size_t runs = 1;
  for (std::size_t i = 1; i < rows.size(); ++i)
    if (rows[i] != rows[i - 1] + 1) ++runs;
  if (m_observer != nullptr && runs <= kMaxRunsTold) {
    // From the bottom up, so the runs still to go keep their indexes.
    for (std::size_t end = rows.size(); end > 0;) {
      std::size_t begin = end - 1;
      while (begin > 0 && rows[begin - 1] + 1 == rows[begin]) --begin;
      m_observer->BeforeRemove(rows[begin], end - begin);
      m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(rows[begin]),
                   m_rows.begin() + static_cast<std::ptrdiff_t>(rows[end - 1] + 1));
      m_observer->AfterRemove();
      end = begin;
    }
    return;
  }
  if (m_observer) m_observer->BeforeReset();
  std::size_t kept = 0;
  auto gone = rows.begin();
  for (std::size_t row = 0; row < m_rows.size(); ++row) {
    if (gone != rows.end() && *gone == row) {
      ++gone;
      continue;
    }
    if (kept != row) m_rows[kept] = std::move(m_rows[row]);
    ++kept;
  }
  m_rows.resize(kept);
  if (m_observer) m_observer->AfterReset();
}

std::vector<std::string> ExpandPatchInputs(const std::vector<std::string>& inputs,
                                           std::vector<UnreadableFolder>* unreadable) {
  std::vector<std::string> paths;
  FolderScanEvents events;
  events.found = [&paths](std::vector<std::string> found) {
    paths.insert(paths.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  };
  FolderScanOutcome outcome = ScanPatchInputs(inputs, events, {});
  if (unreadable) *unreadable = std::move(outcome.unreadable);
  return paths;
}

std::vector<UnreadableFolder> AddPatchInputs(PatchList& list, const std::vector<std::string>& inputs) {
  std::vector<UnreadableFolder> unreadable;
  (void)list.AddAll(ExpandPatchInputs(inputs, &unreadable));
  return unreadable;
}

}  // namespace quillet
