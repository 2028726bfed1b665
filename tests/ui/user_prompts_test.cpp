// The program's "Text (*.x)|*.x|...||" filters as the name filters Qt's file dialog takes.
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/common/user_prompts.h"

using quillet::DesktopPrompts;
using quillet::ToQtNameFilters;

class UserPromptsTest : public QObject {
  Q_OBJECT

 private slots:
  void filtersBecomeQtNameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("images: *.* means every file")
        << QStringLiteral("Бинарные файлы (*.bin)|*.bin|Все файлы (*.*)|*.*||")
        << QStringList{QStringLiteral("Бинарные файлы (*.bin)"), QStringLiteral("Все файлы (*)")};
    QTest::newRow("patches") << QStringLiteral("Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||")
                             << QStringList{QStringLiteral("Файлы патчей (*.vkp)"), QStringLiteral("Все файлы (*)")};
    QTest::newRow("several patterns") << QStringLiteral("Text (*.txt;*.log)|*.txt; *.log||")
                                      << QStringList{QStringLiteral("Text (*.txt *.log)")};
    QTest::newRow("the patterns decide, not the text")
        << QStringLiteral("Patches (*.txt)|*.vkp||") << QStringList{QStringLiteral("Patches (*.vkp)")};
    QTest::newRow("text without patterns shown")
        << QStringLiteral("Patches|*.vkp||") << QStringList{QStringLiteral("Patches (*.vkp)")};
    QTest::newRow("no patterns: every file")
        << QStringLiteral("Anything||") << QStringList{QStringLiteral("Anything (*)")};
    QTest::newRow("empty") << QString() << QStringList{};
    QTest::newRow("the list ends at ||") << QStringLiteral("A (*.a)|*.a||B (*.b)|*.b||")
                                         << QStringList{QStringLiteral("A (*.a)")};
  }
  void filtersBecomeQtNameFilters() {
    QFETCH(QString, filter);
    QTEST(ToQtNameFilters(filter), "expected");
  }

  // The real save dialog opens on the proposed file; choosing a file being
  // read is refused with our own box, never Qt's question about replacing it,
  // and the dialog stays open for another choice.
  void aSaveDialogRefusesItsInputs() {
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("image.bin"));
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen << QStringLiteral("box: ") + box->text();
        box->done(QMessageBox::Ok);
      } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        seen << QStringLiteral("dialog: ") + dialog->selectedFiles().value(0);
        if (seen.size() == 1) {
          dialog->selectFile(input);
          // As its button does; after this poll, whose timer would not come again inside the box.
          QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
        } else {
          dialog->reject();
        }
      }
    });
    poll.start(10);
    const QString chosen = DesktopPrompts().GetSaveFileNameFor(
        nullptr, QStringLiteral("Бинарные файлы (*.bin)|*.bin||"), QStringLiteral("bin"),
        {dir.filePath(QStringLiteral("image_patched.bin")), {input}});
    QVERIFY(chosen.isEmpty());
    QCOMPARE(seen,
             QStringList({QStringLiteral("dialog: ") + dir.filePath(QStringLiteral("image_patched.bin")),
                          QStringLiteral("box: Файл «image.bin» сейчас читается: выберите для записи другой файл"),
                          QStringLiteral("dialog: ") + input}));
  }
};

QTEST_MAIN(UserPromptsTest)
#include "user_prompts_test.moc"
