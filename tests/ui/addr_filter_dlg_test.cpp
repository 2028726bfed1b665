// The address filter dialog, driven offscreen through its edits and buttons.
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <sstream>

#include "core/filter/address_filter.h"
#include "core/filter/filter_storage.h"
#include "core/platform/profile.h"
#include "tests/support/fake_prompts.h"
#include "ui/app/patch_finder_app.h"
#include "ui/filter/addr_filter_dlg.h"

using quillet::CAddrFilterDlg;
using quillet::g_addrFilter;
using quillet::theApp;
using quillet::testing::FakePrompts;

namespace {

std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteAll(const QString& path, const std::string& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace

class AddrFilterDlgTest : public QObject {
  Q_OBJECT

 private:
  // The dialog's controls, found by their IDC_ names as a user's screen reader would.
  struct Controls {
    QLineEdit* start;
    QLineEdit* end;
    QLineEdit* length;
    QTreeWidget* list;
    QPushButton* add;
    QPushButton* remove;
    QPushButton* ok;
    QPushButton* cancel;
  };

  static Controls Find(CAddrFilterDlg& dlg) {
    Controls c{dlg.findChild<QLineEdit*>("IDC_RANGE_START"),  dlg.findChild<QLineEdit*>("IDC_RANGE_END"),
               dlg.findChild<QLineEdit*>("IDC_RANGE_LENGTH"), dlg.findChild<QTreeWidget*>("IDC_RANGE_LIST"),
               dlg.findChild<QPushButton*>("IDC_RANGE_ADD"),  dlg.findChild<QPushButton*>("IDC_RANGE_DELETE"),
               dlg.findChild<QPushButton*>("IDOK"),           dlg.findChild<QPushButton*>("IDCANCEL")};
    if (!c.start || !c.end || !c.length || !c.list || !c.add || !c.remove || !c.ok || !c.cancel)
      qFatal("a control of the filter dialog is missing");
    return c;
  }

  // The rows top to bottom, as "range | length".
  static QStringList Rows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      rows << list->topLevelItem(i)->text(0) + " | " + list->topLevelItem(i)->text(1);
    return rows;
  }

  // Replaces an edit's text the way a user does: select all, delete, type.
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

  QTemporaryDir m_dir;
  QString m_ini;
  FakePrompts m_prompts;  // for the tests that expect no prompt

 private slots:
  void init() {
    g_addrFilter.clear();
    m_ini = m_dir.filePath("quillet.INI");
    QFile::remove(m_ini);
    theApp.m_settingsPath = m_ini.toStdString();
  }

  void rowsStartAsTheFilterSortedByText() {
    g_addrFilter = {{0x1A0000, 0x1AFFFF}, {0x100, 0x200}, {0x1000000, 0x1000010}, {5, 5}, {0x100, 0x200}};
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    const Controls c = Find(dlg);
    // Text order, as the list sorts: "1000000" comes before "1A0000".
    QCOMPARE(Rows(c.list),
             QStringList({"000005 - 000005 | 000000", "000100 - 000200 | 000100", "000100 - 000200 | 000100",
                          "1000000 - 1000010 | 000010", "1A0000 - 1AFFFF | 00FFFF"}));
    QVERIFY(c.start->text().isEmpty() && c.end->text().isEmpty() && c.length->text().isEmpty());
    QCOMPARE(c.list->columnWidth(0), 200);
    QCOMPARE(c.list->columnWidth(1), 99);
    QCOMPARE(c.list->selectionMode(), QAbstractItemView::ExtendedSelection);
  }

  void addRange_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("row");  // empty: no row may appear

    QTest::newRow("start above end is swapped") << "1AFFFF"
                                                << "1A0000"
                                                << "1A0000 - 1AFFFF | 00FFFF";
    QTest::newRow("0x prefix and bare digits") << "0x1000"
                                               << "2000"
                                               << "001000 - 002000 | 001000";
    QTest::newRow("lower case digits") << "1a0000"
                                       << "1affff"
                                       << "1A0000 - 1AFFFF | 00FFFF";
    QTest::newRow("start equal to end") << "5"
                                        << "5"
                                        << "000005 - 000005 | 000000";
    QTest::newRow("prefix alone counts as 0") << "0x"
                                              << "10"
                                              << "000000 - 000010 | 000010";
    QTest::newRow("above FFFFFF shows more digits") << "1000000"
                                                    << "1000010"
                                                    << "1000000 - 1000010 | 000010";
    QTest::newRow("last eight digits count") << "123456789"
                                             << "123456790"
                                             << "23456789 - 23456790 | 000007";
    QTest::newRow("whole 32-bit range") << "0"
                                        << "FFFFFFFF"
                                        << "000000 - FFFFFFFF | FFFFFFFF";
    QTest::newRow("empty start") << ""
                                 << "2000"
                                 << "";
    QTest::newRow("empty end") << "1000"
                               << ""
                               << "";
    QTest::newRow("non-hex start") << "1G"
                                   << "2000"
                                   << "";
    QTest::newRow("non-hex end") << "1000"
                                 << "20x0"
                                 << "";
    QTest::newRow("a space makes it invalid") << " 1000"
                                              << "2000"
                                              << "";
    QTest::newRow("Cyrillic letter") << "1000"
                                     << "2000А"
                                     << "";
  }

