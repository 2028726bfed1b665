#include <QApplication>

#include "ui/app/patch_finder_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // The settings file is named after the executable file itself, whatever link started it.
  QString executable = QCoreApplication::applicationFilePath();
  if (executable.isEmpty() && argc > 0) executable = QString::fromLocal8Bit(argv[0]);
  // The main window runs modally inside InitInstance; when it closes, the program ends.
  theApp.InitInstance(executable.toStdString());
  return 0;
}
