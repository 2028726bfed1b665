#pragma once
#include <string>

#include "core/filter/address_filter.h"

// The application object. Fixes once, at start-up, where the settings file
// lives, then runs the main window modally; the program ends when it closes.
class CPatchFinderApp {
 public:
  CPatchFinderApp() = default;
  ~CPatchFinderApp() = default;

  // Fixes the settings path from the working directory and the executable's
  // name, runs the main window; always false (no message loop of our own).
  bool InitInstance(const std::string& executablePath);

  // The settings file's path, formed once by InitInstance and handed to the
  // windows that read or write the settings.
  std::string m_pszProfileName;
};

extern CPatchFinderApp theApp;
// The address filter in force for this run, created empty beside theApp; the
// main window loads it and hands it to the search, the comparison and the
// filter dialog.
extern AddressFilter g_addrFilter;
