#include "ui/main_window/patch_list_model.h"

#include <QPainter>

#include "ui/common/resources.h"
#include "ui/common/row_details.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

constexpr int kImageGap = 2;

const char* MarkDescription(const quillet::PatchRow& row) {
  if (row.notChecked) return quillet::text::kMarkNotChecked;
  switch (row.status) {
    case PATCH_INSTALLED:
      return quillet::text::kMarkInstalled;
    case PATCH_FILE_ERROR:
      return quillet::text::kMarkFileError;
    case PATCH_NOT_INSTALLED:
      break;
  }
  return quillet::text::kMarkNotInstalled;
}

// The list shows a row's state picture and its small image side by side, as
// one icon; a row without a state picture keeps its small image in place.
QIcon RowIcon(const QPixmap* state) {
  QPixmap pixmap(PatchListModel::IconSize());
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  if (state) painter.drawPixmap(0, 0, *state);
  painter.drawPixmap(res::kSmallImage + kImageGap, 0, quillet::res::PatchIcon());
  return QIcon(pixmap);
}

}  // namespace

PatchListModel::PatchListModel(const quillet::AddressFilter& filter, QObject* parent)
    : QAbstractTableModel(parent), m_filter(filter), m_notCheckedIcon(RowIcon(nullptr)) {
  for (PatchStatus status : {PATCH_NOT_INSTALLED, PATCH_INSTALLED, PATCH_FILE_ERROR}) {
    const QPixmap state = quillet::res::PatchStateImage(status);
    m_icons.at(status) = RowIcon(&state);
  }
  m_list.SetObserver(this);
}

PatchListModel::~PatchListModel() { m_list.SetObserver(nullptr); }

QSize PatchListModel::IconSize() { return {2 * res::kSmallImage + kImageGap, res::kSmallImage}; }

void PatchListModel::SetCurrentImage(const std::string& path) {
  m_imagePath = path;
  FilterChanged();
}

void PatchListModel::FilterChanged() {
  if (!m_list.empty()) Changed(0, m_list.size() - 1);
}

int PatchListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_list.size());
}

int PatchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant PatchListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_list.size()) return {};
  const quillet::PatchRow& patch = m_list[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(index.column() == 0 ? patch.name : patch.path);
    case Qt::DecorationRole:
      if (index.column() == 0) return patch.notChecked ? m_notCheckedIcon : m_icons.at(patch.status);
      break;
    case Qt::AccessibleDescriptionRole:
      if (index.column() == 0) return QString::fromUtf8(MarkDescription(patch));
      break;
    case Qt::ToolTipRole:
      // The columns cut long paths short; the whole one, and why the row has its
      // mark, are a pointer away.
      return QString::fromStdString(quillet::RowTooltip(patch, m_imagePath, m_filter));
    default:
      break;
  }
  return {};
}

QVariant PatchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return QString::fromUtf8(section == 0 ? quillet::text::kColumnFileName : quillet::text::kColumnFilePath);
}

void PatchListModel::BeforeInsert(std::size_t first, std::size_t count) {
  beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count) - 1);
}

void PatchListModel::AfterInsert() { endInsertRows(); }

void PatchListModel::BeforeRemove(std::size_t first, std::size_t count) {
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(first + count) - 1);
}

void PatchListModel::AfterRemove() { endRemoveRows(); }

void PatchListModel::BeforeReset() { beginResetModel(); }

void PatchListModel::AfterReset() { endResetModel(); }

void PatchListModel::Changed(std::size_t first, std::size_t last) {
  if (first > last || last >= m_list.size()) return;
  emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), 1));
}

}  // namespace quillet
