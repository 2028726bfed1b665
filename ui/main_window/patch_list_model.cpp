#include "ui/main_window/patch_list_model.h"

#include "core/res/strings.h"

using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

const char* MarkDescription(PatchStatus status) {
  switch (status) {
    case PATCH_INSTALLED:
      return quillet::text::kMarkInstalled;
    case PATCH_FILE_ERROR:
      return quillet::text::kMarkFileError;
    case PATCH_NOT_INSTALLED:
      break;
  }
  return quillet::text::kMarkNotInstalled;
}

}  // namespace

PatchListModel::PatchListModel(const quillet::PatchList& list, const std::array<QIcon, 4>& icons, Tooltip tooltip,
                               QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_icons(icons), m_tooltip(std::move(tooltip)) {}

int PatchListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_list.size());
}

int PatchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant PatchListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_list.size()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  const quillet::PatchRow& patch = m_list[row];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(index.column() == 0 ? patch.name : patch.path);
    case Qt::DecorationRole:
      if (index.column() == 0) return m_icons.at(patch.status);
      break;
    case Qt::AccessibleDescriptionRole:
      if (index.column() == 0) return QString::fromUtf8(MarkDescription(patch.status));
      break;
    case Qt::ToolTipRole:
      // The columns cut long paths short; the whole one, and why the row has its
      // mark, are a pointer away.
      return m_tooltip ? m_tooltip(row) : QVariant();
    default:
      break;
  }
  return {};
}

QVariant PatchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return QString::fromUtf8(section == 0 ? quillet::text::kColumnFileName : quillet::text::kColumnFilePath);
}

void PatchListModel::RowsChanged(std::size_t first, std::size_t last) {
  if (first > last || last >= m_list.size()) return;
  emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), 1));
}

void PatchListModel::AllRowsChanged() {
  if (!m_list.empty()) RowsChanged(0, m_list.size() - 1);
}
