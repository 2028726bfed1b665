#include "ui/app/patch_finder_app.h"

#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "core/platform/file_io.h"
#include "core/platform/profile.h"

CPatchFinderApp theApp;
AddressFilter g_addrFilter;

bool CPatchFinderApp::InitInstance(const std::string& executablePath) {
  // Fixed once: the file dialogs may change the working directory later on,
  // and the settings must stay where the program was started.
  m_pszProfileName = quillet::SettingsPathFor(quillet::GetWorkingDirectory(), quillet::FileNameOf(executablePath));

  CPatchFinderDlg dlg(m_pszProfileName, g_addrFilter, DesktopPrompts());
  dlg.exec();
  return false;
}
