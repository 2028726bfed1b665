// The porting window driven offscreen, on a firmware pair whose move is known:
// the current image is the original with 0x100 bytes inserted at 0x1000, so
// what a patch made for the original writes behind it moves by +0x100. Where
// the pieces go is tested in tests/core; here, what the window shows, writes
// and refuses, and how its runs end.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <chrono>
#include <cstdio>

#include "core/filter/address_filter.h"
#include "core/search/patch_check.h"
#include "tests/support/fake_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "ui/port/port_dlg.h"

using quillet::CPatchFinderDlg;
using quillet::CPortDlg;
using quillet::testing::FakePrompts;

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename T>
T* Child(const QWidget& dlg, const char* name) {
  T* child = dlg.findChild<T*>(QString::fromLatin1(name));
  if (!child) qFatal("no control %s", name);
  return child;
}

// Every patch's row and its pieces' rows below it, as "name: result".
QStringList Rows(const QWidget& dlg) {
  const auto* list = Child<QTreeWidget>(dlg, "IDC_PORT_LIST");
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = list->topLevelItem(i);
    rows << row->text(0) + QStringLiteral(": ") + row->text(2);
    for (int j = 0; j < row->childCount(); ++j)
      rows << QStringLiteral("  ") + row->child(j)->text(0) + QStringLiteral(": ") + row->child(j)->text(2);
  }
  return rows;
}

QString Summary(const QWidget& dlg) { return Child<QLabel>(dlg, "IDC_PORT_SUMMARY")->text(); }

// A line that changes length bytes of firmware at address, flipping bits.
QByteArray Line(const QByteArray& firmware, int address, int length) {
  QByteArray line = QByteArray::number(address, 16).toUpper().rightJustified(6, '0') + ':';
  line += ' ' + firmware.mid(address, length).toHex().toUpper();
  QByteArray changed = firmware.mid(address, length);
  for (char& byte : changed) byte = static_cast<char>(byte ^ 0x5A);
  return line + ' ' + changed.toHex().toUpper() + "\r\n";
}

// The patch's status and verdict on image, by core's own check.
std::pair<quillet::PatchStatus, quillet::OldBytesVerdict> Check(const QString& patch, const QByteArray& image) {
  QByteArray work = image;
  quillet::CheckDetails details;
  const quillet::PatchStatus status = quillet::CheckPatch(
      patch.toStdString(), reinterpret_cast<const std::uint8_t*>(image.constData()),
      reinterpret_cast<std::uint8_t*>(work.data()), static_cast<std::uint32_t>(image.size()), {}, &details);
  return {status, details.verdict};
}

}  // namespace

class PortDlgTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QByteArray m_original;
  QByteArray m_current;
  QString Path(const QString& name) const { return m_dir.filePath(name); }

  CPortDlg::Inputs Inputs(const QStringList& patches) const {
    CPortDlg::Inputs inputs{Path(QStringLiteral("current.bin")).toStdString(),
                            Path(QStringLiteral("original.bin")).toStdString(),
                            {},
                            Path(QStringLiteral("quillet.INI")).toStdString()};
    for (const QString& patch : patches) inputs.patchPaths.push_back(Path(patch).toStdString());
    return inputs;
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    std::uint32_t state = 22;
    for (int i = 0; i < 0x4000; ++i) {
      state = state * 1664525U + 1013904223U;
      m_original += static_cast<char>(state >> 24);
    }
    m_current = m_original.left(0x1000) + QByteArray(0x100, '\x11') + m_original.mid(0x1000);
    WriteFile(Path(QStringLiteral("original.bin")), m_original);
    WriteFile(Path(QStringLiteral("current.bin")), m_current);
    WriteFile(Path(QStringLiteral("p/one.vkp")), Line(m_original, 0x2000, 16));
    WriteFile(Path(QStringLiteral("p/early.vkp")), Line(m_original, 0x0800, 16));
    WriteFile(Path(QStringLiteral("p/short.vkp")), Line(m_original, 0x2800, 4));
    WriteFile(Path(QStringLiteral("p/sub/one.vkp")), Line(m_original, 0x3000, 12));
    QVERIFY(QFile::link(Path(QStringLiteral("p")), Path(QStringLiteral("p-link"))));
  }

  // Each patch with its pieces: moved by the known shift, fitting as it is, or
  // refused with the piece's reason. "Записать" puts the ported ones, never
  // the refused, into one folder under their own names (the second of one
  // name numbered), asks once before replacing what is there, and refuses a
  // folder whose files are the patches themselves, by any spelling.
  void listsThePiecesAndWritesThePortedIntoAFolder() {
    FakePrompts prompts;
    CPortDlg dlg(nullptr, Inputs({"p/one.vkp", "p/early.vkp", "p/short.vkp", "p/sub/one.vkp"}), prompts);
    QCOMPARE(dlg.objectName(), QStringLiteral("IDD_PORT"));
    dlg.show();
    QTRY_VERIFY(!dlg.Busy() && Summary(dlg).startsWith(QStringLiteral("Перенесено")));
    QCOMPARE(
        Rows(dlg),
        QStringList({QStringLiteral("one.vkp: перенесён"), QStringLiteral("  Кусок 002000-00200F: сдвиг +0x100"),
                     QStringLiteral("early.vkp: подходит как есть"), QStringLiteral("  Кусок 000800-00080F: сдвиг 0"),
                     QStringLiteral("short.vkp: отказ: место найдено не для всех кусков"),
                     QStringLiteral("  Кусок 002800-002803: слишком короткий, чтобы найти его место"),
                     QStringLiteral("one.vkp: перенесён"), QStringLiteral("  Кусок 003000-00300B: сдвиг +0x100")}));
    QCOMPARE(Summary(dlg), QStringLiteral("Перенесено: 2, подходят как есть: 1, с отказом: 1"));
    QVERIFY(Child<QCheckBox>(dlg, "IDC_PORT_FROM_ORIGINAL")->isEnabled());
    QVERIFY(Child<QCheckBox>(dlg, "IDC_PORT_ADD_TO_LIST")->isChecked());
    auto* write = Child<QPushButton>(dlg, "IDC_PORT_WRITE");
    QVERIFY(write->isEnabled());

    const QByteArray one = ReadFile(Path(QStringLiteral("p/one.vkp")));
    prompts.directories = {Path(QStringLiteral("p-link"))};
    QTest::mouseClick(write, Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QVERIFY(prompts.boxes[0].text.contains(QStringLiteral("не заменяется")));
    QVERIFY(prompts.questions.empty());
    QVERIFY(!dlg.Busy());
    QCOMPARE(ReadFile(Path(QStringLiteral("p/one.vkp"))), one);

    const QString out = Path(QStringLiteral("out"));
    WriteFile(out + QStringLiteral("/early.vkp"), "earlier");
    prompts.directories = {out};
    prompts.confirmations = {false};
    QTest::mouseClick(write, Qt::LeftButton);
    QCOMPARE(prompts.questions.size(), std::size_t{1});
    QVERIFY(prompts.questions[0].contains(QStringLiteral("(1): early.vkp")));
    QVERIFY(!dlg.Busy());
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({QStringLiteral("early.vkp")}));

    prompts.directories = {out};
    prompts.confirmations = {true};
    QTest::mouseClick(write, Qt::LeftButton);
    QTRY_COMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QCOMPARE(QDir(out).entryList(QDir::Files),
             QStringList({QStringLiteral("early.vkp"), QStringLiteral("one (2).vkp"), QStringLiteral("one.vkp")}));
    QCOMPARE(dlg.WrittenPaths().size(), std::size_t{3});
    using Result = std::pair<quillet::PatchStatus, quillet::OldBytesVerdict>;
    const Result clean{quillet::PATCH_NOT_INSTALLED, quillet::OldBytesVerdict::appliesCleanly};
    for (const char* name : {"one.vkp", "one (2).vkp", "early.vkp"})
      QCOMPARE(Check(out + QLatin1Char('/') + QLatin1String(name), m_current), clean);
    QVERIFY(ReadFile(out + QStringLiteral("/one (2).vkp")).contains("003100: "));
  }

  // From the main window's menu: a patch too short to be found by its own
  // bytes is refused, until the original image is taken as the firmware it
  // was made for. Its ported file is offered beside it, and "Добавить в
  // список" lists it and checks it against the current image.
  void theOriginalPortsWhatOnlyItCanPlaceAndTheListChecksIt() {
    FakePrompts prompts;
    quillet::AddressFilter filter;
    CPatchFinderDlg dlg(Path(QStringLiteral("quillet.INI")).toStdString(), filter, prompts);
    prompts.openFileNames = {Path(QStringLiteral("current.bin")), Path(QStringLiteral("original.bin"))};
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_CUR_FLASH_BROWSE"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(dlg, "IDC_ORIG_FLASH_BROWSE"), Qt::LeftButton);
    dlg.AddPaths({Path(QStringLiteral("p/short.vkp")).toStdString()});
    auto* view = Child<QTreeView>(dlg, "IDC_PATCH_LIST");
    view->selectionModel()->select(view->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QAction* port = dlg.RowMenu()->findChild<QAction*>(QStringLiteral("IDM_PORT"));
    QVERIFY(port);
    emit dlg.RowMenu()->aboutToShow();
    QVERIFY(port->isEnabled());

    const QString ported = Path(QStringLiteral("p/short_ported.vkp"));
    prompts.saveFileNames = {ported};
    QStringList seen;
    QTimer drive;
    connect(&drive, &QTimer::timeout, [&] {
      auto* window = qobject_cast<CPortDlg*>(QApplication::activeModalWidget());
      if (!window || window->Busy() || Rows(*window).value(0).endsWith(QStringLiteral(": "))) return;
      if (!seen.isEmpty() && seen.back() == Rows(*window).value(0)) return;
      seen << Rows(*window).value(0);
      if (seen.size() == 1) Child<QCheckBox>(*window, "IDC_PORT_FROM_ORIGINAL")->click();
      if (seen.size() == 2) Child<QPushButton>(*window, "IDC_PORT_WRITE")->click();
    });
    drive.start(10);
    port->trigger();
    drive.stop();
    QCOMPARE(seen, QStringList({QStringLiteral("short.vkp: отказ: место найдено не для всех кусков"),
                                QStringLiteral("short.vkp: перенесён")}));
    QCOMPARE(prompts.saveChoices.back().proposed, ported);
    QVERIFY(prompts.saveChoices.back().inputs.contains(Path(QStringLiteral("original.bin"))));
    QVERIFY(prompts.boxes.empty());
    QVERIFY(ReadFile(ported).contains("002900: "));

    const std::optional<std::size_t> row = dlg.PatchList().Find(ported.toStdString());
    QVERIFY(row);
    QTRY_VERIFY(!dlg.Busy());
    const quillet::PatchRow& listed = dlg.PatchList()[*row];
    QCOMPARE(listed.status, quillet::PATCH_NOT_INSTALLED);
    QVERIFY(listed.details);
    QCOMPARE(listed.details->verdict, quillet::OldBytesVerdict::appliesCleanly);
  }

  // "Стоп" and the close box both end a run and leave the window open with
  // nothing shown as ported; a run after them goes through.
  void stopAndTheCloseBoxEndARun() {
    FakePrompts prompts;
    CPortDlg dlg(nullptr, Inputs({"p/one.vkp"}), prompts);
    dlg.SetWorkerPacing(std::chrono::hours(1));
    dlg.show();
    QVERIFY(dlg.Busy());
    auto* cancel = Child<QPushButton>(dlg, "IDCANCEL");
    QCOMPARE(cancel->text(), QStringLiteral("Стоп"));
    QVERIFY(!Child<QPushButton>(dlg, "IDC_PORT_WRITE")->isEnabled());
    QVERIFY(!Child<QCheckBox>(dlg, "IDC_PORT_FROM_ORIGINAL")->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY(!dlg.Busy());
    QVERIFY(dlg.isVisible());
    QCOMPARE(Summary(dlg), QStringLiteral("Перенос остановлен"));
    QCOMPARE(Rows(dlg), QStringList({QStringLiteral("one.vkp: ")}));
    QVERIFY(!Child<QPushButton>(dlg, "IDC_PORT_WRITE")->isEnabled());

    auto* fromOriginal = Child<QCheckBox>(dlg, "IDC_PORT_FROM_ORIGINAL");
    fromOriginal->click();
    QVERIFY(dlg.Busy());
    QVERIFY(!dlg.windowHandle()->close());
    QVERIFY(dlg.isVisible());
    QTRY_VERIFY(!dlg.Busy());
    QCOMPARE(Summary(dlg), QStringLiteral("Перенос остановлен"));

    dlg.SetWorkerPacing({});
    fromOriginal->click();
    QTRY_VERIFY(!dlg.Busy());
    QCOMPARE(Rows(dlg).value(0), QStringLiteral("one.vkp: перенесён"));
    QVERIFY(prompts.boxes.empty());
  }
};

QTEST_MAIN(PortDlgTest)
#include "port_dlg_test.moc"
