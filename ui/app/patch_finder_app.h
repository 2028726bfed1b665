#pragma once
#include <string>

// The application object. Fixes once, at start-up, where the settings file
// lives, then runs the main window modally; the program ends when it closes.
class CPatchFinderApp {
 public:
  CPatchFinderApp() = default;
  ~CPatchFinderApp() = default;

  // Fixes the settings path from the working directory and the executable's
  // name, runs the main window; always false (no message loop of our own).
  bool InitInstance(const std::string& executablePath);

  // The settings file's path, formed once by InitInstance; every settings
  // access of the program reads it. Tests may set it directly.
  std::string m_pszProfileName;
};

extern CPatchFinderApp theApp;
