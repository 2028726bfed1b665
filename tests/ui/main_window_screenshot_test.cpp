// The pictures compiled into the program, and the main window as the user sees
// it after a search. Set QUILLET_DEMO_DIR to search the demo data (made by
// quillet-demo-data) and QUILLET_SCREENSHOT to save the window there as PNG.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include "tests/support/fake_prompts.h"
#include "ui/app/patch_finder_app.h"
#include "ui/common/resources.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::CPatchFinderDlg;
using quillet::g_addrFilter;
using quillet::theApp;
using quillet::testing::FakePrompts;

using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

class MainWindowScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void picturesAreCompiledIn() {
    QVERIFY(!quillet::res::AppIcon().isNull());
    QCOMPARE(quillet::res::PatchIcon().size(), QSize(16, 16));
    QList<QImage> states;
    for (PatchStatus status : {PATCH_NOT_INSTALLED, PATCH_INSTALLED, PATCH_FILE_ERROR}) {
      const QImage image = quillet::res::PatchStateImage(status).toImage();
      QCOMPARE(image.size(), QSize(16, 16));
      // The strip's background is transparent, the box inside is white.
      QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
      QCOMPARE(image.pixel(3, 3), qRgb(255, 255, 255));
      for (const QImage& other : states) QVERIFY(image != other);
      states << image;
    }
    QVERIFY(quillet::res::PatchStateImage(static_cast<PatchStatus>(4)).isNull());
  }

  void windowAfterASearch() {
    QTemporaryDir scratch;
    QString demo = qEnvironmentVariable("QUILLET_DEMO_DIR");
    if (demo.isEmpty()) {
      demo = scratch.path();
      QDir().mkpath(demo + "/patches/sub");
      auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
      };
      write(demo + "/current.bin", QByteArray(4096, '\x11'));
      write(demo + "/original.bin", QByteArray(4096, '\x00'));
      write(demo + "/patches/installed.vkp", "000100: 00 1111\r\n");
      write(demo + "/patches/not_installed.vkp", "000100: 00 2222\r\n");
      write(demo + "/patches/sub/broken.vkp", "000100: 00 1111\r\nbroken line\r\n");
    }
    theApp.m_settingsPath = (demo + "/quillet.INI").toStdString();

    FakePrompts prompts;
    CPatchFinderDlg dlg(theApp.m_settingsPath, g_addrFilter, prompts);
    prompts.openFileNames = {demo + "/current.bin", demo + "/original.bin"};
    prompts.directories = {demo + "/patches"};
    dlg.OnBrowseCurrentFlash();
    dlg.OnBrowseOriginalFlash();
    dlg.OnAddFolder();
    QTRY_VERIFY(!dlg.Busy());
    QVERIFY(!dlg.PatchList().empty());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("IDC_SEARCH")), Qt::LeftButton);
    QTRY_VERIFY(!dlg.Busy());
    QVERIFY2(prompts.boxes.empty(), prompts.boxes.empty() ? "" : qPrintable(prompts.boxes[0].text));
    auto* list = dlg.findChild<QTreeView*>(QStringLiteral("IDC_PATCH_LIST"));
    // What the picture must show: each row's mark as the search left it, drawn
    // by the mark's own picture, so rows of different marks look different.
    const QImage shot = dlg.grab().toImage();
    const auto markOf = [&](int row) {
      const QRect cell = list->visualRect(list->model()->index(row, 0));
      const QPoint topLeft = list->viewport()->mapTo(&dlg, cell.topLeft());
      return shot.copy(QRect(topLeft, QSize(quillet::res::kSmallImage + 4, cell.height())));
    };
    const quillet::PatchList& rows = dlg.PatchList();
    for (std::size_t a = 0; a < rows.size(); ++a)
      for (std::size_t b = a + 1; b < rows.size(); ++b)
        QCOMPARE(markOf(static_cast<int>(a)) == markOf(static_cast<int>(b)), rows[a].status == rows[b].status);

    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->setFocus();
    const QImage picture = dlg.grab().toImage();
    const QString out = qEnvironmentVariable("QUILLET_SCREENSHOT");
    if (!out.isEmpty()) QVERIFY2(picture.save(out, "PNG"), qPrintable(out));
  }
};

QTEST_MAIN(MainWindowScreenshotTest)
#include "main_window_screenshot_test.moc"
