#include "ui/main_window/patch_finder_dlg.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <array>
#include <utility>

#include "core/filter/filter_storage.h"
#include "core/search/patch_conflicts.h"
#include "ui/about/about_dlg.h"
#include "ui/common/dialog_units.h"
#include "ui/common/elided_label.h"
#include "ui/common/group_frame.h"
#include "ui/common/resources.h"
#include "ui/common/row_details.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/compare/flash_compare_dlg.h"
#include "ui/details/patch_details_dlg.h"
#include "ui/filter/addr_filter_dlg.h"
#include "ui/install/install_dlg.h"
#include "ui/main_window/patch_list_model.h"
#include "ui/port/port_dlg.h"

namespace quillet {

namespace {

constexpr int kColumnWidth = 206;  // pixels, as the list was drawn

// The image groups' controls in dialog units, as the template places them;
// OnSize moves them from here.
struct DluRect {
  int x, y, width, height;
  [[nodiscard]] QRect In(const DialogUnits& du) const { return du.rect(x, y, width, height); }
};
constexpr DluRect kCurBrowse{286, 13, 15, 13};
constexpr DluRect kOrigBrowse{135, 13, 15, 13};
constexpr DluRect kCurGroup{158, 8, 146, 38};
constexpr DluRect kOrigGroup{7, 8, 146, 38};
// Name, size and date, top to bottom, of either group.
constexpr std::array<DluRect, 3> kCurTexts{{{162, 16, 120, 8}, {162, 25, 120, 8}, {162, 34, 136, 8}}};
constexpr std::array<DluRect, 3> kOrigTexts{{{11, 16, 120, 8}, {11, 25, 120, 8}, {11, 34, 136, 8}}};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

CPatchFinderDlg::CPatchFinderDlg(std::string settingsPath, AddressFilter& filter, IUserPrompts& prompts,
                                 QWidget* parent)
    : QDialog(parent),
      m_settingsPath(std::move(settingsPath)),
      m_addrFilter(filter),
      m_prompts(prompts),
      m_hIcon(quillet::res::AppIcon()) {
  CreateControls();
  OnInitDialog();
}

CPatchFinderDlg::~CPatchFinderDlg() { m_link->Close(); }

const quillet::PatchList& CPatchFinderDlg::PatchList() const { return m_model->List(); }

void CPatchFinderDlg::CreateControls() {
  setObjectName(QStringLiteral("IDD_PATCHFINDER_DIALOG"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(Text(quillet::text::kMainTitle));
  setFont(DialogUnits::DialogFont());
  const DialogUnits du(font());
  // Opens as the template has it, and never gets smaller than that.
  m_templateSize = du.size(311, 199);
  resize(m_templateSize);
  setMinimumSize(m_templateSize);

  // Created in the template's order, which is also the tab order.
  auto button = [&](const char* id, const char* label, QRect rect, void (CPatchFinderDlg::*handler)()) {
    auto* b = new QPushButton(Text(label), this);
    b->setObjectName(QString::fromLatin1(id));
    b->setGeometry(rect);
    b->setAutoDefault(true);
    // The last search's totals stay in the status line until the next command; connected first, so a
    // command's own status comes after.
    connect(b, &QPushButton::clicked, this, [this] { ShowStatus(QString()); });
    connect(b, &QPushButton::clicked, this, handler);
    return b;
  };
  auto label = [&](const char* id, const char* text, QRect rect) {
    auto* l = new QLabel(Text(text), this);
    if (id) l->setObjectName(QString::fromLatin1(id));
    l->setGeometry(rect);
    return l;
  };
  // Group boxes frame their controls from behind, as siblings, so they never take their clicks.
  auto group = [&](const char* title, QRect rect) {
    auto* g = new GroupFrame(Text(title), this);
    g->setGeometry(rect);
    g->lower();
    return g;
  };

  m_curBrowse =
      button("IDC_CUR_FLASH_BROWSE", quillet::text::kBrowse, kCurBrowse.In(du), &CPatchFinderDlg::OnBrowseCurrentFlash);
  m_curBrowse->setAccessibleName(Text(quillet::text::kAccCurrentBrowse));

  m_patchList = new QTreeView(this);
  m_patchList->setObjectName(QStringLiteral("IDC_PATCH_LIST"));
  m_patchList->setGeometry(du.rect(11, 60, 288, 93));
  m_patchList->setAccessibleName(Text(quillet::text::kAccPatchList));
  connect(m_patchList, &QTreeView::doubleClicked, this, &CPatchFinderDlg::OnDblclkPatchList);
  m_patchList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_patchList, &QTreeView::customContextMenuRequested, this,
          [this](const QPoint& pos) { ShowRowMenu(m_patchList->indexAt(pos), pos); });
  // Shift+F10 is the other context menu key: on the current row, as the Menu key.
  auto* rowMenuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), m_patchList);
  rowMenuKey->setContext(Qt::WidgetShortcut);
  connect(rowMenuKey, &QShortcut::activated, this, [this] {
    const QModelIndex current = m_patchList->currentIndex();
    ShowRowMenu(current, m_patchList->visualRect(current).center());
  });

