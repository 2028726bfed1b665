// The main window driven through its handlers offscreen, with every prompt
// answered by FakePrompts. The byte logic is tested in tests/core.
#include <QAbstractButton>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>

#include "ui/common/dialog_units.h"
#include "ui/app/patch_finder_app.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "tests/support/fake_prompts.h"
#include "core/filter/address_filter.h"

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

QStringList Column(const QWidget& dlg, int column) {
  const auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
  QStringList texts;
  for (int row = 0; row < list->topLevelItemCount(); ++row) texts << list->topLevelItem(row)->text(column);
  return texts;
}

QList<PatchStatus> Marks(const CPatchFinderDlg& dlg) {
  QList<PatchStatus> marks;
  for (int row = 0; row < dlg.PatchCount(); ++row) marks << dlg.PatchMark(row);
  return marks;
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
  static void AddFolder(CPatchFinderDlg& dlg, FakePrompts& prompts, const QString& path) {
    prompts.directories.push_back(path);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_ADD_FOLDER"), Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    theApp.m_pszProfileName = Path(QStringLiteral("quillet.INI")).toStdString();
    WriteFile(Path(QStringLiteral("current.bin")), CountingImage());
    WriteFile(Path(QStringLiteral("original.bin")), CountingImage());
  }

  void init() { g_addrFilter.clear(); }

  void startsWithEveryControlOfTheTemplate() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Поиск установленных патчей"));
    const DialogUnits du(dlg.font());
    QCOMPARE(dlg.size(), du.size(311, 199));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());

    // Each control by its IDC_ name, with its text.
    const std::pair<const char*, const char*> texts[] = {
        {"IDC_CUR_FLASH_BROWSE", "?"},        {"IDC_ADD_FILE", "+ файл"},     {"IDC_ADD_FOLDER", "+ каталог"},
        {"IDC_REMOVE_FILE", "- файл"},        {"IDC_FILTER", "Фильтр"},       {"IDC_SEARCH", "Поиск"},
        {"IDC_DIFFERENCES", "Отличия"},       {"IDCANCEL", "Выход"},          {"IDC_ORIG_FLASH_BROWSE", "?"},
    };
    for (const auto& [id, text] : texts) QVERIFY2(Child<QPushButton>(dlg, id)->text() == QString::fromUtf8(text), id);
    for (const char* id : {"IDC_CUR_FLASH_NAME", "IDC_ORIG_FLASH_NAME"}) QCOMPARE(LabelText(dlg, id), QStringLiteral("<Не выбран>"));
    for (const char* id : {"IDC_CUR_FLASH_SIZE", "IDC_ORIG_FLASH_SIZE"}) QCOMPARE(LabelText(dlg, id), QStringLiteral("Размер: 0 байт"));
    for (const char* id : {"IDC_CUR_FLASH_DATE", "IDC_ORIG_FLASH_DATE"}) {
      QCOMPARE(LabelText(dlg, id), QStringLiteral("Дата модификации: 00.00.0000 00:00:00"));
    }
    QCOMPARE(LabelText(dlg, "IDC_STATUS_TEXT"), QString());
    // The original image's group is on the left, each "?" at its group's top right.
    QVERIFY(Child<QWidget>(dlg, "IDC_ORIG_FLASH_BROWSE")->x() < Child<QWidget>(dlg, "IDC_CUR_FLASH_NAME")->x());
    QCOMPARE(Child<QWidget>(dlg, "IDC_CUR_FLASH_BROWSE")->geometry(), du.rect(286, 13, 15, 13));

    const auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Имя файла"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Путь к файлу"));
    QCOMPARE(list->columnWidth(0), 206);
    QCOMPARE(list->columnWidth(1), 206);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(!list->accessibleName().isEmpty());

    const auto* progress = Child<QProgressBar>(dlg, "IDC_PROGRESS");
    QVERIFY(progress->isHidden());
    QVERIFY(!progress->accessibleName().isEmpty());
    // A screen reader reads the status line's name: it must be what the line says.
    auto* status = Child<QLabel>(dlg, "IDC_STATUS_TEXT");
    status->setText(QStringLiteral("/x/a.vkp"));
    QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), QStringLiteral("/x/a.vkp"));
    status->clear();
    QVERIFY(!Child<QPushButton>(dlg, "IDC_CUR_FLASH_BROWSE")->accessibleName().isEmpty());
    QVERIFY(!Child<QPushButton>(dlg, "IDC_ORIG_FLASH_BROWSE")->accessibleName().isEmpty());

    QVERIFY(Child<QPushButton>(dlg, "IDC_ADD_FILE")->isDefault());
    QVERIFY(prompts.boxes.empty());
  }

  void tabOrderFollowsTheTemplate() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.focusWidget()->objectName(), QStringLiteral("IDC_CUR_FLASH_BROWSE"));
    // With every button enabled, Tab walks the template's order and wraps round.
    prompts.openFileNames = {Path(QStringLiteral("current.bin")), Path(QStringLiteral("original.bin"))};
    dlg.OnBrowseCurrentFlash();
    dlg.OnBrowseOriginalFlash();
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    const QStringList expected = {"IDC_CUR_FLASH_BROWSE", "IDC_PATCH_LIST", "IDC_ADD_FILE",  "IDC_ADD_FOLDER",
                                  "IDC_REMOVE_FILE",      "IDC_FILTER",     "IDC_SEARCH",    "IDC_DIFFERENCES",
                                  "IDCANCEL",             "IDC_ORIG_FLASH_BROWSE", "IDC_CUR_FLASH_BROWSE"};
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    // Far more than fits into 260 characters at once, in no order, with duplicates.
    QStringList chosen;
    for (int i = 0; i < 300; ++i) {
      chosen << Path(QStringLiteral("many/a rather long folder name/patch %1.vkp").arg(i, 3, 10, QLatin1Char('0')));
    }
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(7));
    AddFiles(dlg, prompts, chosen.mid(0, 200) + chosen.mid(0, 10));
    AddFiles(dlg, prompts, chosen.mid(150));
    QCOMPARE(dlg.PatchCount(), 300);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    AddFiles(dlg, prompts,
             {Path(QStringLiteral("z/same.vkp")), Path(QStringLiteral("b.txt")), Path(QStringLiteral("a/same.vkp")),
              Path(QStringLiteral("A.vkp"))});
    AddFiles(dlg, prompts, {Path(QStringLiteral("a/same.vkp")), Path(QStringLiteral("a/Same.vkp"))});
    QCOMPARE(Column(dlg, 0), QStringList({"A.vkp", "b.txt", "Same.vkp", "same.vkp", "same.vkp"}));
    QCOMPARE(Column(dlg, 1).mid(3), QStringList({Path("a/same.vkp"), Path("z/same.vkp")}));
    QCOMPARE(dlg.FindPatchItem(Path(QStringLiteral("z/same.vkp")).toStdString()), 4);
    QCOMPARE(dlg.FindPatchItem(Path(QStringLiteral("A.vkp")).toStdString()), 0);
    QCOMPARE(dlg.FindPatchItem(Path(QStringLiteral("a.vkp")).toStdString()), -1);
    QCOMPARE(dlg.FindPatchItem(Path(QStringLiteral("y/same.vkp")).toStdString()), -1);
    QCOMPARE(dlg.FindPatchItem(""), -1);
  }

  void cancelledPromptsChangeNothing() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {root + "/a.vkp"});
    AddFolder(dlg, prompts, root);
    QCOMPARE(Column(dlg, 1), QStringList({root + "/a.vkp", root + "/sub/b.vkp", root + "/x.vkp/c.vkp"}));
    QCOMPARE(Column(dlg, 0), QStringList({"a.vkp", "b.vkp", "c.vkp"}));
    QCOMPARE(LabelText(dlg, "IDC_STATUS_TEXT"), QString());
    // The same folder again, spelled with a trailing '/': nothing new, nothing doubled.
    AddFolder(dlg, prompts, root + "/");
    QCOMPARE(dlg.PatchCount(), 3);
    QVERIFY(Enabled(dlg, "IDC_REMOVE_FILE"));
  }

  void removingTakesEverySelectedRow() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    AddFiles(dlg, prompts, {Path("e.vkp"), Path("c.vkp"), Path("a.vkp"), Path("d.vkp"), Path("b.vkp")});
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
    for (int row : {0, 2, 4}) list->topLevelItem(row)->setSelected(true);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(Column(dlg, 0), QStringList({"b.vkp", "d.vkp"}));
    QVERIFY(Enabled(dlg, "IDC_SEARCH"));

    // Nothing selected: nothing goes.
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(dlg.PatchCount(), 2);

    list->selectAll();
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_REMOVE_FILE"), Qt::LeftButton);
    QCOMPARE(dlg.PatchCount(), 0);
    QVERIFY(!Enabled(dlg, "IDC_REMOVE_FILE"));
    QVERIFY(!Enabled(dlg, "IDC_SEARCH"));
    // A removed path can be added again.
    AddFiles(dlg, prompts, {Path("a.vkp")});
    QCOMPARE(dlg.PatchCount(), 1);
  }

  void doubleClickOpensTheSelectedFiles() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    AddFiles(dlg, prompts, {Path("c.vkp"), Path("a.vkp"), Path("b.vkp")});
    auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");

    const QPoint onB = list->visualItemRect(list->topLevelItem(1)).center();
    // A real double click: the first press selects the row under the pointer.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onB);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onB);
    QCOMPARE(prompts.opened, std::vector<QString>({Path("b.vkp")}));

    prompts.opened.clear();
    list->clearSelection();
    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(0)->setSelected(true);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    AddFolder(dlg, prompts, dir);
    QCOMPARE(Column(dlg, 0), QStringList({"broken.vkp", "filtered.vkp", "installed.vkp", "not installed.vkp"}));
    QCOMPARE(Marks(dlg), QList<PatchStatus>(4, PATCH_NOT_INSTALLED));

    g_addrFilter = {{0x20, 0x2F}};
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_SEARCH"), Qt::LeftButton);
    const QList<PatchStatus> expected = {PATCH_FILE_ERROR, PATCH_INSTALLED, PATCH_INSTALLED, PATCH_NOT_INSTALLED};
    QCOMPARE(Marks(dlg), expected);
    auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
    QCOMPARE(list->topLevelItem(0)->data(0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("ошибка в файле"));
    QCOMPARE(list->topLevelItem(1)->data(0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("установлен"));
    QCOMPARE(list->topLevelItem(3)->data(0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("не установлен"));
    QVERIFY(Child<QProgressBar>(dlg, "IDC_PROGRESS")->isHidden());
    QVERIFY(prompts.boxes.empty());

    // Searching again gives the same marks; a row added later starts empty.
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_SEARCH"), Qt::LeftButton);
    QCOMPARE(Marks(dlg), expected);
    AddFiles(dlg, prompts, {Path(QStringLiteral("current.bin"))});
    QCOMPARE(dlg.PatchMark(dlg.FindPatchItem(Path(QStringLiteral("current.bin")).toStdString())),
             PATCH_NOT_INSTALLED);
  }

  // After a search each row says why it has its mark: the tooltip briefly,
  // the details window in full, the status line the totals until the next command.
  void searchExplainsEachRow() {
    const QString dir = Path(QStringLiteral("details"));
    WriteFile(dir + "/installed.vkp", "000010: 00 10\r\n");
    WriteFile(dir + "/other.vkp", "000010: 55 FF\r\n");  // collides with installed.vkp at one address
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("current.bin")));
    AddFolder(dlg, prompts, dir);
    auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
    QCOMPARE(list->topLevelItem(0)->toolTip(1), dir + "/installed.vkp");

    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_SEARCH"), Qt::LeftButton);
    QCOMPARE(list->topLevelItem(0)->toolTip(0), dir + "/installed.vkp\nУстановлен: проверено байт: 1");
    QVERIFY(list->topLevelItem(1)->toolTip(1).contains(QStringLiteral("Адрес 000010: ожидается FF, найдено 10, старый 55")));
    const QString totals = QStringLiteral(
        "Установлено: 1, не установлено: 1 (другая прошивка: 1), с ошибкой: 0");
    auto* status = Child<QLabel>(dlg, "IDC_STATUS_TEXT");
    QCOMPARE(status->text(), totals);
    QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), totals);

    list->setCurrentItem(list->topLevelItem(1));
    QAction* entry = dlg.RowMenu()->findChild<QAction*>(QStringLiteral("IDM_PATCH_DETAILS"));
    QVERIFY(entry);
    QCOMPARE(entry->text(), QStringLiteral("Подробности…"));
    entry->trigger();
    auto* details = dlg.findChild<QDialog*>(QStringLiteral("IDD_PATCH_DETAILS"));
    QVERIFY(details && details->isVisible());
    auto* text = Child<QPlainTextEdit>(*details, "IDC_DETAILS_TEXT");
    QVERIFY(text->isReadOnly());
    QCOMPARE(text->toPlainText(), dir + "/other.vkp\n"
                                        "Не установлен: уже новых байт 0 из 1; сделан для другой прошивки\n"
                                        "Адрес 000010: ожидается FF, найдено 10, старый 55\n"
                                        "Конфликтует с: installed.vkp (1 адрес)");
    QTest::mouseClick(Child<QPushButton>(*details, "IDCANCEL"), Qt::LeftButton);
    QVERIFY(!details->isVisible());

    // Any command ends the totals; another image leaves the evidence in doubt.
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", Path(QStringLiteral("original.bin")));
    QCOMPARE(status->text(), QString());
    QVERIFY(list->topLevelItem(0)->toolTip(0).contains(QStringLiteral("\nПроверен с другим образом или фильтром\n")));
  }

  void searchWithoutACurrentImageDoesNothing() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
                                         << QList<PatchStatus>({PATCH_INSTALLED, PATCH_NOT_INSTALLED,
                                                                PATCH_NOT_INSTALLED});
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    Choose(dlg, prompts, "IDC_CUR_FLASH_BROWSE", image);
    AddFolder(dlg, prompts, dir);
    dlg.OnSearch();
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
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_SEARCH"), Qt::LeftButton);

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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Child<QTreeWidget>(dlg, "IDC_PATCH_LIST")->setFocus();
    prompts.openFileLists.push_back({Path("entered.vkp")});
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(Column(dlg, 0), QStringList({"entered.vkp"}));
  }

  void windowMenuEndsWithTheAboutBox() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
  // area, never from a right click on a control.
  void windowMenuOpensWhereExpected_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("opens");
    QTest::newRow("Alt+Space") << "keys" << true;
    QTest::newRow("right click on the free area") << "free" << true;
    QTest::newRow("right click on a size text") << "IDC_CUR_FLASH_SIZE" << true;
    QTest::newRow("right click on a button") << "IDC_SEARCH" << false;
  }
  void windowMenuOpensWhereExpected() {
    QFETCH(QString, how);
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    bool opened = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (QWidget* popup = QApplication::activePopupWidget()) {
        opened = popup == dlg.WindowMenu();
        popup->close();
      }
    });
    poll.start(10);
    if (how == QLatin1String("keys")) {
      QTest::keyClick(&dlg, Qt::Key_Space, Qt::AltModifier);
    } else {
      QWidget* target = how == QLatin1String("free") ? static_cast<QWidget*>(&dlg) : Child<QWidget>(dlg, qPrintable(how));
      const QPoint pos = how == QLatin1String("free") ? QPoint(2, dlg.height() - 2) : QPoint(3, 3);
      QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
      QApplication::sendEvent(target, &event);
    }
    QTest::qWait(50);
    QTEST(opened, "opens");
  }

  void differencesNeedBothImages() {
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
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
    const std::string saved = theApp.m_pszProfileName;
    const QString folder = Path(QStringLiteral("settings-is-a-folder.INI"));
    QDir().mkpath(folder);
    theApp.m_pszProfileName = folder.toStdString();
    g_addrFilter = {{1, 2}};
    {
      FakePrompts prompts;
      CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
      QCOMPARE(prompts.boxes.size(), std::size_t{1});
      QCOMPARE(prompts.boxes[0].text,
               QStringLiteral("Не удалось прочитать фильтр адресов из файла настроек '") + folder + "'");
      QCOMPARE(prompts.boxes[0].caption, QStringLiteral("Ошибка"));
    }
    QCOMPARE(g_addrFilter.size(), std::size_t{1});
    theApp.m_pszProfileName = saved;
  }

  // Start-up fixes the settings file in the working directory, named after the
  // executable, runs the window modally and returns false once it closes.
  void startUpPlacesTheSettingsFile_data() {
    QTest::addColumn<QString>("workingDirectory");
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("settings");
    const QString work = Path(QStringLiteral("work dir"));
    QTest::newRow("a folder") << work << "/opt/quillet/bin/quillet" << work + "/quillet.INI";
    QTest::newRow("the root, one slash") << "/" << "/opt/quillet/bin/quillet" << "/quillet.INI";
    QTest::newRow("another executable name") << work << "/usr/bin/Quillet.EXE" << work + "/Quillet.INI";
  }
  void startUpPlacesTheSettingsFile() {
    QFETCH(QString, workingDirectory);
    QFETCH(QString, executable);
    QDir().mkpath(workingDirectory);
    const std::string saved = theApp.m_pszProfileName;
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
    const bool result = theApp.InitInstance(executable.toStdString());
    QDir::setCurrent(before);
    QVERIFY(!result);
    QVERIFY(shown);
    QTEST(QString::fromStdString(theApp.m_pszProfileName), "settings");
    theApp.m_pszProfileName = saved;
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
    const std::string saved = theApp.m_pszProfileName;
    int rows = -1;
    QTimer close;
    connect(&close, &QTimer::timeout, [&] {
      if (auto* dlg = qobject_cast<CPatchFinderDlg*>(QApplication::activeModalWidget())) {
        rows = dlg->PatchCount();
        dlg->reject();
      }
    });
    close.start(10);
    theApp.InitInstance(ParseStartUp("/usr/bin/quillet", {"--from-desktop", Path("given").toStdString(),
                                                           "file://" + Path("single.txt").toStdString()}));
    qputenv("XDG_CONFIG_HOME", savedXdg);
    QCOMPARE(QString::fromStdString(theApp.m_pszProfileName), config + "/quillet/quillet.INI");
    QVERIFY(QFileInfo(config + "/quillet").isDir());
    QCOMPARE(rows, 2);
    theApp.m_pszProfileName = saved;
  }

  // Dropped files and folders are added as "+ файл" and "+ каталог" add them; Delete removes.
  void droppedFilesAndFoldersAreAddedAndDeleteRemoves() {
    QDir().mkpath(Path(QStringLiteral("dropped/deeper")));
    WriteFile(Path(QStringLiteral("dropped/deeper/x.vkp")), "0: 00");
    WriteFile(Path(QStringLiteral("dropped/y.VKP")), "0: 00");
    WriteFile(Path(QStringLiteral("dropped/readme.txt")), "text");
    WriteFile(Path(QStringLiteral("loose.bin")), "0: 00");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    auto* list = Child<QTreeWidget>(dlg, "IDC_PATCH_LIST");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path("dropped")), QUrl::fromLocalFile(Path("loose.bin"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    QCOMPARE(Column(dlg, 0), QStringList({"loose.bin", "x.vkp", "y.VKP"}));
    QVERIFY(Child<QPushButton>(dlg, "IDC_REMOVE_FILE")->isEnabled());
    QCOMPARE(list->topLevelItem(1)->toolTip(1), Path("dropped/deeper/x.vkp"));

    dlg.show();
    list->setFocus();
    list->topLevelItem(0)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Column(dlg, 0), QStringList({"x.vkp", "y.VKP"}));
  }

  void qtsOwnTextsAreRussian() {
    QVERIFY(LoadQtRussianTranslation(*QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
  }

  void theSettingsFileIsLoadedAtStart() {
    WriteFile(QString::fromStdString(theApp.m_pszProfileName), "[Address Filter]\r\n0=100 1FF\r\n");
    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_pszProfileName, g_addrFilter, prompts);
    QCOMPARE(g_addrFilter.size(), std::size_t{1});
    QCOMPARE(g_addrFilter[0].start, 0x100u);
    QCOMPARE(g_addrFilter[0].end, 0x1FFu);
    QFile::remove(QString::fromStdString(theApp.m_pszProfileName));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
