#include "core/search/patch_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "core/platform/file_io.h"
#include "core/search/folder_scan.h"

namespace quillet {

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
  auto start = [&job](PatchRow& row) {
    row.status = PATCH_NOT_INSTALLED;
    row.details.reset();
    row.basis.reset();
    row.addedAfterSearch = false;
    job.patchPaths.push_back(row.path);
  };
  if (rows == nullptr) {
    job.patchPaths.reserve(m_rows.size());
    for (PatchRow& row : m_rows) start(row);
  } else {
    for (const std::size_t row : *rows)
      if (row < m_rows.size()) start(m_rows[row]);
  }
  return job;
}

void PatchList::Record(std::size_t row, const CheckDetails& details) {
  if (row >= m_rows.size()) return;
  m_rows[row].status = details.status;
  if (!m_keepDetails) return;
  m_rows[row].details = details;
  m_rows[row].basis = m_basis;
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
  m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(row), std::move(added));
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
  const auto less = [](const PatchRow& a, const PatchRow& b) { return PatchRowLess(a.name, a.path, b.name, b.path); };
  // Stable, and listed rows ahead of new ones that sort equal: where Add's
  // upper bound would put them, one after another.
  std::stable_sort(added.begin(), added.end(), less);
  std::vector<std::size_t> indexes;
  indexes.reserve(added.size());
  std::vector<PatchRow> merged;
  merged.reserve(m_rows.size() + added.size());
  auto listed = m_rows.begin();
  for (PatchRow& row : added) {
    while (listed != m_rows.end() && !less(row, *listed)) merged.push_back(std::move(*listed++));
    indexes.push_back(merged.size());
    merged.push_back(std::move(row));
  }
  while (listed != m_rows.end()) merged.push_back(std::move(*listed++));
  m_rows = std::move(merged);
  return indexes;
}

void PatchList::Remove(std::vector<std::size_t> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // From the bottom up, so the indexes still to go stay valid.
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    if (*it < m_rows.size()) m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(*it));
}

std::vector<std::string> ExpandPatchInputs(const std::vector<std::string>& inputs,
                                           const std::function<void(const std::string&)>& status,
                                           std::vector<UnreadableFolder>* unreadable) {
  std::vector<std::string> paths;
  FolderScanCallbacks callbacks;
  callbacks.showStatus = [&status](const std::string& text) {
    if (status) status(text);
  };
  callbacks.addPatchFile = [&paths](const std::string&, const std::string& path) { paths.push_back(path); };
  callbacks.unreadableFolder = [unreadable](const std::string& folder, int osError) {
    if (unreadable) unreadable->push_back({folder, osError});
  };
  for (const std::string& input : inputs) {
    struct stat st {};
    if (::stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      ScanFolder(input, callbacks);
    else
      paths.push_back(input);
  }
  return paths;
}

std::vector<UnreadableFolder> AddPatchInputs(PatchList& list, const std::vector<std::string>& inputs,
                                             const std::function<void(const std::string&)>& status) {
  std::vector<UnreadableFolder> unreadable;
  (void)list.AddAll(ExpandPatchInputs(inputs, status, &unreadable));
  return unreadable;
}

}  // namespace quillet