  m_addFile = button("IDC_ADD_FILE", quillet::text::kAddFile, du.rect(11, 153, 47, 14), &CPatchFinderDlg::OnAddFile);
  m_addFile->setDefault(true);
  m_addFolder =
      button("IDC_ADD_FOLDER", quillet::text::kAddFolder, du.rect(59, 153, 47, 14), &CPatchFinderDlg::OnAddFolder);
  m_removeFile =
      button("IDC_REMOVE_FILE", quillet::text::kRemoveFile, du.rect(107, 153, 47, 14), &CPatchFinderDlg::OnRemoveFile);
  m_filter = button("IDC_FILTER", quillet::text::kFilter, du.rect(155, 153, 47, 14), &CPatchFinderDlg::OnFilter);
  m_search = button("IDC_SEARCH", quillet::text::kSearch, du.rect(203, 153, 47, 14), &CPatchFinderDlg::OnSearch);
  m_differences = button("IDC_DIFFERENCES", quillet::text::kDifferences, du.rect(251, 153, 47, 14),
                         &CPatchFinderDlg::OnDifferences);
  m_exit = button("IDCANCEL", quillet::text::kExit, du.rect(227, 175, 72, 14), &CPatchFinderDlg::reject);
  m_origBrowse = button("IDC_ORIG_FLASH_BROWSE", quillet::text::kBrowse, kOrigBrowse.In(du),
                        &CPatchFinderDlg::OnBrowseOriginalFlash);
  m_origBrowse->setAccessibleName(Text(quillet::text::kAccOriginalBrowse));

  // A long name is shortened in its middle, so that its end (the extension) stays.
  auto nameLabel = [&](const char* id, QRect rect) {
    auto* l = new ElidedLabel(Text(quillet::text::kNotChosen), this);
    l->setObjectName(QString::fromLatin1(id));
    l->setGeometry(rect);
    l->SetElideMode(Qt::ElideMiddle);
    return l;
  };

  m_curGroup = group(quillet::text::kCurrentGroup, kCurGroup.In(du));
  m_curName = nameLabel("IDC_CUR_FLASH_NAME", kCurTexts[0].In(du));
  m_curSize = label("IDC_CUR_FLASH_SIZE", quillet::text::kSizeNone, kCurTexts[1].In(du));
  m_curDate = label("IDC_CUR_FLASH_DATE", quillet::text::kDateNone, kCurTexts[2].In(du));
  m_origGroup = group(quillet::text::kOriginalGroup, kOrigGroup.In(du));
  m_origName = nameLabel("IDC_ORIG_FLASH_NAME", kOrigTexts[0].In(du));
  m_origSize = label("IDC_ORIG_FLASH_SIZE", quillet::text::kSizeNone, kOrigTexts[1].In(du));
  m_origDate = label("IDC_ORIG_FLASH_DATE", quillet::text::kDateNone, kOrigTexts[2].In(du));
  m_patchesGroup = group(quillet::text::kPatchesGroup, du.rect(7, 49, 296, 122));

  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("IDC_PROGRESS"));
  m_progress->setGeometry(du.rect(11, 181, 215, 8));
  m_progress->setTextVisible(false);
  m_progress->setAccessibleName(Text(quillet::text::kAccProgress));
  m_progress->hide();

  m_status = new ElidedLabel(this);
  m_status->setObjectName(QStringLiteral("IDC_STATUS_TEXT"));
  m_status->setGeometry(du.rect(11, 173, 215, 8));
  // A fixed name would be all a screen reader reads of it: the name is left to
  // follow the text, and what the line is goes into the description.
  m_status->setAccessibleDescription(Text(quillet::text::kAccStatusLine));

