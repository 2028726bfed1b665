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
#include <string>
#include <string_view>
#include <utility>

#include "core/platform/file_system.h"
#include "core/platform/nearest_word.h"
#include "core/platform/profile.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/main_window/patch_finder_dlg.h"

namespace quillet {

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

// Qt's own options, which QApplication takes out of the arguments (one dash or two), the X11
// platform's among them: those followed by their value, those with none, those with "=value".
constexpr std::string_view kQtValued[] = {
    "-platform",    "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowicon", "-qwindowtitle",       "-session",       "-style",  "-stylesheet",
    "-display",     "-geometry",           "-title",         "-icon",   "-name",
    "-visual"};
constexpr std::string_view kQtFlags[] = {"-reverse", "-widgetcount", "-testability", "-nograb", "-dograb", "-sync"};
constexpr std::string_view kQtWithValue[] = {"-style=", "-stylesheet=", "-session=", "-qmljsdebugger="};

// The Qt option arg is, with its dashes made one, and whether the next argument is its value.
std::optional<std::pair<std::string_view, bool>> FindQtOption(std::string_view arg) {
  if (arg.starts_with("--")) arg.remove_prefix(1);
  for (const std::string_view option : kQtValued)
    if (arg == option) return std::pair{option, true};
  for (const std::string_view option : kQtFlags)
    if (arg == option) return std::pair{option, false};
  for (const std::string_view option : kQtWithValue)
    if (arg.starts_with(option)) return std::pair{option, false};
  return std::nullopt;
}

// An argument as one line of text: a control character in it could forge or hide one.
std::string Printable(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return line;
}

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
  const std::string* unknown = nullptr;
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
    if (arg == "--from-desktop" || arg == "-" || !arg.starts_with('-')) continue;
    const auto qt = FindQtOption(arg);
    if (!qt) {
      if (unknown == nullptr) unknown = &arg;  // help and version still answered after it
      continue;
    }
    const auto [name, takesValue] = *qt;
    if (!takesValue || i + 1 >= args.size()) continue;
    if (name == "-platform") platform = args[i + 1];
    if (name == "-display") displayGiven = true;
    ++i;
  }
  if (unknown != nullptr) {
    // Taken for a patch file, it would only show up later as one that can't be read.
    const std::string name = unknown->substr(0, unknown->find('='));
    std::string message = "quillet: unknown option '" + Printable(*unknown) + "'";
    if (const std::string_view nearest = quillet::NearestWord(name, {"--help", "--version", "--from-desktop"});
        !nearest.empty())
      message += "; did you mean '" + std::string(nearest) + "'?";
    std::fprintf(err, "%s\nquillet: 'quillet --help' lists the options\n", message.c_str());
    return 64;
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

}  // namespace quillet
