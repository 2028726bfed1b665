#pragma once
#include <QTreeWidgetItem>
#include <string>

#include "core/search/patch_check.h"

// One row of the main window's patch list. Keeps the path's bytes as the file
// system gave them (the shown texts may have lost some in decoding) and the
// row's mark, the status of its last search.
class PatchListItem final : public QTreeWidgetItem {
 public:
  PatchListItem(std::string name, std::string fullPath)
      : m_name(std::move(name)), m_path(std::move(fullPath)) {}

  [[nodiscard]] const std::string& name() const { return m_name; }
  [[nodiscard]] const std::string& path() const { return m_path; }
  [[nodiscard]] PatchStatus mark() const { return m_mark; }
  void setMark(PatchStatus mark) { m_mark = mark; }

 private:
  std::string m_name;
  std::string m_path;
  PatchStatus m_mark = PATCH_NOT_INSTALLED;
};
