#include <QApplication>

#include "app/patch_finder_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // The main window runs modally inside InitInstance; when it closes, the program ends.
  theApp.InitInstance(QCoreApplication::applicationFilePath().toStdString());
  return 0;
}
