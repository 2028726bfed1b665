#pragma once
#include <QDialog>
#include <QIcon>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_list.h"
#include "core/search/search.h"
#include "ui/common/job_link_qt.h"
#include "ui/main_window/flash_selection.h"

class QContextMenuEvent;
class QLabel;
class QMenu;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace quillet {

class IUserPrompts;

class ElidedLabel;
class PatchListModel;

// The main window: the two chosen images, the list of patch files and every
// command. Laid out in dialog units as the template has it, and it may be made
// larger (never smaller): the list takes the room. Each control's objectName is
// its IDC_ name. Its handlers are spread over patch_finder_dlg_*.cpp by
// subsystem: the images, the list, the search.
//
// It is handed what it works with: the settings file's path, the address
// filter in force (the program's g_addrFilter, reloaded from that file), and
// the prompts its commands show.
class CPatchFinderDlg : public QDialog {
  Q_OBJECT
 public:
  CPatchFinderDlg(std::string settingsPath, quillet::AddressFilter& filter, IUserPrompts& prompts,
                  QWidget* parent = nullptr);
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

  // The list the rows show, in display order.
  [[nodiscard]] const quillet::PatchList& PatchList() const;
  // True while a search or a folder scan runs.
  [[nodiscard]] bool Busy() const { return m_link->Busy(); }
  // Makes the search pause this long before each row, and the folder scan
  // before each file, so that a run lasts long enough to be acted on in the
  // middle (tests). None by default.
  void SetWorkerPacing(std::chrono::microseconds pause) { m_pacing = pause; }

  // What the comparison window and the filter dialog are handed.
  [[nodiscard]] const std::string& SettingsPath() const { return m_settingsPath; }
  [[nodiscard]] quillet::AddressFilter& Filter() const { return m_addrFilter; }
  [[nodiscard]] IUserPrompts& Prompts() const { return m_prompts; }

  // The window menu (the About entry last, after a separator).
  [[nodiscard]] QMenu* WindowMenu() const { return m_windowMenu; }
  // A row's context menu ("Подробности…").
  [[nodiscard]] QMenu* RowMenu() const { return m_rowMenu; }

 public slots:
  // "Выход", Escape and the close box: a running search or scan is stopped first.
  void reject() override;
  void OnBrowseCurrentFlash();
  void OnBrowseOriginalFlash();
  void OnAddFile();
  void OnAddFolder();
  void OnRemoveFile();
  void OnDblclkPatchList();
  void OnFilter();
  // "Поиск" starts the search as a job; while it or a folder scan runs the
  // button reads "Стоп" and ends it.
  void OnSearch();
  void OnDifferences();
  void OnAboutBox();
  // Opens the details window of the current row.
  void OnPatchDetails();
  // Installs the selected rows' patches into the current image, or reverts them.
  void OnInstallPatches() { InstallSelected(false); }
  void OnRevertPatches() { InstallSelected(true); }
  // Ports the selected rows' patches to the current image; what is written is
  // added to the list and checked against the image, if the user wishes.
  void OnPortPatches();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Escape stops a running search instead of closing the window.
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Files and folders dropped on the patch list.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  // Loads the address filter from the settings file; says so when it can't.
  void ReloadAddressFilter();
  void CreateControls();
  void BrowseFlash(std::string& field, ElidedLabel* name, QLabel* size, QLabel* date);
  void ShowFlash(const quillet::FlashChoice& choice, std::string& field, ElidedLabel* name, QLabel* size, QLabel* date);
  // Makes path the current image, as if it had been chosen with its "?".
  void ChooseCurrentFlash(const std::string& path);
  // Keeps the controls where the template puts them, the list taking what the
  // window has grown by.
  void OnSize(int cx, int cy);
  // Searches the rows given (all when none are), top to bottom.
  void SearchRows(std::vector<std::size_t> rows);
  // The selected rows' "Установить в образ…" and "Откатить…".
  void InstallSelected(bool revert);
  // Adds the files that inputs stand for on a job: a folder of 50,000 files
  // must not hold the window up.
  void ScanInputs(const std::vector<std::string>& inputs);
  void OnScanDone(const quillet::FolderScanOutcome& outcome);
  // The search's events, on the window's thread.
  void OnSearchStarted(std::size_t rows);
  void OnSearchChecked(std::size_t row, const quillet::CheckDetails& details);
  void OnSearchDone(const quillet::SearchOutcome& outcome);
  // While a search or a scan runs, "Поиск" reads "Стоп" and the commands
  // that would change the list, the images or the filter can't be used.
  void ShowBusy(bool busy);
  void ResetProgress();
  void ShowStatus(const QString& text);
  void ShowWindowMenu(const QPoint& globalPos);
  // The row's context menu, at viewportPos; nothing off the rows.
  void ShowRowMenu(const QModelIndex& row, const QPoint& viewportPos);

  std::string m_settingsPath;
  quillet::AddressFilter& m_addrFilter;
  IUserPrompts& m_prompts;
  QIcon m_hIcon;

  QPushButton* m_curBrowse = nullptr;
  QTreeView* m_patchList = nullptr;
  PatchListModel* m_model = nullptr;  // owns the rows m_patchList shows
  QPushButton* m_addFile = nullptr;
  QPushButton* m_addFolder = nullptr;
  QPushButton* m_removeFile = nullptr;
  QPushButton* m_filter = nullptr;
  QPushButton* m_search = nullptr;
  QPushButton* m_differences = nullptr;
  QPushButton* m_exit = nullptr;
  QPushButton* m_origBrowse = nullptr;
  ElidedLabel* m_curName = nullptr;
  QLabel* m_curSize = nullptr;
  QLabel* m_curDate = nullptr;
  ElidedLabel* m_origName = nullptr;
  QLabel* m_origSize = nullptr;
  QLabel* m_origDate = nullptr;
  QProgressBar* m_progress = nullptr;
  ElidedLabel* m_status = nullptr;
  QWidget* m_patchesGroup = nullptr;
  QWidget* m_curGroup = nullptr;
  QWidget* m_origGroup = nullptr;
  QMenu* m_windowMenu = nullptr;
  QMenu* m_rowMenu = nullptr;
  QSize m_templateSize;  // the size the window opens with, and its least
  std::chrono::microseconds m_pacing{0};
  std::size_t m_searchRows = 0;              // of the running search
  std::size_t m_searchChecked = 0;           // rows it has reported
  QString m_statusNote;                      // said before the next search's totals (an undo patch saved)
  std::vector<std::string> m_pendingInputs;  // added while a job ran: added when it ends
  QtJobLink m_link;                          // last member: gone first, after the search has stopped
};

}  // namespace quillet
