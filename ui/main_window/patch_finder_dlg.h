#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <array>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_list.h"

class IUserPrompts;

class QContextMenuEvent;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The main window: the two chosen images, the list of patch files and every
// command. A fixed-size dialog laid out in dialog units; each control's
// objectName is its IDC_ name. Its handlers are spread over
// patch_finder_dlg_*.cpp by subsystem: the images, the list, the search.
//
// It is handed what it works with: the settings file's path, the address
// filter in force (the program's g_addrFilter, reloaded from that file), and
// the prompts its commands show.
class CPatchFinderDlg : public QDialog {
  Q_OBJECT
 public:
  CPatchFinderDlg(std::string settingsPath, AddressFilter& filter, IUserPrompts& prompts, QWidget* parent = nullptr);
  ~CPatchFinderDlg() override;

  // Full paths of the chosen images (bytes as the file system has them); empty
  // = not chosen. The comparison window reads both from its owner.
  std::string m_strOriginalFlash;
  std::string m_strCurrentFlash;

  // Enables "- файл", "Поиск" and "Отличия" from the list and the chosen images.
  void UpdateButtons();

  // Adds files and folders as "+ файл" and "+ каталог" do (dropped on the list,
  // or named on the command line).
  void AddPaths(const std::vector<std::string>& paths);

  // The row whose full path is exactly path, or -1.
  [[nodiscard]] int FindPatchItem(const std::string& path) const;

  // The list the rows show, in display order.
  [[nodiscard]] const quillet::PatchList& PatchList() const { return m_patches; }
  // Rows in display order: the full path and the mark of row.
  [[nodiscard]] int PatchCount() const;
  [[nodiscard]] std::string PatchPath(int row) const;
  [[nodiscard]] PatchStatus PatchMark(int row) const;

  // What the comparison window and the filter dialog are handed.
  [[nodiscard]] const std::string& SettingsPath() const { return m_settingsPath; }
  [[nodiscard]] AddressFilter& Filter() const { return m_addrFilter; }
  [[nodiscard]] IUserPrompts& Prompts() const { return m_prompts; }

  // The window menu (the About entry last, after a separator).
  [[nodiscard]] QMenu* WindowMenu() const { return m_windowMenu; }
  // A row's context menu ("Подробности…").
  [[nodiscard]] QMenu* RowMenu() const { return m_rowMenu; }

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
  // Opens the details window of the current row.
  void OnPatchDetails();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Files and folders dropped on the patch list.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  // Loads the address filter from the settings file; says so when it can't.
  void ReloadAddressFilter();
  void CreateControls();
  void BrowseFlash(std::string& field, QLabel* name, QLabel* size, QLabel* date);
  // Adds a row unless the path is listed; keeps the rows sorted.
  void AddPatchItem(const std::string& fullPath);
  // Adds the rows in one batch and shows them with one change of the widget.
  void AddPatchItems(const std::vector<std::string>& paths);
  // Shows row's mark as the list holds it.
  void ShowPatchMark(int row) const;
  // The rows' tooltips follow the evidence and what is chosen now.
  void ShowRowTooltip(int row) const;
  void ShowRowTooltips() const;
  void ResetProgress();
  // Shows text in the status line at once, without letting input events in.
  void ShowStatus(const QString& text, bool force);
  void ShowWindowMenu(const QPoint& globalPos);

  std::string m_settingsPath;
  AddressFilter& m_addrFilter;
  IUserPrompts& m_prompts;
  quillet::PatchList m_patches;  // the rows; m_patchList shows them in the same order

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
  QMenu* m_rowMenu = nullptr;
  QElapsedTimer m_paintClock;
  qint64 m_lastStatusPaint = -1;
};
