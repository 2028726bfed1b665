// quillet-dialog-shots DEMO_DIR OUT_DIR: opens the comparison window on the
// demo images and the address filter dialog on the demo settings, and saves
// what each shows as OUT_DIR/compare_window.png and OUT_DIR/filter_dialog.png.
// Run it under a display server (xvfb-run) for the fonts a user would see.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include <cstdio>

#include "core/filter/filter_storage.h"
#include "ui/common/user_prompts.h"
#include "ui/compare/flash_compare_dlg.h"
#include "ui/filter/addr_filter_dlg.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::CAddrFilterDlg;
using quillet::CFlashCompareDlg;
using quillet::CPatchFinderDlg;
using quillet::DesktopPrompts;

using quillet::AddressFilter;
using quillet::LoadAddressFilter;

namespace {

bool Save(QWidget& window, const QString& path) {
  QApplication::processEvents();
  if (window.grab().save(path)) {
    std::printf("%s\n", qPrintable(path));
    return true;
  }
  std::fprintf(stderr, "can't write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillet-dialog-shots DEMO_DIR OUT_DIR\n");
    return 2;
  }
  const QDir demo(QString::fromLocal8Bit(argv[1]));
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);
  const std::string settings = demo.filePath("quillet.INI").toStdString();
  AddressFilter addressFilter;
  if (!LoadAddressFilter(settings, addressFilter)) {
    std::fprintf(stderr, "can't read %s\n", settings.c_str());
    return 1;
  }

  CPatchFinderDlg owner(settings, addressFilter, DesktopPrompts());
  owner.m_strOriginalFlash = demo.filePath("original.bin").toStdString();
  owner.m_strCurrentFlash = demo.filePath("current.bin").toStdString();
  owner.show();
  {
    CFlashCompareDlg compare(&owner, {owner.m_strOriginalFlash, owner.m_strCurrentFlash, addressFilter},
                             DesktopPrompts());
    compare.show();
    QElapsedTimer clock;
    clock.start();
    while ((compare.State() != CFlashCompareDlg::RunState::ended || compare.Filling()) && clock.elapsed() < 60000)
      QTest::qWait(20);
    if (!Save(compare, QDir(out).filePath("compare_window.png"))) return 1;
  }
  owner.hide();

  CAddrFilterDlg filter(settings, addressFilter, DesktopPrompts());
  filter.show();
  auto* start = filter.findChild<QLineEdit*>("IDC_RANGE_START");
  auto* end = filter.findChild<QLineEdit*>("IDC_RANGE_END");
  auto* length = filter.findChild<QLineEdit*>("IDC_RANGE_LENGTH");
  // One range added with Enter, then another being typed as start and size.
  QTest::keyClicks(start, "0x100000");
  QTest::keyClicks(end, "10FFFF");
  QTest::keyClick(end, Qt::Key_Return);
  start->clear();
  end->clear();
  length->clear();
  QTest::keyClicks(start, "1000000");
  QTest::keyClicks(length, "7FFF");
  return Save(filter, QDir(out).filePath("filter_dialog.png")) ? 0 : 1;
}