  m_rowMenu = new QMenu(this);
  m_rowMenu->setObjectName(QStringLiteral("rowMenu"));
  QAction* details =
      m_rowMenu->addAction(Text(quillet::text::kDetailsMenuEntry), this, &CPatchFinderDlg::OnPatchDetails);
  details->setObjectName(QStringLiteral("IDM_PATCH_DETAILS"));
  m_rowMenu->addSeparator();
  QAction* install =
      m_rowMenu->addAction(Text(quillet::text::kInstallMenuEntry), this, &CPatchFinderDlg::OnInstallPatches);
  install->setObjectName(QStringLiteral("IDM_INSTALL"));
  QAction* revert =
      m_rowMenu->addAction(Text(quillet::text::kRevertMenuEntry), this, &CPatchFinderDlg::OnRevertPatches);
  revert->setObjectName(QStringLiteral("IDM_REVERT"));
  QAction* port = m_rowMenu->addAction(Text(quillet::text::kPortMenuEntry), this, &CPatchFinderDlg::OnPortPatches);
  port->setObjectName(QStringLiteral("IDM_PORT"));
  // Writing needs an image, and no search going on over the rows it would change.
  connect(m_rowMenu, &QMenu::aboutToShow, this, [this, install, revert, port] {
    const bool can = !m_strCurrentFlash.empty() && !Busy() && m_patchList->selectionModel()->hasSelection();
    install->setEnabled(can);
    revert->setEnabled(can);
    port->setEnabled(can);
  });

  m_windowMenu = new QMenu(this);
  m_windowMenu->setObjectName(QStringLiteral("windowMenu"));
  m_windowMenu->addAction(Text(quillet::text::kWindowMenuClose), this, &CPatchFinderDlg::reject);
  auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(shortcut, &QShortcut::activated, this, [this] { ShowWindowMenu(mapToGlobal(QPoint(0, 0))); });
}

void CPatchFinderDlg::OnInitDialog() {
  // The window menu stands in for the system menu, which window managers keep to themselves.
  m_windowMenu->addSeparator();
  QAction* about = m_windowMenu->addAction(Text(quillet::text::kAboutMenuEntry), this, &CPatchFinderDlg::OnAboutBox);
  about->setObjectName(QStringLiteral("IDM_ABOUTBOX"));

  setWindowIcon(m_hIcon);

  m_model = new PatchListModel(m_addrFilter, this);
  m_patchList->setModel(m_model);
  m_patchList->setColumnWidth(0, kColumnWidth);
  m_patchList->setColumnWidth(1, kColumnWidth);
  // The rows differ at the end of their paths: a long one is shortened in the middle.
  m_patchList->setTextElideMode(Qt::ElideMiddle);
  m_patchList->setIconSize(PatchListModel::IconSize());
  m_patchList->setRootIsDecorated(false);
  m_patchList->setItemsExpandable(false);
  m_patchList->setUniformRowHeights(true);
  m_patchList->setAllColumnsShowFocus(true);
  m_patchList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_patchList->viewport()->setAcceptDrops(true);
  m_patchList->viewport()->installEventFilter(this);
  m_patchList->installEventFilter(this);  // Delete is "- файл"
  m_patchList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_patchList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The rows are kept in order by the list itself; the view never resorts them.
  m_patchList->setSortingEnabled(false);
  m_patchList->header()->setSectionsClickable(false);
  m_patchList->header()->setSectionsMovable(false);
  // The path column takes the room a larger window gives.
  m_patchList->header()->setStretchLastSection(true);

  UpdateButtons();
  ReloadAddressFilter();
  m_curBrowse->setFocus();
}

void CPatchFinderDlg::ReloadAddressFilter() {
  // An unreadable settings file keeps the filter as it was; the user must know
  // that the search and the comparison don't use what the file holds.
  if (!LoadAddressFilter(m_settingsPath, m_addrFilter)) {
    m_prompts.MessageBox(
        this, Text(quillet::text::kFilterLoadErrorPrefix) + QString::fromStdString(m_settingsPath) + QLatin1Char('\''),
        Text(quillet::text::kErrorCaption), IUserPrompts::Icon::none);
  }
}

void CPatchFinderDlg::UpdateButtons() {
  const bool hasRows = !m_model->List().empty();
  const bool searching = Busy();
  m_removeFile->setEnabled(hasRows && !searching);
  m_search->setEnabled(searching || (!m_strCurrentFlash.empty() && hasRows));
  m_differences->setEnabled(!m_strCurrentFlash.empty() && !m_strOriginalFlash.empty());
}

