#include "ui/app/patch_finder_app.h"

#include "ui/main_window/patch_finder_dlg.h"
#include "core/platform/file_io.h"
#include "core/platform/profile.h"

CPatchFinderApp theApp;

bool CPatchFinderApp::InitInstance(const std::string& executablePath) {
  // Fixed once: the file dialogs may change the working directory later on,
  // and the settings must stay where the program was started.
  m_pszProfileName = quillet::SettingsPathFor(quillet::GetWorkingDirectory(), quillet::FileNameOf(executablePath));

  CPatchFinderDlg dlg;
  dlg.exec();
  return false;
}
