#include "ui/app/patch_finder_app.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "core/platform/file_io.h"
#include "core/platform/profile.h"
#include "core/res/strings.h"
#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::AddressFilter;

CPatchFinderApp theApp;
AddressFilter g_addrFilter;

bool CPatchFinderApp::InitInstance(const StartUp& startUp) {
  // Fixed once: the file dialogs may change the working directory later on,
  // and the settings must stay where the program was started. From the menu
  // the working directory is just the home folder, so the user's
  // configuration folder takes its place, made on first use.
  std::string folder = quillet::GetWorkingDirectory();
  if (startUp.fromDesktop) {
    const std::string config = quillet::DesktopSettingsFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    std::error_code ignored;  // a folder that can't be made shows up when the filter is saved
    if (!config.empty() &&
        (std::filesystem::create_directories(config, ignored) || std::filesystem::is_directory(config)))
      folder = config;
  }
  m_settingsPath = quillet::SettingsPathFor(folder, quillet::FileNameOf(startUp.executablePath));

  CPatchFinderDlg dlg(m_settingsPath, g_addrFilter, DesktopPrompts());
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

namespace {

constexpr char kUsage[] =
    "usage: quillet [--from-desktop] [--] [PATCH_OR_FOLDER...]\n"
    "       quillet --help | --version\n"
    "\n"
    "Opens the window \"Поиск установленных патчей\": which .vkp patch files are\n"
    "installed in a Full Flash image, the differences between two images as a\n"
    "new .vkp patch, and the address filter. Each PATCH_OR_FOLDER is added to the\n"
    "patch list (a folder with its *.vkp files, subfolders included); after \"--\"\n"
    "every argument is one. --from-desktop (the menu entry's) keeps the settings\n"
    "file in ~/.config/quillet/ instead of the working folder.\n"
    "\n"
    "quillet-cli does the same jobs without a window (quillet-cli --help).\n";

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// Qt tries the platforms of a "name:options;name:options" list in turn; only its X11 and
// Wayland ones need a display.
bool NeedsDisplay(std::string_view platforms) {
  if (platforms.empty()) return true;
  while (!platforms.empty()) {
    const std::size_t end = std::min(platforms.find(';'), platforms.size());
    const std::string_view name = platforms.substr(0, std::min(platforms.find(':'), end));
    if (!name.starts_with("xcb") && !name.starts_with("wayland")) return false;
    platforms.remove_prefix(std::min(end + 1, platforms.size()));
  }
  return true;
}

// Output, as quillet-cli treats it: a full disk must not pass for success.
int Printed(std::FILE* out, std::FILE* err) {
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "quillet: can't write the output: %s\n", std::strerror(errno));
    return 74;
  }
  return 0;
}

}  // namespace

std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& args, const DisplayEnvironment& environment,
                                       std::FILE* out, std::FILE* err) {
  bool displayGiven = IsSet(environment.display) || IsSet(environment.waylandDisplay);
  std::string platform = IsSet(environment.qpaPlatform) ? environment.qpaPlatform : "";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, out);
      return Printed(out, err);
    }
    if (arg == "--version") {
      std::fprintf(out, "quillet %s\n", quillet::text::kVersion);
      return Printed(out, err);
    }
    // Qt's own options, which QApplication takes out of the arguments.
    const bool hasValue = i + 1 < args.size();
    if ((arg == "-platform" || arg == "--platform") && hasValue) platform = args[i + 1];
    if ((arg == "-display" || arg == "--display") && hasValue) displayGiven = true;
  }
  if (!displayGiven && NeedsDisplay(platform)) {
    std::fputs(
        "quillet: no display to open the window on ($DISPLAY and $WAYLAND_DISPLAY are unset); "
        "quillet-cli does the same jobs on the command line (quillet-cli --help)\n",
        err);
    return 1;
  }
  return std::nullopt;
}
