#pragma once
#include <string>
#include <vector>

#include "core/filter/address_filter.h"

// The application object. Fixes once, at start-up, where the settings file
// lives, then runs the main window modally; the program ends when it closes.
class CPatchFinderApp {
 public:
  CPatchFinderApp() = default;
  ~CPatchFinderApp() = default;

  // How the program was started.
  struct StartUp {
    std::string executablePath;
    // Started from the desktop's menu: the settings live in the user's
    // configuration folder rather than the working directory.
    bool fromDesktop = false;
    // Patch files and folders to list at once ("Open with").
    std::vector<std::string> inputs;
  };

  // Fixes the settings path from the working directory (or, from the desktop,
  // the configuration folder) and the executable's name, runs the main window;
  // always false (no message loop of our own).
  bool InitInstance(const std::string& executablePath);
  bool InitInstance(const StartUp& startUp);

  // The settings file's path, formed once by InitInstance and handed to the
  // windows that read or write the settings.
  std::string m_pszProfileName;
};

extern CPatchFinderApp theApp;
// The address filter in force for this run, created empty beside theApp; the
// main window loads it and hands it to the search, the comparison and the
// filter dialog.
extern AddressFilter g_addrFilter;

class QCoreApplication;
// Loads Qt's own Russian texts (file dialogs, standard buttons, context menus)
// so that they match the program's. False when they are not installed.
bool LoadQtRussianTranslation(QCoreApplication& application);

// Reads the program's arguments: "--from-desktop" (the menu entry's), "--"
// (every later argument is an input), and patch files or folders.
CPatchFinderApp::StartUp ParseStartUp(const std::string& executablePath, const std::vector<std::string>& args);
