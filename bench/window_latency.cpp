// How long the main window goes without answering while it adds a large folder
// and while "Подробности…" reads a large list: a timer that should fire every
// 5 ms records the longest gap between two of its ticks, which is the longest
// time any input would have waited. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench/window_latency [FILES] [PATCHES] [LINES]
// The files are made once in $TMPDIR/quillet-latency and kept for the next run.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/fake_prompts.h"
#include "ui/details/patch_details_dlg.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::CPatchDetailsDlg;
using quillet::CPatchFinderDlg;
using quillet::testing::FakePrompts;

namespace {

// Runs the event loop until done() holds; the longest gap between two ticks
// of a 5 ms timer, and the whole time, in ms.
std::pair<qint64, qint64> Stall(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  qint64 longest = 0;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  ticks.start(5);
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  return {longest, clock.elapsed()};
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int files = argc > 1 ? std::atoi(argv[1]) : 50000;
  const int patches = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int lines = argc > 3 ? std::atoi(argv[3]) : 3000;
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "quillet-latency";
  const std::string made = std::to_string(files) + " " + std::to_string(patches) + " " + std::to_string(lines);
  std::string madeBefore;
  std::getline(std::ifstream(root / "made"), madeBefore);
  if (madeBefore != made) {
    std::filesystem::remove_all(root);
    // 50,000 files in 500 folders, named so that every batch lands all over the list.
    for (int i = 0; i < files; ++i) {
      const std::filesystem::path folder = root / "many" / std::to_string(i % 500);
      if (i < 500) std::filesystem::create_directories(folder);
      Write(folder / ("p" + std::to_string((i * 7919) % files) + ".vkp"), "000010: 00 10\r\n");
    }
    std::string text;
    for (int line = 0; line < lines; ++line) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%06X: 00 %02X\r\n", line * 4, line & 0xFF);
      text += buffer;
    }
    std::filesystem::create_directories(root / "large");
    for (int i = 0; i < patches; ++i) Write(root / "large" / ("l" + std::to_string(i) + ".vkp"), text);
    Write(root / "made", made + "\n");
  }

  FakePrompts prompts;
  quillet::AddressFilter filter;
  CPatchFinderDlg dlg((root / "quillet.INI").string(), filter, prompts);
  dlg.show();

  dlg.AddPaths({(root / "many").string()});
  const auto [scanStall, scanTime] = Stall([&] { return !dlg.Busy(); });
  std::printf("folder scan of %zu files: %lld ms, longest stall %lld ms\n", dlg.PatchList().size(),
              static_cast<long long>(scanTime), static_cast<long long>(scanStall));

  // The details window reads every listed file: only the large ones now.
  const auto scanned = static_cast<int>(dlg.PatchList().size());
  auto* list = dlg.findChild<QTreeView*>(QStringLiteral("IDC_PATCH_LIST"));
  list->selectAll();
  dlg.OnRemoveFile();
  if (patches == 0) return scanned == files ? 0 : 1;
  dlg.AddPaths({(root / "large").string()});
  (void)Stall([&] { return !dlg.Busy(); });
  list->setCurrentIndex(list->model()->index(0, 0));
  QElapsedTimer opening;
  opening.start();
  dlg.RowMenu()->findChild<QAction*>(QStringLiteral("IDM_PATCH_DETAILS"))->trigger();
  const qint64 opened = opening.elapsed();
  auto* details = dlg.findChild<CPatchDetailsDlg*>();
  const auto [detailsStall, detailsTime] = Stall([&] { return !details->Finding(); });
  std::printf(
      "details over %zu patches (%d of %d lines): opened in %lld ms, filled in %lld ms, longest stall %lld ms\n",
      dlg.PatchList().size(), patches, lines, static_cast<long long>(opened), static_cast<long long>(detailsTime),
      static_cast<long long>(detailsStall));
  return 0;
}
