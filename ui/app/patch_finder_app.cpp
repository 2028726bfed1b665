#include "ui/app/patch_finder_app.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QUrl>
#include <cstdlib>
#include <filesystem>

#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "core/platform/file_io.h"
#include "core/platform/profile.h"

CPatchFinderApp theApp;
AddressFilter g_addrFilter;

bool CPatchFinderApp::InitInstance(const std::string& executablePath) { return InitInstance(StartUp{executablePath, false, {}}); }

bool CPatchFinderApp::InitInstance(const StartUp& startUp) {
  // Fixed once: the file dialogs may change the working directory later on,
  // and the settings must stay where the program was started. From the menu
  // the working directory is just the home folder, so the user's
  // configuration folder takes its place, made on first use.
  std::string folder = quillet::GetWorkingDirectory();
  if (startUp.fromDesktop) {
    const std::string config = quillet::DesktopSettingsFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    std::error_code ignored;  // a folder that can't be made shows up when the filter is saved
    if (!config.empty() && (std::filesystem::create_directories(config, ignored) || std::filesystem::is_directory(config)))
      folder = config;
  }
  m_pszProfileName = quillet::SettingsPathFor(folder, quillet::FileNameOf(startUp.executablePath));

  CPatchFinderDlg dlg(m_pszProfileName, g_addrFilter, DesktopPrompts());
  dlg.AddPaths(startUp.inputs);
  dlg.exec();
  return false;
}

bool LoadQtRussianTranslation(QCoreApplication& application) {
  auto* translator = new QTranslator(&application);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

CPatchFinderApp::StartUp ParseStartUp(const std::string& executablePath, const std::vector<std::string>& args) {
  CPatchFinderApp::StartUp startUp{executablePath, false, {}};
  bool options = true;
  for (const std::string& arg : args) {
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--from-desktop") {
      startUp.fromDesktop = true;
    } else if (options && arg.starts_with("file://")) {
      // Some file managers hand over URLs despite %F.
      startUp.inputs.push_back(QUrl(QString::fromStdString(arg)).toLocalFile().toStdString());
    } else {
      startUp.inputs.push_back(arg);
    }
  }
  return startUp;
}