void CPatchFinderDlg::OnPatchDetails() {
  const QModelIndex current = m_patchList->currentIndex();
  if (!current.isValid()) return;
  const auto row = static_cast<std::size_t>(current.row());
  const quillet::PatchList& rows = m_model->List();
  // The conflicts are found only now, on the details window's own job: over a
  // large list the reading takes a while, which a search should not pay.
  std::vector<std::string> paths, names;
  paths.reserve(rows.size());
  names.reserve(rows.size());
  for (const quillet::PatchRow& listed : rows.Rows()) {
    paths.push_back(listed.path);
    names.push_back(listed.name);
  }
  // The row and what it is judged against as they are now: the list, the
  // image and the filter may change while the conflicts are read.
  auto compose = [patch = rows[row], image = m_strCurrentFlash,
                  filter = m_addrFilter](const std::vector<quillet::RowConflict>& conflicts) {
    QString text = QString::fromStdString(patch.path);
    for (const std::string& line :
         quillet::RowDetailsLines(patch, image, filter, quillet::DetailsForm::full, conflicts))
      text += QLatin1Char('\n') + QString::fromStdString(line);
    return text;
  };
  const QString title = Text(quillet::text::kDetailsTitle).arg(QString::fromStdString(rows[row].name));
  auto* dlg = new CPatchDetailsDlg(title, compose({}), this);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->FindConflicts(std::move(paths), std::move(names), row, std::move(compose));
  dlg->show();
}

void CPatchFinderDlg::ShowStatus(const QString& text) {
  if (text == m_status->text()) return;
  m_status->SetFullText(text);  // a long path or the totals may not fit the line
  QAccessibleEvent changed(m_status, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

void CPatchFinderDlg::ResetProgress() {
  m_progress->setValue(0);
  m_progress->hide();
  ShowStatus(QString());
}

void CPatchFinderDlg::OnFilter() {
  CAddrFilterDlg dlg(m_settingsPath, m_addrFilter, m_prompts, this);
  if (dlg.exec() == QDialog::Accepted) {
    ReloadAddressFilter();
    m_model->FilterChanged();
  }
}

void CPatchFinderDlg::InstallSelected(bool revert) {
  if (m_strCurrentFlash.empty() || Busy()) return;
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : m_patchList->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end());  // the list's order, whatever the order of selecting
  quillet::InstallJob job;
  job.imagePath = m_strCurrentFlash;
  for (const std::size_t row : rows) job.patchPaths.push_back(m_model->List()[row].path);
  job.filter = m_addrFilter;
  job.mode = revert ? quillet::InstallMode::revert : quillet::InstallMode::install;
  job.otherInputs = {m_settingsPath};
  CInstallDlg dlg(this, std::move(job), m_prompts);
  if (dlg.exec() != QDialog::Accepted || dlg.WrittenPath().empty()) return;
  // The written file is the image now, and the chosen rows' marks show what it holds.
  ChooseCurrentFlash(dlg.WrittenPath());
  m_statusNote = QString::fromStdString(dlg.UndoSavedText());
  SearchRows(std::move(rows));
}

void CPatchFinderDlg::OnPortPatches() {
  if (m_strCurrentFlash.empty() || Busy()) return;
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : m_patchList->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end());
  CPortDlg::Inputs inputs{m_strCurrentFlash, m_strOriginalFlash, {}, m_settingsPath};
  for (const std::size_t row : rows) inputs.patchPaths.push_back(m_model->List()[row].path);
  CPortDlg dlg(this, std::move(inputs), m_prompts);
  dlg.exec();
  // What was written stays written, even when the window was closed after a
  // write that failed in part: those files are listed all the same.
  if (!dlg.AddToList() || dlg.WrittenPaths().empty()) return;
  AddPaths(dlg.WrittenPaths());
  std::vector<std::size_t> added;
  for (const std::string& path : dlg.WrittenPaths())
    if (const auto row = m_model->List().Find(path)) added.push_back(*row);
  if (added.empty()) return;
  std::sort(added.begin(), added.end());
  added.erase(std::unique(added.begin(), added.end()), added.end());
  SearchRows(std::move(added));
}

