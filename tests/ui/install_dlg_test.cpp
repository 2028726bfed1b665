// The workbench's confirmation window, driven offscreen; the rules themselves
// are tested in tests/core and through quillet-cli apply.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include "core/install/install_job.h"
#include "tests/support/fake_prompts.h"
#include "ui/install/install_dlg.h"

using quillet::CInstallDlg;
using quillet::testing::FakePrompts;

namespace {

QByteArray CountingImage() {
  QByteArray image(256, '\0');
  for (int i = 0; i < 256; ++i) image[i] = static_cast<char>(i);
  return image;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
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

QStringList WhatHappens(const QWidget& dlg) {
  const auto* list = Child<QTreeWidget>(dlg, "IDC_INSTALL_LIST");
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows << list->topLevelItem(i)->text(0) + ": " + list->topLevelItem(i)->text(2);
  return rows;
}

}  // namespace

class InstallDlgTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QString Path(const QString& name) const { return m_dir.filePath(name); }

  quillet::InstallJob Job(const QStringList& patches) const {
    quillet::InstallJob job;
    job.imagePath = Path(QStringLiteral("image.bin")).toStdString();
    for (const QString& patch : patches) job.patchPaths.push_back(Path(patch).toStdString());
    return job;
  }

 private slots:
  void init() {
    for (const QString& left :
         QDir(m_dir.path()).entryList({QStringLiteral("*.undo*.vkp"), QStringLiteral("patched.bin")}))
      QFile::remove(Path(left));
    WriteFile(Path(QStringLiteral("image.bin")), CountingImage());
    WriteFile(Path(QStringLiteral("clean.vkp")), "000010: 10 AA\r\n000011: 11 BB\r\n");
    WriteFile(Path(QStringLiteral("done.vkp")), "000020: 00 20\r\n");
    WriteFile(Path(QStringLiteral("other.vkp")), "000030: 55 CC\r\n");
    QDir(m_dir.path()).mkpath(QStringLiteral("sub"));
    WriteFile(Path(QStringLiteral("sub/clean.vkp")), "000040: 40 CC\r\n");
  }

  // The window says what will happen to each patch before anything is written,
  // in Russian counts, under a header of its own, and two patches of one name
  // by their paths; a new image goes where the user says, with its undo patch
  // beside it, and changing the image itself takes a second yes.
  void confirmsEachPatchAndWritesWhereAsked() {
    FakePrompts prompts;
    CInstallDlg dlg(nullptr, Job({"clean.vkp", "done.vkp", "sub/clean.vkp"}), prompts);
    dlg.show();
    QTRY_VERIFY(!dlg.Busy() && !WhatHappens(dlg).at(0).endsWith(QStringLiteral(": ")));
    QCOMPARE(WhatHappens(dlg), QStringList({QStringLiteral("clean.vkp: будет установлен: записать 2 байта"),
                                            QStringLiteral("done.vkp: уже установлен: ничего не записывается"),
                                            QStringLiteral("clean.vkp: будет установлен: записать 1 байт")}));
    const auto* list = Child<QTreeWidget>(dlg, "IDC_INSTALL_LIST");
    QCOMPARE(list->topLevelItem(0)->text(1), Path(QStringLiteral("clean.vkp")));
    QCOMPARE(list->topLevelItem(2)->text(1), Path(QStringLiteral("sub/clean.vkp")));
    QCOMPARE(list->headerItem()->text(2), QStringLiteral("Что будет"));
    QCOMPARE(Child<QWidget>(dlg, "IDC_PROGRESS")->accessibleName(), QStringLiteral("Ход установки"));
    QCOMPARE(Child<QLabel>(dlg, "IDC_INSTALL_SUMMARY")->text(), QStringLiteral("Будет изменено байт: 3"));
    QVERIFY(Child<QPushButton>(dlg, "IDOK")->isEnabled());
    QCOMPARE(ReadFile(Path(QStringLiteral("image.bin"))), CountingImage());  // the listing wrote nothing

    // In place, answered "no": nothing happens.
    Child<QRadioButton>(dlg, "IDC_INSTALL_IN_PLACE")->setChecked(true);
    prompts.confirmations = {false};
    QTest::mouseClick(Child<QPushButton>(dlg, "IDOK"), Qt::LeftButton);
    QCOMPARE(prompts.questions.size(), std::size_t{1});
    QVERIFY(prompts.questions[0].contains(QStringLiteral("«image.bin»")));
    QVERIFY(!dlg.Busy());
    QCOMPARE(ReadFile(Path(QStringLiteral("image.bin"))), CountingImage());

    // A new file, beside an earlier undo patch of that name, which stays.
    Child<QRadioButton>(dlg, "IDC_INSTALL_NEW")->setChecked(true);
    const QString out = Path(QStringLiteral("patched.bin"));
    WriteFile(out + QStringLiteral(".undo.vkp"), "earlier");
    prompts.saveFileNames = {out};
    QTest::mouseClick(Child<QPushButton>(dlg, "IDOK"), Qt::LeftButton);
    QCOMPARE(Child<QLabel>(dlg, "IDC_INSTALL_SUMMARY")->text(), QStringLiteral("Запись…"));
    // The save dialog opens beside the image with a name of its own, and refuses what is being read.
    QCOMPARE(prompts.saveChoices.back().proposed, Path(QStringLiteral("image_patched.bin")));
    QVERIFY(prompts.saveChoices.back().inputs.contains(Path(QStringLiteral("image.bin"))));
    QVERIFY(prompts.saveChoices.back().inputs.contains(Path(QStringLiteral("sub/clean.vkp"))));
    QTRY_COMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(prompts.boxes.empty());
    QCOMPARE(QString::fromStdString(dlg.WrittenPath()), out);
    QByteArray expected = CountingImage();
    expected[0x10] = '\xAA';
    expected[0x11] = '\xBB';
    expected[0x40] = '\xCC';
    QCOMPARE(ReadFile(out), expected);
    QCOMPARE(ReadFile(Path(QStringLiteral("image.bin"))), CountingImage());
    QCOMPARE(ReadFile(out + QStringLiteral(".undo.vkp")), QByteArray("earlier"));
    const QString undoPath = out + QStringLiteral(".undo-2.vkp");
    const QByteArray undo = ReadFile(undoPath);
    QVERIFY(undo.startsWith(';'));
    QVERIFY(undo.contains("000010: 1011 AABB\r\n"));
    // Where it went, and that it is reverted, not installed.
    QVERIFY(Child<QLabel>(dlg, "IDC_INSTALL_SUMMARY")->text().contains(undoPath));
    QVERIFY(QString::fromStdString(dlg.UndoSavedText()).contains(QStringLiteral("«Откатить…»")));
  }

