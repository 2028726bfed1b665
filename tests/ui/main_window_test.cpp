// The main window driven through its handlers offscreen, with every prompt
// answered by FakePrompts. The byte logic is tested in tests/core.
#include <fcntl.h>
#include <sys/stat.h>
#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>

#include "core/filter/address_filter.h"
#include "tests/support/fake_prompts.h"
#include "ui/app/patch_finder_app.h"
#include "ui/common/dialog_units.h"
#include "ui/common/elided_label.h"
#include "ui/install/install_dlg.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::CInstallDlg;
using quillet::CPatchFinderDlg;
using quillet::DialogUnits;
using quillet::ElidedLabel;
using quillet::g_addrFilter;
using quillet::IUserPrompts;
using quillet::LoadQtRussianTranslation;
using quillet::ParseStartUp;
using quillet::theApp;
using quillet::testing::FakePrompts;

using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  file.write(bytes);
}

// An image of 256 bytes holding 0x00..0xFF, so byte a is a.
QByteArray CountingImage() {
  QByteArray image(256, '\0');
  for (int i = 0; i < 256; ++i) image[i] = static_cast<char>(i);
  return image;
}

template <typename T>
T* Child(const QWidget& dlg, const char* name) {
  T* child = dlg.findChild<T*>(QString::fromLatin1(name));
  if (!child) qFatal("no control %s", name);
  return child;
}

QString LabelText(const QWidget& dlg, const char* name) { return Child<QLabel>(dlg, name)->text(); }

bool Enabled(const QWidget& dlg, const char* name) { return Child<QPushButton>(dlg, name)->isEnabled(); }

QTreeView* List(const QWidget& dlg) { return Child<QTreeView>(dlg, "IDC_PATCH_LIST"); }

// What the view shows of a row.
QVariant Shown(const QWidget& dlg, int row, int column, int role = Qt::DisplayRole) {
  const QAbstractItemModel* model = List(dlg)->model();
  return model->data(model->index(row, column), role);
}

QStringList Column(const QWidget& dlg, int column) {
  QStringList texts;
  for (int row = 0; row < List(dlg)->model()->rowCount(); ++row) texts << Shown(dlg, row, column).toString();
  return texts;
}

QString Tooltip(const QWidget& dlg, int row, int column) { return Shown(dlg, row, column, Qt::ToolTipRole).toString(); }