void CPatchFinderDlg::OnDifferences() {
  if (m_strCurrentFlash.empty() || m_strOriginalFlash.empty()) return;
  CFlashCompareDlg dlg(this, {m_strOriginalFlash, m_strCurrentFlash, m_addrFilter}, m_prompts);
  dlg.exec();
}

void CPatchFinderDlg::OnAboutBox() {
  CAboutDlg dlg(this);
  dlg.exec();
}

void CPatchFinderDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && Busy()) {
    m_link->RequestStop();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CPatchFinderDlg::reject() {
  // The search's rows and images belong to this window: it stops it first.
  if (Busy()) m_link->Close();
  QDialog::reject();
}

void CPatchFinderDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  OnSize(event->size().width(), event->size().height());
}

void CPatchFinderDlg::OnSize(int cx, int cy) {
  if (m_patchList == nullptr || m_templateSize.isEmpty()) return;
  const DialogUnits du(font());
  const int grownX = std::max(0, cx - m_templateSize.width());
  const int grownY = std::max(0, cy - m_templateSize.height());
  // The list and its frame take the growth; what lies below the list moves down
  // with it, and "Выход" stays in the bottom right corner.
  const QRect list = du.rect(11, 60, 288, 93);
  m_patchList->setGeometry(list.x(), list.y(), list.width() + grownX, list.height() + grownY);
  m_patchesGroup->setGeometry(du.rect(7, 49, 296, 122).adjusted(0, 0, grownX, grownY));
  for (QPushButton* below : {m_addFile, m_addFolder, m_removeFile, m_filter, m_search, m_differences})
    below->move(below->x(), du.rect(0, 153, 1, 1).y() + grownY);
  const QRect exit = du.rect(227, 175, 72, 14);
  m_exit->move(exit.x() + grownX, exit.y() + grownY);
  const QRect status = du.rect(11, 173, 215, 8);
  m_status->setGeometry(status.x(), status.y() + grownY, status.width() + grownX, status.height());
  const QRect progress = du.rect(11, 181, 215, 8);
  m_progress->setGeometry(progress.x(), progress.y() + grownY, progress.width() + grownX, progress.height());
  // The two image groups share the width: the original's on the left takes
  // half the growth, the current one the rest and moves right by that half.
  const int origGrown = grownX / 2;
  const int curGrown = grownX - origGrown;
  auto place = [&du](QWidget* widget, const DluRect& rect, int moved, int grown) {
    widget->setGeometry(rect.In(du).adjusted(moved, 0, moved + grown, 0));
  };
  place(m_origGroup, kOrigGroup, 0, origGrown);
  place(m_origBrowse, kOrigBrowse, origGrown, 0);
  place(m_curGroup, kCurGroup, origGrown, curGrown);
  place(m_curBrowse, kCurBrowse, grownX, 0);
  const std::array<QWidget*, 3> origTexts{m_origName, m_origSize, m_origDate};
  const std::array<QWidget*, 3> curTexts{m_curName, m_curSize, m_curDate};
  for (std::size_t i = 0; i < origTexts.size(); ++i) {
    place(origTexts[i], kOrigTexts[i], 0, origGrown);
    place(curTexts[i], kCurTexts[i], origGrown, curGrown);
  }
}

void CPatchFinderDlg::ShowWindowMenu(const QPoint& globalPos) { m_windowMenu->exec(globalPos); }

void CPatchFinderDlg::ShowRowMenu(const QModelIndex& row, const QPoint& viewportPos) {
  if (!row.isValid()) return;
  m_patchList->selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
  m_rowMenu->exec(m_patchList->viewport()->mapToGlobal(viewportPos));
}

void CPatchFinderDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Only the window's free area: the frames (which let clicks through) and the texts, not a control.
  QWidget* child = childAt(event->pos());
  if (child == nullptr || qobject_cast<QLabel*>(child) != nullptr) {
    ShowWindowMenu(event->globalPos());
    event->accept();
    return;
  }
  event->ignore();
}

bool CPatchFinderDlg::eventFilter(QObject* watched, QEvent* event) {
  if (m_patchList == nullptr) return QDialog::eventFilter(watched, event);
  if (watched == m_patchList && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
    if (m_removeFile->isEnabled()) OnRemoveFile();
    return true;
  }
  if (watched != m_patchList->viewport() || Busy()) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (drag->mimeData()->hasUrls()) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
      }
      return false;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      std::vector<std::string> paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
      if (paths.empty()) return false;
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      AddPaths(paths);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace quillet
