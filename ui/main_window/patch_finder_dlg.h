#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <array>
#include <string>

#include "core/search/patch_check.h"

class QContextMenuEvent;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The main window: the two chosen images, the list of patch files and every
// command. A fixed-size dialog laid out in dialog units; each control's
// objectName is its IDC_ name.
class CPatchFinderDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CPatchFinderDlg(QWidget* parent = nullptr);
  ~CPatchFinderDlg() override;

  // Full paths of the chosen images (bytes as the file system has them); empty
  // = not chosen. The comparison window reads both from its owner.
  std::string m_strOriginalFlash;
  std::string m_strCurrentFlash;

  // Enables "- файл", "Поиск" and "Отличия" from the list and the chosen images.
  void UpdateButtons();

  // The row whose full path is exactly path, or -1.
  [[nodiscard]] int FindPatchItem(const std::string& path) const;

  // Rows in display order: the full path and the mark of row.
  [[nodiscard]] int PatchCount() const;
  [[nodiscard]] std::string PatchPath(int row) const;
  [[nodiscard]] PatchStatus PatchMark(int row) const;

  // The window menu (the About entry last, after a separator).
  [[nodiscard]] QMenu* WindowMenu() const { return m_windowMenu; }

 public slots:
  void OnBrowseCurrentFlash();
  void OnBrowseOriginalFlash();
  void OnAddFile();
  void OnAddFolder();
  void OnRemoveFile();
  void OnDblclkPatchList();
  void OnFilter();
  void OnSearch();
  void OnDifferences();
  void OnAboutBox();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnInitDialog();
  // Loads the address filter from the settings file; says so when it can't.
  void ReloadAddressFilter();
  void CreateControls();
  void BrowseFlash(std::string& field, QLabel* name, QLabel* size, QLabel* date);
  // Adds a row unless the path is listed; keeps the rows sorted.
  void AddPatchItem(const std::string& fullPath);
  void SetPatchMark(QTreeWidgetItem* item, PatchStatus status) const;
  void ResetProgress();
  // Shows text in the status line at once, without letting input events in.
  void ShowStatus(const QString& text, bool force);
  void ShowWindowMenu(const QPoint& globalPos);

  std::array<QIcon, 4> m_rowIcons;  // by PatchStatus: state picture + small image
  QIcon m_hIcon;

  QPushButton* m_curBrowse = nullptr;
  QTreeWidget* m_patchList = nullptr;
  QPushButton* m_addFile = nullptr;
  QPushButton* m_addFolder = nullptr;
  QPushButton* m_removeFile = nullptr;
  QPushButton* m_filter = nullptr;
  QPushButton* m_search = nullptr;
  QPushButton* m_differences = nullptr;
  QPushButton* m_exit = nullptr;
  QPushButton* m_origBrowse = nullptr;
  QLabel* m_curName = nullptr;
  QLabel* m_curSize = nullptr;
  QLabel* m_curDate = nullptr;
  QLabel* m_origName = nullptr;
  QLabel* m_origSize = nullptr;
  QLabel* m_origDate = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_status = nullptr;
  QMenu* m_windowMenu = nullptr;
  QElapsedTimer m_paintClock;
  qint64 m_lastStatusPaint = -1;
};