  void addRange() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, row);
    FakePrompts prompts;
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    const Controls c = Find(dlg);
    c.start->setText(start);
    c.end->setText(end);
    QTest::mouseClick(c.add, Qt::LeftButton);
    QCOMPARE(Rows(c.list), row.isEmpty() ? QStringList() : QStringList{row});
    // The edits keep what was typed, so a similar range is quick to add next.
    QCOMPARE(c.start->text(), start);
    QCOMPARE(c.end->text(), end);
    QVERIFY(prompts.boxes.empty());
  }

  // Each step types one field; the other fields follow by the dialog's rules.
  void editsFollowEachOther_data() {
    QTest::addColumn<QStringList>("steps");  // "field=text", field one of s, e, l
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("length");

    QTest::newRow("start with the end empty leaves the length") << QStringList{"l=ABC", "s=1000"} << "1000"
                                                                << ""
                                                                << "ABC";
    QTest::newRow("end below start gives the absolute difference") << QStringList{"s=3000", "e=1000"} << "3000"
                                                                   << "1000"
                                                                   << "002000";
    QTest::newRow("start typed after the end") << QStringList{"e=2000", "s=1000"} << "1000"
                                               << "2000"
                                               << "001000";
    QTest::newRow("length sets the end and keeps its own text") << QStringList{"s=1A0000", "l=10"} << "1A0000"
                                                                << "1A0010"
                                                                << "10";
    QTest::newRow("length with 0x prefix") << QStringList{"s=1000", "l=0x10"} << "1000"
                                           << "001010"
                                           << "0x10";
    QTest::newRow("cleared length sets the end to the start") << QStringList{"s=1A0000", "l=10", "l="} << "1A0000"
                                                              << "1A0000"
                                                              << "";
    QTest::newRow("sum wraps at 32 bits") << QStringList{"s=FFFFFFFF", "l=2"} << "FFFFFFFF"
                                          << "000001"
                                          << "2";
    QTest::newRow("non-hex start counts as 0") << QStringList{"e=E000", "s=1G"} << "1G"
                                               << "E000"
                                               << "00E000";
    QTest::newRow("non-hex length counts as 0") << QStringList{"s=1000", "l=xyz"} << "1000"
                                                << "001000"
                                                << "xyz";
    QTest::newRow("end with an invalid start leaves the length") << QStringList{"s=zz", "e=10"} << "zz"
                                                                 << "10"
                                                                 << "";
    QTest::newRow("length with an empty start leaves the end") << QStringList{"e=77", "l=5"} << ""
                                                               << "77"
                                                               << "5";
    QTest::newRow("retyped length does not bounce back from the end")
        << QStringList{"s=1000", "e=2000", "l=5"} << "1000"
        << "001005"
        << "5";
    QTest::newRow("more than eight digits keep the last eight") << QStringList{"s=100000000", "e=10"} << "100000000"
                                                                << "10"
                                                                << "000010";
  }

  void editsFollowEachOther() {
    QFETCH(QStringList, steps);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, length);
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    const Controls c = Find(dlg);
    for (const QString& step : steps) {
      QLineEdit* edit = step.startsWith("s=") ? c.start : step.startsWith("e=") ? c.end : c.length;
      Type(edit, step.mid(2));
    }
    QCOMPARE(c.start->text(), start);
    QCOMPARE(c.end->text(), end);
    QCOMPARE(c.length->text(), length);
  }

  void deleteRemovesEverySelectedRow_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("three of four") << QList<int>{0, 1, 3} << QStringList{"000300 - 000400"};
    QTest::newRow("none") << QList<int>{}
                          << QStringList{"000100 - 000200", "000200 - 000300", "000300 - 000400", "000400 - 000500"};
    QTest::newRow("all") << QList<int>{0, 1, 2, 3} << QStringList{};
  }

  void deleteRemovesEverySelectedRow() {
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    g_addrFilter = {{0x400, 0x500}, {0x100, 0x200}, {0x300, 0x400}, {0x200, 0x300}};
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    const Controls c = Find(dlg);
    c.list->clearSelection();
    for (int row : selected) c.list->topLevelItem(row)->setSelected(true);
    QTest::mouseClick(c.remove, Qt::LeftButton);
    QStringList ranges;
    for (int i = 0; i < c.list->topLevelItemCount(); ++i) ranges << c.list->topLevelItem(i)->text(0);
    QCOMPARE(ranges, left);
  }

  void doubleClickTakesTheRowIntoTheEdits_data() {
    QTest::addColumn<QString>("startBefore");
    QTest::addColumn<QString>("endBefore");
    QTest::addColumn<QString>("lengthBefore");
    QTest::newRow("empty edits") << ""
                                 << ""
                                 << "";
    // The edits may already hold the row's texts; the length must still follow.
    QTest::newRow("edits already hold the texts") << "1A0000"
                                                  << "1AFFFF"
                                                  << "junk";
  }

  void doubleClickTakesTheRowIntoTheEdits() {
    QFETCH(QString, startBefore);
    QFETCH(QString, endBefore);
    QFETCH(QString, lengthBefore);
    g_addrFilter = {{0x100, 0x200}, {0x1A0000, 0x1AFFFF}};
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const Controls c = Find(dlg);
    for (auto [edit, before] :
         {std::pair{c.start, startBefore}, std::pair{c.end, endBefore}, std::pair{c.length, lengthBefore}}) {
      const QSignalBlocker quiet(edit);
      edit->setText(before);
    }

    QTreeWidgetItem* row = c.list->topLevelItem(1);
    QCOMPARE(row->text(0), QString("1A0000 - 1AFFFF"));
    const QPoint centre = c.list->visualItemRect(row).center();
    QTest::mouseClick(c.list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(c.list->viewport(), Qt::LeftButton, {}, centre);

    QCOMPARE(Rows(c.list), QStringList({"000100 - 000200 | 000100"}));
    QCOMPARE(c.start->text(), QString("1A0000"));
    QCOMPARE(c.end->text(), QString("1AFFFF"));
    QCOMPARE(c.length->text(), QString("00FFFF"));

    // Round trip: adding it again gives back the row as it was.
    QTest::mouseClick(c.add, Qt::LeftButton);
    QCOMPARE(Rows(c.list), QStringList({"000100 - 000200 | 000100", "1A0000 - 1AFFFF | 00FFFF"}));
  }

  void enterAddsAndNeverCloses() {
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const Controls c = Find(dlg);
    QVERIFY(c.add->isDefault());
    QCOMPARE(dlg.focusWidget(), c.start);
    QTest::keyClicks(c.start, "1000");
    QTest::keyClick(c.start, Qt::Key_Tab);
    QTest::keyClicks(c.end, "2000");
    QTest::keyClick(c.end, Qt::Key_Return);
    QTest::keyClick(c.end, Qt::Key_Enter);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);
    QCOMPARE(Rows(c.list), QStringList({"001000 - 002000 | 001000", "001000 - 002000 | 001000"}));
    QVERIFY(!QFile::exists(m_ini));
  }

  void okWritesTheRowsAndDropsStaleKeys_data() {
    QTest::addColumn<QString>("before");  // the settings file before the dialog opens
    QTest::addColumn<int>("rowsToDelete");
    QTest::addColumn<QStringList>("keys");  // keys 0..6 of the section afterwards, "-" if absent

    const QString fiveKeys =
        "[Address Filter]\r\n0=1000 2000\r\n1=3000 4000\r\n2=5000 6000\r\n"
        "3=7000 8000\r\n4=9000 A000\r\n";
    QTest::newRow("two rows over five keys")
        << fiveKeys << 3 << QStringList{"001000 002000", "003000 004000", "-", "-", "-", "-", "-"};
    QTest::newRow("a malformed entry is replaced")
        << "[Address Filter]\r\n0=1000 2000\r\n1=zz\r\n2=3000 4000\r\n"
        << 0 << QStringList{"001000 002000", "003000 004000", "-", "-", "-", "-", "-"};
  }

  void okWritesTheRowsAndDropsStaleKeys() {
    QFETCH(QString, before);
    QFETCH(int, rowsToDelete);
    QFETCH(QStringList, keys);
    WriteAll(m_ini, before.toStdString());
    QVERIFY(LoadAddressFilter(theApp.m_settingsPath, g_addrFilter));
    FakePrompts prompts;
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    const Controls c = Find(dlg);
    for (int i = 1; i <= rowsToDelete; ++i) c.list->topLevelItem(c.list->topLevelItemCount() - i)->setSelected(true);
    QTest::mouseClick(c.remove, Qt::LeftButton);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(prompts.boxes.empty());
    for (int key = 0; key < keys.size(); ++key) {
      const std::string value = quillet::ProfileDocument::Load(theApp.m_settingsPath)
                                    .Get(quillet::kFilterSection, std::to_string(key))
                                    .value_or("-");
      QCOMPARE(QString::fromStdString(value), keys[key]);
    }
  }

  void okWithNoRowsEmptiesTheReloadedFilter() {
    WriteAll(m_ini, "[Other]\r\nkeep=1\r\n[Address Filter]\r\n0=1 2\r\n1=3 4\r\n");
    QVERIFY(LoadAddressFilter(theApp.m_settingsPath, g_addrFilter));
    QCOMPARE(g_addrFilter.size(), std::size_t{2});
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    const Controls c = Find(dlg);
    c.list->selectAll();
    QTest::mouseClick(c.remove, Qt::LeftButton);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    // The dialog never touches the live filter; the main window reloads it.
    QCOMPARE(g_addrFilter.size(), std::size_t{2});
    QVERIFY(LoadAddressFilter(theApp.m_settingsPath, g_addrFilter));
    QVERIFY(g_addrFilter.empty());
    QCOMPARE(
        QString::fromStdString(quillet::ProfileDocument::Load(theApp.m_settingsPath).Get("Other", "keep").value_or("")),
        QString("1"));
  }

  void cancelEscapeAndCloseWriteNothing_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Отмена") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
  }

  void cancelEscapeAndCloseWriteNothing() {
    QFETCH(int, how);
    const std::string before = "[Address Filter]\r\n0=1000 2000\r\n";
    WriteAll(m_ini, before);
    QVERIFY(LoadAddressFilter(theApp.m_settingsPath, g_addrFilter));
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, m_prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const Controls c = Find(dlg);
    c.list->selectAll();
    QTest::mouseClick(c.remove, Qt::LeftButton);
    c.start->setText("5");
    c.end->setText("6");
    QTest::mouseClick(c.add, Qt::LeftButton);
    if (how == 0) QTest::mouseClick(c.cancel, Qt::LeftButton);
    if (how == 1) QTest::keyClick(c.start, Qt::Key_Escape);
    if (how == 2) dlg.close();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(ReadAll(m_ini), before);
  }

  void okThatCannotWriteSaysSoAndStaysOpen() {
    theApp.m_settingsPath = m_dir.filePath("missing-folder/quillet.INI").toStdString();
    FakePrompts prompts;
    CAddrFilterDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const Controls c = Find(dlg);
    c.start->setText("1000");
    c.end->setText("2000");
    QTest::mouseClick(c.add, Qt::LeftButton);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);
    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QVERIFY(prompts.boxes[0].text.contains("missing-folder/quillet.INI"));
    QCOMPARE(prompts.boxes[0].caption, QString("Ошибка"));
    QCOMPARE(Rows(c.list), QStringList({"001000 - 002000 | 001000"}));
  }
};

QTEST_MAIN(AddrFilterDlgTest)
#include "addr_filter_dlg_test.moc"

using quillet::LoadAddressFilter;