void Select(QTreeView* list, std::initializer_list<int> rows) {
  for (int row : rows)
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QList<PatchStatus> Marks(const CPatchFinderDlg& dlg) {
  QList<PatchStatus> marks;
  for (const quillet::PatchRow& row : dlg.PatchList().Rows()) marks << row.status;
  return marks;
}

int RowOf(const CPatchFinderDlg& dlg, const QString& path) {
  const std::optional<std::size_t> row = dlg.PatchList().Find(path.toStdString());
  return row ? static_cast<int>(*row) : -1;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString Path(const QString& name) const { return m_dir.filePath(name); }

  // Chooses the current (or original) image through its "?" button.
  static void Choose(CPatchFinderDlg& dlg, FakePrompts& prompts, const char* button, const QString& path) {
    prompts.openFileNames.push_back(path);
    QTest::mouseClick(Child<QPushButton>(dlg, button), Qt::LeftButton);
  }
  static void AddFiles(CPatchFinderDlg& dlg, FakePrompts& prompts, const QStringList& paths) {
    prompts.openFileLists.push_back(paths);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_ADD_FILE"), Qt::LeftButton);
  }
  // "Поиск", and the wait for the search's end.
  static void Search(CPatchFinderDlg& dlg) {
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_SEARCH"), Qt::LeftButton);
    QTRY_VERIFY(!dlg.Busy());
  }
  static void AddFolder(CPatchFinderDlg& dlg, FakePrompts& prompts, const QString& path) {
    prompts.directories.push_back(path);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_ADD_FOLDER"), Qt::LeftButton);
    QTRY_VERIFY(!dlg.Busy());
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    theApp.m_settingsPath = Path(QStringLiteral("quillet.INI")).toStdString();
    WriteFile(Path(QStringLiteral("current.bin")), CountingImage());
    WriteFile(Path(QStringLiteral("original.bin")), CountingImage());
  }

  void init() { g_addrFilter.clear(); }

  // It opens as the template has it and may grow, never shrink: the list and
  // its path column take the room, the buttons stay right below the list and
  // "Выход" in the bottom right corner, the two image groups share the width
  // with their "?" at their right; back at the opening size, everything is
  // where it opened. Long texts are shortened, not cut.
  void opensAsTheTemplateAndGrows() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const DialogUnits du(dlg.font());
    QCOMPARE(dlg.size(), du.size(311, 199));
    QCOMPARE(dlg.minimumSize(), du.size(311, 199));
    QTreeView* list = List(dlg);
    QCOMPARE(list->geometry(), du.rect(11, 60, 288, 93));
    const QList<QWidget*> controls = dlg.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QList<QRect> opened;
    for (const QWidget* control : controls) opened << control->geometry();
    auto* exit = Child<QPushButton>(dlg, "IDCANCEL");
    const QPoint exitFromCorner = QPoint(dlg.width(), dlg.height()) - exit->geometry().bottomRight();
    const int pathWidth = list->columnWidth(1);
    auto right = [&dlg](const char* id) { return Child<QWidget>(dlg, id)->geometry().right(); };
    const int origGap = right("IDC_ORIG_FLASH_BROWSE") - right("IDC_ORIG_FLASH_NAME");
    const int curGap = right("IDC_CUR_FLASH_BROWSE") - right("IDC_CUR_FLASH_NAME");
    const int between = Child<QWidget>(dlg, "IDC_CUR_FLASH_NAME")->x() - right("IDC_ORIG_FLASH_BROWSE");

    dlg.resize(dlg.width() + 301, dlg.height() + 200);
    QTRY_COMPARE(list->width(), du.rect(11, 60, 288, 93).width() + 301);
    QCOMPARE(list->height(), du.rect(11, 60, 288, 93).height() + 200);
    QCOMPARE(list->columnWidth(0), 206);
    QVERIFY(list->columnWidth(1) >= pathWidth + 301);
    for (const char* id :
         {"IDC_ADD_FILE", "IDC_ADD_FOLDER", "IDC_REMOVE_FILE", "IDC_FILTER", "IDC_SEARCH", "IDC_DIFFERENCES"}) {
      const QWidget* button = Child<QWidget>(dlg, id);
      QVERIFY2(button->y() >= list->geometry().bottom() && button->y() <= list->geometry().bottom() + 3, id);
    }
    QCOMPARE(QPoint(dlg.width(), dlg.height()) - exit->geometry().bottomRight(), exitFromCorner);
    QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
    const int origGrown = Child<QWidget>(dlg, "IDC_ORIG_FLASH_NAME")->width() - du.rect(11, 16, 120, 8).width();
    const int curGrown = Child<QWidget>(dlg, "IDC_CUR_FLASH_NAME")->width() - du.rect(162, 16, 120, 8).width();
    QCOMPARE(origGrown + curGrown, 301);
    QVERIFY(std::abs(origGrown - curGrown) <= 1);
    QCOMPARE(right("IDC_ORIG_FLASH_BROWSE") - right("IDC_ORIG_FLASH_NAME"), origGap);
    QCOMPARE(right("IDC_CUR_FLASH_BROWSE") - right("IDC_CUR_FLASH_NAME"), curGap);
    QCOMPARE(Child<QWidget>(dlg, "IDC_CUR_FLASH_NAME")->x() - right("IDC_ORIG_FLASH_BROWSE"), between);
    for (const char* id : {"IDC_CUR_FLASH_SIZE", "IDC_CUR_FLASH_DATE"})
      QCOMPARE(Child<QWidget>(dlg, id)->x(), Child<QWidget>(dlg, "IDC_CUR_FLASH_NAME")->x());

    // A long image name keeps its end and is whole in the tooltip and to a screen reader.
    const QString longName = QString(150, QLatin1Char('n')) + QStringLiteral("_end.bin");
    WriteFile(Path(longName), CountingImage());
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(longName));
    auto* name = Child<ElidedLabel>(dlg, "IDC_CUR_FLASH_NAME");
    QCOMPARE(name->text(), longName);
    QCOMPARE(name->toolTip(), Path(longName));
    QVERIFY(name->ShownText().contains(QChar(0x2026)));
    QVERIFY(name->ShownText().endsWith(QStringLiteral("_end.bin")));
    QVERIFY(name->fontMetrics().horizontalAdvance(name->ShownText()) <= name->contentsRect().width());

    // The status line shortens what doesn't fit, and keeps all of it for the
    // tooltip and a screen reader.
    auto* status = Child<QLabel>(dlg, "IDC_STATUS_TEXT");
    QVERIFY(status->width() > du.rect(11, 173, 215, 8).width());
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    Search(dlg);
    QVERIFY(!status->text().isEmpty());
    QCOMPARE(status->toolTip(), status->text());
    QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), status->text());

    dlg.resize(100, 100);
    QTRY_COMPARE(dlg.size(), du.size(311, 199));
    for (qsizetype i = 0; i < controls.size(); ++i)
      QVERIFY2(controls[i]->geometry() == opened[i], qPrintable(controls[i]->objectName()));
  }

  void tabOrderFollowsTheTemplate() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.focusWidget()->objectName(), QStringLiteral("IDC_CUR_FLASH_BROWSE"));
    // With every button enabled, Tab walks the template's order and wraps round.
    prompts.openFileNames = {Path(QStringLiteral("current.bin")), Path(QStringLiteral("original.bin"))};
    dlg.OnBrowseCurrentFlash();
    dlg.OnBrowseOriginalFlash();
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    const QStringList expected = {
        "IDC_CUR_FLASH_BROWSE", "IDC_PATCH_LIST", "IDC_ADD_FILE",    "IDC_ADD_FOLDER", "IDC_REMOVE_FILE",
        "IDC_FILTER",           "IDC_SEARCH",     "IDC_DIFFERENCES", "IDCANCEL",       "IDC_ORIG_FLASH_BROWSE",
        "IDC_CUR_FLASH_BROWSE"};
    QStringList seen;
    QWidget* widget = Child<QWidget>(dlg, "IDC_CUR_FLASH_BROWSE");
    for (int i = 0; i < expected.size(); ++i) {
      seen << widget->objectName();
      widget = widget->nextInFocusChain();
      while (widget->focusPolicy() == Qt::NoFocus || !widget->isEnabled() || widget->objectName().isEmpty()) {
        widget = widget->nextInFocusChain();
      }
    }
    QCOMPARE(seen, expected);
  }

  // The enabling rule, reached through the handlers the user drives.
  void buttonsFollowTheListAndTheImages_data() {
    QTest::addColumn<bool>("withRow");
    QTest::addColumn<bool>("withCurrent");
    QTest::addColumn<bool>("withOriginal");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<bool>("search");
    QTest::addColumn<bool>("differences");
    QTest::newRow("right after start") << false << false << false << false << false << false;
    QTest::newRow("rows but no current image: no search") << true << false << false << true << false << false;
    QTest::newRow("rows and the current image: search") << true << true << false << true << true << false;
    QTest::newRow("only the original image: nothing") << false << false << true << false << false << false;
    QTest::newRow("only the current image: nothing") << false << true << false << false << false << false;
    QTest::newRow("both images: differences") << false << true << true << false << false << true;
    QTest::newRow("everything") << true << true << true << true << true << true;
    QTest::newRow("rows and the original image: no search") << true << false << true << true << false << false;
  }
  void buttonsFollowTheListAndTheImages() {
    QFETCH(bool, withRow);
    QFETCH(bool, withCurrent);
    QFETCH(bool, withOriginal);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    if (withRow) AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    if (withCurrent) Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    if (withOriginal) Choose(dlg, prompts, "IDC_ORIG_FLASH_BROWSE", Path(QStringLiteral("original.bin")));

    QTEST(Enabled(dlg, "IDC_REMOVE_FILE"), "remove");
    QTEST(Enabled(dlg, "IDC_SEARCH"), "search");
    QTEST(Enabled(dlg, "IDC_DIFFERENCES"), "differences");
    for (const char* always : {"IDC_ADD_FILE", "IDC_ADD_FOLDER", "IDC_FILTER", "IDCANCEL", "IDC_CUR_FLASH_BROWSE",
                               "IDC_ORIG_FLASH_BROWSE"}) {
      QVERIFY2(Enabled(dlg, always), always);
    }
  }

  void cancellingOrAnUnopenableFileForgetsTheImage_data() {
    QTest::addColumn<QString>("second");
    QTest::newRow("dialog cancelled") << QString();
    QTest::newRow("file does not exist") << Path(QStringLiteral("no such.bin"));
    QTest::newRow("a folder") << m_dir.path();
  }
  void cancellingOrAnUnopenableFileForgetsTheImage() {
    QFETCH(QString, second);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    Choose(dlg, prompts, "IDC_ORIG_FLASH_BROWSE", Path(QStringLiteral("original.bin")));
    QVERIFY(Enabled(dlg, "IDC_SEARCH"));
    QVERIFY(Enabled(dlg, "IDC_DIFFERENCES"));

    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", second);
    QVERIFY(dlg.m_strCurrentFlash.empty());
    QCOMPARE(LabelText(dlg, "IDC_CUR_FLASH_NAME"), QStringLiteral("<Не выбран>"));
    QCOMPARE(LabelText(dlg, "IDC_CUR_FLASH_SIZE"), QStringLiteral("Размер: 0 байт"));
    QCOMPARE(LabelText(dlg, "IDC_CUR_FLASH_DATE"), QStringLiteral("Дата модификации: 00.00.0000 00:00:00"));
    QVERIFY(!Enabled(dlg, "IDC_SEARCH"));
    QVERIFY(!Enabled(dlg, "IDC_DIFFERENCES"));
    // The other image is untouched, and nothing was said.
    QCOMPARE(dlg.m_strOriginalFlash, Path(QStringLiteral("original.bin")).toStdString());
    QCOMPARE(LabelText(dlg, "IDC_ORIG_FLASH_NAME"), QStringLiteral("original.bin"));
    QVERIFY(prompts.boxes.empty());
  }

  void aChosenImageShowsItsNameSizeAndDate() {
    const QString image = Path(QStringLiteral("dated image.bin"));
    WriteFile(image, QByteArray(16777216, '\x5A'));
    struct timespec times[2] = {{1078477622, 0}, {1078477622, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(image).constData(), times, 0), 0);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_ORIG_FLASH_BROWSE", image);
    QCOMPARE(dlg.m_strOriginalFlash, image.toStdString());
    QCOMPARE(LabelText(dlg, "IDC_ORIG_FLASH_NAME"), QStringLiteral("dated image.bin"));
    QCOMPARE(LabelText(dlg, "IDC_ORIG_FLASH_SIZE"), QStringLiteral("Размер: 16777216 байт"));
    QCOMPARE(LabelText(dlg, "IDC_ORIG_FLASH_DATE"), QStringLiteral("Дата модификации: 05.03.2004 09:07:02"));
    QCOMPARE(LabelText(dlg, "IDC_CUR_FLASH_NAME"), QStringLiteral("<Не выбран>"));
    QCOMPARE(prompts.lastFilters.back(), QStringLiteral("Бинарные файлы (*.bin)|*.bin|Все файлы (*.*)|*.*||"));
  }

  void addedFilesAreSortedAndListedOnce() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    // Far more than fits into 260 characters at once, in no order, with duplicates.
    QStringList chosen;
    for (int i = 0; i < 300; ++i) {
      chosen << Path(QStringLiteral("many/a rather long folder name/patch %1.vkp").arg(i, 3, 10, QLatin1Char('0')));
    }
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(7));
    AddFiles(dlg, prompts, chosen.mid(0, 200) + chosen.mid(0, 10));
    AddFiles(dlg, prompts, chosen.mid(150));
    QCOMPARE(static_cast<int>(dlg.PatchList().size()), 300);
    QStringList names = Column(dlg, 0);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(names, sorted);
    QCOMPARE(names.front(), QStringLiteral("patch 000.vkp"));
    QCOMPARE(Column(dlg, 1).front(), Path(QStringLiteral("many/a rather long folder name/patch 000.vkp")));
    QCOMPARE(prompts.lastFilters.back(), QStringLiteral("Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||"));
  }

  void sameNameInTwoFoldersAndAnyExtension() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts,
             {Path(QStringLiteral("z/same.vkp")), Path(QStringLiteral("b.txt")), Path(QStringLiteral("a/same.vkp")),
              Path(QStringLiteral("A.vkp"))});
    AddFiles(dlg, prompts, {Path(QStringLiteral("a/same.vkp")), Path(QStringLiteral("a/Same.vkp"))});
    QCOMPARE(Column(dlg, 0), QStringList({"A.vkp", "b.txt", "Same.vkp", "same.vkp", "same.vkp"}));
    QCOMPARE(Column(dlg, 1).mid(3), QStringList({Path("a/same.vkp"), Path("z/same.vkp")}));
    QCOMPARE(RowOf(dlg, Path(QStringLiteral("z/same.vkp"))), 4);
    QCOMPARE(RowOf(dlg, Path(QStringLiteral("A.vkp"))), 0);
    QCOMPARE(RowOf(dlg, Path(QStringLiteral("a.vkp"))), -1);
    QCOMPARE(RowOf(dlg, Path(QStringLiteral("y/same.vkp"))), -1);
    QCOMPARE(RowOf(dlg, QString()), -1);
  }

  void cancelledPromptsChangeNothing() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path(QStringLiteral("one.vkp"))});
    AddFiles(dlg, prompts, {});
    AddFolder(dlg, prompts, QString());
    QCOMPARE(Column(dlg, 1), QStringList({Path("one.vkp")}));
    QVERIFY(Enabled(dlg, "IDC_REMOVE_FILE"));
  }

  void aFolderAddsItsTreeOnce() {
    const QString root = Path(QStringLiteral("tree"));
    WriteFile(root + "/a.vkp", "");
    WriteFile(root + "/notes.txt", "");
    WriteFile(root + "/sub/b.vkp", "");
    WriteFile(root + "/x.vkp/c.vkp", "");  // a folder named like a patch file
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {root + "/a.vkp"});
    AddFolder(dlg, prompts, root);
    QCOMPARE(Column(dlg, 1), QStringList({root + "/a.vkp", root + "/sub/b.vkp", root + "/x.vkp/c.vkp"}));
    QCOMPARE(Column(dlg, 0), QStringList({"a.vkp", "b.vkp", "c.vkp"}));
    QCOMPARE(LabelText(dlg, "IDC_STATUS_TEXT"), QString());
    // The same folder again, spelled with a trailing '/': nothing new, nothing doubled.
    AddFolder(dlg, prompts, root + "/");
    QCOMPARE(static_cast<int>(dlg.PatchList().size()), 3);
    QVERIFY(Enabled(dlg, "IDC_REMOVE_FILE"));
  }

  void removingTakesEverySelectedRow() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path("e.vkp"), Path("c.vkp"), Path("a.vkp"), Path("d.vkp"), Path("b.vkp")});
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    QTreeView* list = List(dlg);
    QAbstractItemModelTester consistent(list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    Select(list, {0, 2, 4});
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(Column(dlg, 0), QStringList({"b.vkp", "d.vkp"}));
    // A file that stays keeps its selection and the current row while others
    // come and go: the view is told of the rows that move, never of a new list.
    list->setCurrentIndex(list->model()->index(1, 0));
    AddFiles(dlg, prompts, {Path("c.vkp")});
    Search(dlg);
    QCOMPARE(list->currentIndex().row(), 2);
    QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(list->selectionModel()->selectedRows().front().row(), 2);
    QCOMPARE(resets.count(), 0);
    Select(list, {1});

    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(Column(dlg, 0), QStringList({"b.vkp"}));
    QCOMPARE(resets.count(), 0);
    QVERIFY(Enabled(dlg, "IDC_SEARCH"));

    // Nothing selected: nothing goes.
    list->clearSelection();
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(static_cast<int>(dlg.PatchList().size()), 1);

    list->selectAll();
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(static_cast<int>(dlg.PatchList().size()), 0);
    QVERIFY(!Enabled(dlg, "IDC_REMOVE_FILE"));
    QVERIFY(!Enabled(dlg, "IDC_SEARCH"));
    // A removed path can be added again.
    AddFiles(dlg, prompts, {Path("a.vkp")});
    QCOMPARE(static_cast<int>(dlg.PatchList().size()), 1);
  }

  void doubleClickOpensTheSelectedFiles() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    AddFiles(dlg, prompts, {Path("c.vkp"), Path("a.vkp"), Path("b.vkp")});
    QTreeView* list = List(dlg);

    const QPoint onB = list->visualRect(list->model()->index(1, 0)).center();
    // A real double click: the first press selects the row under the pointer.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onB);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onB);
    QCOMPARE(prompts.opened, std::vector<QString>({Path("b.vkp")}));

    prompts.opened.clear();
    list->clearSelection();
    Select(list, {2, 0});
    dlg.OnDblclkPatchList();
    QCOMPARE(prompts.opened, std::vector<QString>({Path("a.vkp"), Path("c.vkp")}));
  }

  // The search: marks from the core's check, shown on the rows.
  void searchMarksEveryRow() {
    const QString dir = Path(QStringLiteral("search"));
    WriteFile(dir + "/installed.vkp", "000010: 00 1011\r\n");
    WriteFile(dir + "/not installed.vkp", "000010: 10 FF\r\n");
    WriteFile(dir + "/broken.vkp", "000010: 00 10\r\nnonsense\r\n");
    WriteFile(dir + "/filtered.vkp", "000020: 00 FF\r\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    AddFolder(dlg, prompts, dir);
    QCOMPARE(Column(dlg, 0), QStringList({"broken.vkp", "filtered.vkp", "installed.vkp", "not installed.vkp"}));
    QCOMPARE(Marks(dlg), QList<PatchStatus>(4, PATCH_NOT_INSTALLED));

    g_addrFilter = {{0x20, 0x2F}};
    Search(dlg);
    const QList<PatchStatus> expected = {PATCH_FILE_ERROR, PATCH_INSTALLED, PATCH_INSTALLED, PATCH_NOT_INSTALLED};
    QCOMPARE(Marks(dlg), expected);
    QCOMPARE(Shown(dlg, 0, 0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("ошибка в файле"));
    QCOMPARE(Shown(dlg, 1, 0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("установлен"));
    QCOMPARE(Shown(dlg, 3, 0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("не установлен"));
    QVERIFY(Child<QProgressBar>(dlg, "IDC_PROGRESS")->isHidden());
    QVERIFY(prompts.boxes.empty());

    // Searching again gives the same marks; a row added later starts empty.
    Search(dlg);
    QCOMPARE(Marks(dlg), expected);
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    QCOMPARE(Marks(dlg).at(RowOf(dlg, Path(QStringLiteral("current.bin")))), PATCH_NOT_INSTALLED);
  }

  // After a search each row says why it has its mark: the tooltip briefly,
  // the details window in full, the status line the totals until the next command.
  void searchExplainsEachRow() {
    const QString dir = Path(QStringLiteral("details"));
    WriteFile(dir + "/installed.vkp", "000010: 00 10\r\n");
    WriteFile(dir + "/other.vkp", "000010: 55 FF\r\n");  // collides with installed.vkp at one address
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    AddFolder(dlg, prompts, dir);
    QTreeView* list = List(dlg);
    QCOMPARE(Tooltip(dlg, 0, 1), dir + "/installed.vkp");

    Search(dlg);
    QCOMPARE(Tooltip(dlg, 0, 0), dir + "/installed.vkp\nУстановлен: проверено байт: 1");
    QVERIFY(Tooltip(dlg, 1, 1).contains(QStringLiteral("Адрес 000010: ожидается FF, найдено 10, старый 55")));
    const QString totals = QStringLiteral("Установлено: 1, не установлено: 1 (другая прошивка: 1), с ошибкой: 0");
    auto* status = Child<QLabel>(dlg, "IDC_STATUS_TEXT");
    QCOMPARE(status->text(), totals);
    QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), totals);

    list->setCurrentIndex(list->model()->index(1, 0));
    QAction* entry = dlg.RowMenu()->findChild<QAction*>(QStringLiteral("IDM_PATCH_DETAILS"));
    QVERIFY(entry);
    QCOMPARE(entry->text(), QStringLiteral("Подробности…"));
    entry->trigger();
    auto* details = dlg.findChild<QDialog*>(QStringLiteral("IDD_PATCH_DETAILS"));
    QVERIFY(details && details->isVisible());
    auto* text = Child<QPlainTextEdit>(*details, "IDC_DETAILS_TEXT");
    QVERIFY(text->isReadOnly());
    // The conflicts are read on the details window's own job, and shown when found.
    QTRY_COMPARE(text->toPlainText(), dir +
                                          "/other.vkp\n"
                                          "Не установлен: уже новых байт 0 из 1; сделан для другой прошивки\n"
                                          "Адрес 000010: ожидается FF, найдено 10, старый 55\n"
                                          "Конфликтует с: installed.vkp (1 адрес)");
    QTest::mouseClick(Child<QPushButton>(*details, "IDCANCEL"), Qt::LeftButton);
    QVERIFY(!details->isVisible());

    // Any command ends the totals; another image leaves the evidence in doubt.
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("original.bin")));
    QCOMPARE(status->text(), QString());
    QVERIFY(Tooltip(dlg, 0, 0).contains(QStringLiteral("\nПроверен с другим образом или фильтром\n")));
  }

  void searchWithoutACurrentImageDoesNothing() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path("x.vkp")});
    dlg.OnSearch();
    QVERIFY(prompts.boxes.empty());
    QVERIFY(Child<QProgressBar>(dlg, "IDC_PROGRESS")->isHidden());
  }

  // Every failure: the exact box, earlier marks cleared before it shows, the
  // bar hidden and the status line empty whatever happened.
  void searchFailuresAreReported_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QList<PatchStatus>>("marks");
    const QString gone = Path(QStringLiteral("failures/b gone.vkp"));
    QTest::newRow("image vanished") << "image" << QStringLiteral("Ошибка открытия файла текущего Full Flash")
                                    << QStringLiteral("Ошибка") << int(IUserPrompts::Icon::none)
                                    << QList<PatchStatus>(3, PATCH_NOT_INSTALLED);
    QTest::newRow("patch file vanished") << "patch" << gone + " was not found." << QStringLiteral("Quillet")
                                         << int(IUserPrompts::Icon::stop)
                                         << QList<PatchStatus>(
                                                {PATCH_INSTALLED, PATCH_NOT_INSTALLED, PATCH_NOT_INSTALLED});
  }
  void searchFailuresAreReported() {
    QFETCH(QString, failure);
    const QString dir = Path(QStringLiteral("failures"));
    const QString image = dir + "/image.bin";
    WriteFile(image, CountingImage());
    WriteFile(dir + "/a.vkp", "000001: 00 01\n");
    WriteFile(dir + "/b gone.vkp", "000001: 00 01\n");
    WriteFile(dir + "/c.vkp", "000001: 00 01\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", image);
    AddFolder(dlg, prompts, dir);
    Search(dlg);
    QCOMPARE(Marks(dlg), QList<PatchStatus>(3, PATCH_INSTALLED));

    QFile::remove(failure == QLatin1String("image") ? image : dir + "/b gone.vkp");
    QList<PatchStatus> marksAtBox;
    bool barHiddenAtBox = false;
    QString statusAtBox = QStringLiteral("unset");
    prompts.onBox = [&](const FakePrompts::Box&) {
      marksAtBox = Marks(dlg);
      barHiddenAtBox = Child<QProgressBar>(dlg, "IDC_PROGRESS")->isHidden();
      statusAtBox = LabelText(dlg, "IDC_STATUS_TEXT");
    };
    Search(dlg);

    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QTEST(prompts.boxes[0].text, "text");
    QTEST(prompts.boxes[0].caption, "caption");
    QTEST(int(prompts.boxes[0].icon), "icon");
    QTEST(marksAtBox, "marks");
    QTEST(Marks(dlg), "marks");
    QVERIFY(barHiddenAtBox);
    QCOMPARE(statusAtBox, QString());
  }

  void escapeAndExitCloseTheWindow_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("Выход") << false;
  }
  void escapeAndExitCloseTheWindow() {
    QFETCH(bool, escape);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (escape) {
      QTest::keyClick(&dlg, Qt::Key_Escape);
    } else {
      QTest::mouseClick(Child<QPushButton>(dlg, "IDCANCEL"), Qt::LeftButton);
    }
    QVERIFY(dlg.isHidden());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
  }

  void enterStartsAddFile() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    List(dlg)->setFocus();
    prompts.openFileLists.push_back({Path("entered.vkp")});
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(Column(dlg, 0), QStringList({"entered.vkp"}));
  }

  void windowMenuEndsWithTheAboutBox() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    const QList<QAction*> actions = dlg.WindowMenu()->actions();
    QVERIFY(actions.size() >= 2);
    QVERIFY(actions.at(actions.size() - 2)->isSeparator());
    QAction* about = actions.back();
    QCOMPARE(about->text(), QStringLiteral("&About Quillet..."));

    QString title;
    QString version;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box) return;
      title = box->windowTitle();
      if (auto* label = box->findChild<QLabel*>(QStringLiteral("IDC_VERSION_TEXT"))) version = label->text();
      QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
    });
    watch.start(0);
    about->trigger();
    QCOMPARE(title, QStringLiteral("About Quillet"));
    QCOMPARE(version, QStringLiteral("Quillet Version 0.4.2"));
  }

  // The window menu opens from Alt+Space and from a right click on the free
  // area, never from a right click on a control; a row's menu from Shift+F10.
  void contextMenusOpenWhereExpected_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("menu");
    QTest::newRow("Alt+Space") << "keys"
                               << "windowMenu";
    QTest::newRow("right click on the free area") << "free"
                                                  << "windowMenu";
    QTest::newRow("right click on a size text") << "IDC_CUR_FLASH_SIZE"
                                                << "windowMenu";
    QTest::newRow("right click on a button") << "IDC_SEARCH"
                                             << "";
    QTest::newRow("Shift+F10 on a row") << "Shift+F10"
                                        << "rowMenu";
  }
  void contextMenusOpenWhereExpected() {
    QFETCH(QString, how);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path(QStringLiteral("a.vkp")), Path(QStringLiteral("b.vkp"))});
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    // Each menu runs modally inside the event that opens it: it is seen, and closed, before that returns.
    QString opened;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (QWidget* popup = QApplication::activePopupWidget()) {
        opened = popup->objectName();
        popup->close();
      }
    });
    poll.start(10);
    if (how == QLatin1String("keys")) {
      QTest::keyClick(&dlg, Qt::Key_Space, Qt::AltModifier);
    } else if (how == QLatin1String("Shift+F10")) {
      QTreeView* list = List(dlg);
      list->setFocus();
      list->setCurrentIndex(list->model()->index(1, 0));
      QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
      QCOMPARE(list->currentIndex().row(), 1);
    } else {
      QWidget* target =
          how == QLatin1String("free") ? static_cast<QWidget*>(&dlg) : Child<QWidget>(dlg, qPrintable(how));
      const QPoint pos = how == QLatin1String("free") ? QPoint(2, dlg.height() - 2) : QPoint(3, 3);
      QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
      QApplication::sendEvent(target, &event);
    }
    QTEST(opened, "menu");
  }

  void differencesNeedBothImages() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    // A timer owned here, so that it can't fire into a later test.
    bool opened = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        opened = true;
        modal->close();
      }
    });
    watch.start(0);
    dlg.OnDifferences();
    QTest::qWait(20);
    QVERIFY(!opened);
  }

  void anUnreadableSettingsFileIsReported() {
    const std::string saved = theApp.m_settingsPath;
    const QString folder = Path(QStringLiteral("settings-is-a-folder.INI"));
    QDir().mkpath(folder);
    theApp.m_settingsPath = folder.toStdString();
    g_addrFilter = {{1, 2}};
    {
      FakePrompts prompts;
      CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
      QCOMPARE(prompts.boxes.size(), std::size_t{1});
      QCOMPARE(prompts.boxes[0].text,
               QStringLiteral("Не удалось прочитать фильтр адресов из файла настроек '") + folder + "'");
      QCOMPARE(prompts.boxes[0].caption, QStringLiteral("Ошибка"));
    }
    QCOMPARE(g_addrFilter.size(), std::size_t{1});
    theApp.m_settingsPath = saved;
  }

  // Start-up fixes the settings file in the working directory, named after the
  // executable, runs the window modally and returns false once it closes.
  void startUpPlacesTheSettingsFile_data() {
    QTest::addColumn<QString>("workingDirectory");
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("settings");
    const QString work = Path(QStringLiteral("work dir"));
    QTest::newRow("a folder") << work << "/opt/quillet/bin/quillet" << work + "/quillet.INI";
    QTest::newRow("the root, one slash") << "/"
                                         << "/opt/quillet/bin/quillet"
                                         << "/quillet.INI";
    QTest::newRow("another executable name") << work << "/usr/bin/Quillet.EXE" << work + "/Quillet.INI";
  }
  void startUpPlacesTheSettingsFile() {
    QFETCH(QString, workingDirectory);
    QFETCH(QString, executable);
    QDir().mkpath(workingDirectory);
    const std::string saved = theApp.m_settingsPath;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDirectory));
    FakePrompts prompts;
    bool shown = false;
    QTimer close;
    connect(&close, &QTimer::timeout, [&] {
      if (auto* dlg = qobject_cast<CPatchFinderDlg*>(QApplication::activeModalWidget())) {
        shown = true;
        // A file dialog may move the working directory; the settings stay put.
        QDir::setCurrent(QDir::tempPath());
        dlg->reject();
      }
    });
    close.start(10);
    const bool result = theApp.InitInstance(ParseStartUp(executable.toStdString(), {}));
    QDir::setCurrent(before);
    QVERIFY(!result);
    QVERIFY(shown);
    QTEST(QString::fromStdString(theApp.m_settingsPath), "settings");
    theApp.m_settingsPath = saved;
  }

  // The menu entry's start: settings in the configuration folder (made on
  // first use), the files and folders it was given listed at once.
  void startedFromTheMenuUsesTheConfigFolderAndListsItsArguments() {
    const QString config = Path(QStringLiteral("xdg-config"));
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QDir().mkpath(Path(QStringLiteral("given/sub")));
    WriteFile(Path(QStringLiteral("given/sub/one.vkp")), "0: 00");
    WriteFile(Path(QStringLiteral("single.txt")), "0: 00");
    const std::string saved = theApp.m_settingsPath;
    int rows = -1;
    QTimer close;
    connect(&close, &QTimer::timeout, [&] {
      // The folder is scanned on a job that starts with the window.
      if (auto* dlg = qobject_cast<CPatchFinderDlg*>(QApplication::activeModalWidget()); dlg && !dlg->Busy()) {
        rows = static_cast<int>(dlg->PatchList().size());
        dlg->reject();
      }
    });
    close.start(10);
    theApp.InitInstance(ParseStartUp("/usr/bin/quillet", {"--from-desktop", Path("given").toStdString(),
                                                          "file://" + Path("single.txt").toStdString()}));
    qputenv("XDG_CONFIG_HOME", savedXdg);
    QCOMPARE(QString::fromStdString(theApp.m_settingsPath), config + "/quillet/quillet.INI");
    QVERIFY(QFileInfo(config + "/quillet").isDir());
    QCOMPARE(rows, 2);
    theApp.m_settingsPath = saved;
  }

  // Dropped files and folders are added as "+ файл" and "+ каталог" add them; Delete removes.
  void droppedFilesAndFoldersAreAddedAndDeleteRemoves() {
    QDir().mkpath(Path(QStringLiteral("dropped/deeper")));
    WriteFile(Path(QStringLiteral("dropped/deeper/x.vkp")), "0: 00");
    WriteFile(Path(QStringLiteral("dropped/y.VKP")), "0: 00");
    WriteFile(Path(QStringLiteral("dropped/readme.txt")), "text");
    WriteFile(Path(QStringLiteral("loose.bin")), "0: 00");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    QTreeView* list = List(dlg);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path("dropped")), QUrl::fromLocalFile(Path("loose.bin"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    QTRY_VERIFY(!dlg.Busy());
    QCOMPARE(Column(dlg, 0), QStringList({"loose.bin", "x.vkp", "y.VKP"}));
    QVERIFY(Child<QPushButton>(dlg, "IDC_REMOVE_FILE")->isEnabled());
    QCOMPARE(Tooltip(dlg, 1, 1), Path("dropped/deeper/x.vkp"));

    dlg.show();
    list->setFocus();
    Select(list, {0});
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Column(dlg, 0), QStringList({"x.vkp", "y.VKP"}));
  }

  // A running folder scan or search keeps the window answering: "Поиск" reads
  // "Стоп", the commands that would change what it works on are off, and
  // "Стоп" or Escape ends it. A stopped scan keeps the rows it found. A stopped
  // search keeps the marks of the rows it checked; the rows it never reached
  // were ticked by the search before and must not look missing now, nor ticked:
  // no box, "не проверен" to a screen reader and in the tooltip.
  void aSearchCanBeStopped_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Стоп") << false;
    QTest::newRow("Escape") << true;
  }
  void aSearchCanBeStopped() {
    QFETCH(bool, escape);
    const QString dir = Path(QStringLiteral("many"));
    for (int i = 0; i < 200; ++i)
      WriteFile(dir + QStringLiteral("/p%1.vkp").arg(i, 3, 10, QLatin1Char('0')), "000010: 00 10\r\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    auto* search = Child<QPushButton>(dlg, "IDC_SEARCH");
    const auto stop = [&] {
      if (escape)
        QTest::keyClick(&dlg, Qt::Key_Escape);
      else
        QTest::mouseClick(search, Qt::LeftButton);
    };

    dlg.SetWorkerPacing(std::chrono::milliseconds(5));
    prompts.directories.push_back(dir);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_ADD_FOLDER"), Qt::LeftButton);
    QVERIFY(dlg.Busy());
    QCOMPARE(search->text(), QStringLiteral("Стоп"));
    QVERIFY(!Enabled(dlg, "IDC_ADD_FOLDER"));
    QTRY_VERIFY(!dlg.PatchList().empty());
    stop();
    QTRY_VERIFY(!dlg.Busy());
    const int found = static_cast<int>(dlg.PatchList().size());
    QVERIFY(found < 200);
    QCOMPARE(LabelText(dlg, "IDC_STATUS_TEXT"),
             QStringLiteral("Просмотр каталога остановлен: найдено файлов %1").arg(found));
    dlg.SetWorkerPacing({});
    AddFolder(dlg, prompts, dir);
    Search(dlg);
    QCOMPARE(Marks(dlg), QList<PatchStatus>(200, PATCH_INSTALLED));
    dlg.SetWorkerPacing(std::chrono::milliseconds(5));
    QTest::mouseClick(search, Qt::LeftButton);
    QVERIFY(dlg.Busy());
    QCOMPARE(search->text(), QStringLiteral("Стоп"));
    for (const char* off : {"IDC_ADD_FILE", "IDC_ADD_FOLDER", "IDC_REMOVE_FILE", "IDC_FILTER", "IDC_CUR_FLASH_BROWSE",
                            "IDC_ORIG_FLASH_BROWSE"})
      QVERIFY2(!Enabled(dlg, off), off);
    QTRY_VERIFY(Marks(dlg).count(PATCH_INSTALLED) >= 3);

    stop();
    QTRY_VERIFY(!dlg.Busy());
    QVERIFY(dlg.isVisible());
    const int checked = static_cast<int>(Marks(dlg).count(PATCH_INSTALLED));
    QVERIFY(checked < 200);
    QCOMPARE(Marks(dlg).mid(0, checked), QList<PatchStatus>(checked, PATCH_INSTALLED));
    for (int row = 0; row < 200; ++row) {
      const bool reached = row < checked;
      QCOMPARE(Shown(dlg, row, 0, Qt::AccessibleDescriptionRole).toString(),
               reached ? QStringLiteral("установлен") : QStringLiteral("не проверен"));
      QCOMPARE(Tooltip(dlg, row, 0).contains(QStringLiteral("Не проверен")), !reached);
      // The state picture's place, left of the small image.
      const QImage icon = Shown(dlg, row, 0, Qt::DecorationRole).value<QIcon>().pixmap(List(dlg)->iconSize()).toImage();
      bool boxShown = false;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) boxShown = boxShown || qAlpha(icon.pixel(x, y)) != 0;
      QCOMPARE(boxShown, reached);
    }
    QCOMPARE(LabelText(dlg, "IDC_STATUS_TEXT"), QStringLiteral("Поиск остановлен: проверено %1 из 200").arg(checked));
    QCOMPARE(search->text(), QStringLiteral("Поиск"));
    QVERIFY(Enabled(dlg, "IDC_ADD_FILE"));
    QVERIFY(prompts.boxes.empty());

    // Closing the window stops a search first.
    QTest::mouseClick(search, Qt::LeftButton);
    QVERIFY(dlg.Busy());
    QTest::mouseClick(Child<QPushButton>(dlg, "IDCANCEL"), Qt::LeftButton);
    QVERIFY(!dlg.Busy());
    QVERIFY(dlg.isHidden());
  }

  // "Установить в образ…": once the new image is written it is the current
  // image, and the chosen rows are checked against it again.
  void installingMakesTheResultTheCurrentImage() {
    const QString dir = Path(QStringLiteral("workbench"));
    WriteFile(dir + "/image.bin", CountingImage());
    WriteFile(dir + "/patches/a.vkp", "000010: 10 AA\r\n");
    WriteFile(dir + "/patches/b.vkp", "000020: 20 BB\r\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", dir + "/image.bin");
    AddFolder(dlg, prompts, dir + "/patches");
    Select(List(dlg), {1});
    const QString out = dir + "/patched.bin";
    prompts.saveFileNames = {out};
    QTimer drive;
    connect(&drive, &QTimer::timeout, [&] {
      auto* confirm = qobject_cast<CInstallDlg*>(QApplication::activeModalWidget());
      auto* write = confirm ? confirm->findChild<QPushButton*>(QStringLiteral("IDOK")) : nullptr;
      if (write && !confirm->Busy() && write->isEnabled()) write->click();
    });
    drive.start(10);
    dlg.RowMenu()->findChild<QAction*>(QStringLiteral("IDM_INSTALL"))->trigger();
    drive.stop();
    QVERIFY(prompts.boxes.empty());
    QCOMPARE(dlg.m_strCurrentFlash, out.toStdString());
    QCOMPARE(LabelText(dlg, "IDC_CUR_FLASH_NAME"), QStringLiteral("patched.bin"));
    QTRY_VERIFY(!dlg.Busy());
    QCOMPARE(Marks(dlg), QList<PatchStatus>({PATCH_NOT_INSTALLED, PATCH_INSTALLED}));
  }

  void qtsOwnTextsAreRussian() {
    QVERIFY(LoadQtRussianTranslation(*QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    // What a screen reader offers to do with a row's cell is said in Russian too.
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    dlg.show();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(List(dlg));
    int actions = 0;
    for (int i = 0; i < list->childCount(); ++i) {
      QAccessibleActionInterface* cell = list->child(i)->actionInterface();
      if (cell == nullptr) continue;
      for (const QString& action : cell->actionNames()) {
        ++actions;
        QVERIFY2(!cell->localizedActionName(action).contains(QRegularExpression(QStringLiteral("[A-Za-z]"))),
                 qPrintable(cell->localizedActionName(action)));
      }
    }
    QVERIFY(actions > 0);
  }

  void theSettingsFileIsLoadedAtStart() {
    WriteFile(QString::fromStdString(theApp.m_settingsPath), "[Address Filter]\r\n0=100 1FF\r\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    QCOMPARE(g_addrFilter.size(), std::size_t{1});
    QCOMPARE(g_addrFilter[0].start, 0x100u);
    QCOMPARE(g_addrFilter[0].end, 0x1FFu);
    QFile::remove(QString::fromStdString(theApp.m_settingsPath));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
