#pragma once
#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <cstddef>
#include <string>

#include "core/filter/address_filter.h"
#include "core/search/patch_list.h"

namespace quillet {

// The main window's rows as Qt sees them. The model owns the core's PatchList:
// every change of the list (rows added or removed, a search's marks) reaches
// the view through the list's own notifications, never by a call made beside
// it. Column 0 shows a row's mark and name, column 1 its path; the tooltip is
// the row's evidence as judged against the image and filter now chosen.
class PatchListModel final : public QAbstractTableModel, private quillet::PatchListObserver {
  Q_OBJECT
 public:
  // filter: the one in force, which outlives the model.
  explicit PatchListModel(const quillet::AddressFilter& filter, QObject* parent = nullptr);
  ~PatchListModel() override;

  [[nodiscard]] quillet::PatchList& List() { return m_list; }
  [[nodiscard]] const quillet::PatchList& List() const { return m_list; }
  // The image the evidence is judged against; every tooltip may read
  // differently after it, as after FilterChanged.
  void SetCurrentImage(const std::string& path);
  void FilterChanged();
  // The icon of the view's rows, for its icon size.
  [[nodiscard]] static QSize IconSize();

  [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void BeforeInsert(std::size_t first, std::size_t count) override;
  void AfterInsert() override;
  void BeforeRemove(std::size_t first, std::size_t count) override;
  void AfterRemove() override;
  void BeforeReset() override;
  void AfterReset() override;
  void Changed(std::size_t first, std::size_t last) override;

  quillet::PatchList m_list;
  const quillet::AddressFilter& m_filter;
  std::string m_imagePath;
  std::array<QIcon, 4> m_icons;  // by PatchStatus: state picture + small image
  QIcon m_notCheckedIcon;        // the small image alone, where the state picture would be
};

}  // namespace quillet