  // One refused patch refuses the run: the window says which and why, and
  // nothing can be written.
  void aRefusedPatchLeavesNothingToWrite() {
    FakePrompts prompts;
    CInstallDlg dlg(nullptr, Job({"clean.vkp", "other.vkp"}), prompts);
    dlg.show();
    QTRY_VERIFY(!dlg.Busy() && !WhatHappens(dlg).at(1).endsWith(QStringLiteral(": ")));
    QCOMPARE(WhatHappens(dlg).at(1), QStringLiteral("other.vkp: отказ: сделан для другой прошивки; "
                                                    "Адрес 000030: ожидается CC, найдено 30, старый 55"));
    QCOMPARE(WhatHappens(dlg).at(0), QStringLiteral("clean.vkp: будет установлен: записать 2 байта"));
    // The refusal is longer than its column: the refused row is chosen, and
    // its path and whole reason are shown below the list.
    QCOMPARE(Child<QLabel>(dlg, "IDC_INSTALL_REASON")->text(),
             Path(QStringLiteral("other.vkp")) + QStringLiteral("\n") +
                 Child<QTreeWidget>(dlg, "IDC_INSTALL_LIST")->topLevelItem(1)->text(2));
    QCOMPARE(Child<QLabel>(dlg, "IDC_INSTALL_SUMMARY")->text(),
             QStringLiteral("Ничего не будет записано: патчей с отказом: 1"));
    QVERIFY(!Child<QPushButton>(dlg, "IDOK")->isEnabled());
    QVERIFY(prompts.boxes.empty());
    QCOMPARE(ReadFile(Path(QStringLiteral("image.bin"))), CountingImage());
    QTest::mouseClick(Child<QPushButton>(dlg, "IDCANCEL"), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(QDir(m_dir.path()).entryList({QStringLiteral("*.undo*.vkp")}).isEmpty());
  }

  // Reverting names its bar so; the close box during a write is "Стоп": the
  // window stays, asks the run to end, and offers nothing while it does.
  void theCloseBoxStopsAWrite() {
    WriteFile(Path(QStringLiteral("image.bin")), QByteArray(32 << 20, '\0'));
    WriteFile(Path(QStringLiteral("zero.vkp")), "000010: AA 00\r\n");
    FakePrompts prompts;
    quillet::InstallJob job = Job({"zero.vkp"});
    job.mode = quillet::InstallMode::revert;
    CInstallDlg dlg(nullptr, job, prompts);
    QCOMPARE(Child<QWidget>(dlg, "IDC_PROGRESS")->accessibleName(), QStringLiteral("Ход отката"));
    dlg.show();
    QTRY_VERIFY(!dlg.Busy() && Child<QPushButton>(dlg, "IDOK")->isEnabled());
    const QString out = Path(QStringLiteral("patched.bin"));
    prompts.saveFileNames = {out};
    QTest::mouseClick(Child<QPushButton>(dlg, "IDOK"), Qt::LeftButton);
    QVERIFY(dlg.Busy());
    QVERIFY(!dlg.windowHandle()->close());
    QVERIFY(dlg.isVisible());
    QVERIFY(!Child<QPushButton>(dlg, "IDOK")->isEnabled());
    QTRY_VERIFY(!dlg.Busy());
    // The stop is asked for while 32 MiB are still being read; a machine fast
    // enough to have written them by then ends as a write does.
    if (dlg.result() != int(QDialog::Accepted)) {
      QVERIFY(dlg.isVisible());
      QCOMPARE(Child<QLabel>(dlg, "IDC_INSTALL_SUMMARY")->text(), QStringLiteral("Остановлено: ничего не записано"));
      QVERIFY(!QFile::exists(out));
    }
  }
};

QTEST_MAIN(InstallDlgTest)
#include "install_dlg_test.moc"
