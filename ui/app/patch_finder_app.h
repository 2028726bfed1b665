#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"

class QCoreApplication;

namespace quillet {

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
  bool InitInstance(const StartUp& startUp);

  // The settings file's path (the framework's profile name), formed once by
  // InitInstance and handed to the windows that read or write the settings.
  std::string m_settingsPath;
};

extern CPatchFinderApp theApp;
// The address filter in force for this run, created empty beside theApp; the
// main window loads it and hands it to the search, the comparison and the
// filter dialog.
extern quillet::AddressFilter g_addrFilter;

// Loads Qt's own Russian texts (file dialogs, standard buttons, context menus)
// so that they match the program's. False when they are not installed.
bool LoadQtRussianTranslation(QCoreApplication& application);

// Reads the program's arguments: "--from-desktop" (the menu entry's), "--"
// (every later argument is an input), and patch files or folders.
CPatchFinderApp::StartUp ParseStartUp(const std::string& executablePath, const std::vector<std::string>& args);

// What the environment says about a window: the variables Qt's platform choice reads.
struct DisplayEnvironment {
  const char* display = nullptr;         // $DISPLAY
  const char* waylandDisplay = nullptr;  // $WAYLAND_DISPLAY
  const char* qpaPlatform = nullptr;     // $QT_QPA_PLATFORM
};

// Answers, before any Qt object exists, the starts that must not open a window: "--help"/"-h"
// and "--version" (before "--") print to out and give 0; an option (before "--") that is neither
// the program's nor Qt's gives 64, a line on err naming it (with a "did you mean") and one
// pointing to "quillet --help"; with no display to show the window on, one line on err says so
// and gives 1, where Qt would abort. Nothing otherwise: the window opens. A platform that needs no display (offscreen,
// vnc, ...), from $QT_QPA_PLATFORM or Qt's own "-platform", and Qt's "-display" are taken as given.
std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& args, const DisplayEnvironment& environment,
                                       std::FILE* out, std::FILE* err);

}  // namespace quillet
