#include <QApplication>
#include <cstdlib>

#include "core/platform/std_descriptors.h"
#include "ui/app/patch_finder_app.h"

int main(int argc, char* argv[]) {
  // Before anything is opened, so that no file becomes stdin, stdout or stderr.
  (void)quillet::EnsureStandardDescriptors();
  // Before Qt: it would take "--help" for a patch file and abort without a display.
  if (const auto status = quillet::AnswerWithoutWindow(
          std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc),
          {std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM")}, stdout, stderr))
    return *status;
  QApplication application(argc, argv);
  // Qt's own dialogs and menus speak the program's language.
  quillet::LoadQtRussianTranslation(application);
  // The settings file is named after the executable file itself, whatever link started it.
  QString executable = QCoreApplication::applicationFilePath();
  if (executable.isEmpty() && argc > 0) executable = QString::fromLocal8Bit(argv[0]);
  std::vector<std::string> args;
  // Arguments as the file system spells them: paths are bytes, not text.
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // The main window runs modally inside InitInstance; when it closes, the program ends.
  quillet::theApp.InitInstance(quillet::ParseStartUp(executable.toStdString(), args));
  return 0;
}
