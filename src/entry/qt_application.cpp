#include "entry/qt_application.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QThread>
#include <QTranslator>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/errors.h"

namespace dupsweep::entry {

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The platform plugins Qt would try, in order.
std::vector<std::string> candidatePlatforms() {
  const std::string chosen = env("QT_QPA_PLATFORM");
  if (!chosen.empty()) return split(chosen, ';');
  std::vector<std::string> platforms;
  if (!env("DISPLAY").empty()) platforms.push_back("xcb");
  if (!env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland")
    platforms.push_back("wayland");
  if (platforms.empty()) platforms.push_back("xcb");
  return platforms;
}

bool pluginInstalled(const char* file) {
  for (const QString& dir : QCoreApplication::libraryPaths())
    if (QFileInfo::exists(dir + QStringLiteral("/platforms/") + QString::fromLatin1(file)))
      return true;
  return false;
}

std::string xcbProblem() {
  const std::string display = env("DISPLAY");
  if (display.empty()) return "no X display is set (DISPLAY is empty)";
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool failed = xcb_connection_has_error(connection) != 0;
  xcb_disconnect(connection);
  if (failed) return "cannot connect to the X display \"" + display + "\"";
  return {};
}

std::string waylandProblem() {
  std::string socketName = env("WAYLAND_DISPLAY");
  if (socketName.empty()) socketName = "wayland-0";
  std::string path = socketName;
  if (socketName.front() != '/') {
    const std::string runtimeDir = env("XDG_RUNTIME_DIR");
    if (runtimeDir.empty()) return "no Wayland display: XDG_RUNTIME_DIR is not set";
    path = runtimeDir + "/" + socketName;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return "the Wayland socket path is too long";
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "cannot create a socket for Wayland";
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  if (!connected) return "cannot connect to the Wayland display \"" + path + "\"";
  return {};
}

// Why `platform` cannot start, or empty when it can.
std::string platformProblem(const std::string& platform) {
  struct Known {
    const char* name;
    const char* plugin;
    std::string (*check)();
  };
  static const Known known[] = {
      {"offscreen", "libqoffscreen.so", nullptr},
      {"minimal", "libqminimal.so", nullptr},
      {"vnc", "libqvnc.so", nullptr},
      {"xcb", "libqxcb.so", &xcbProblem},
      {"wayland", "libqwayland-generic.so", &waylandProblem},
      {"wayland-egl", "libqwayland-egl.so", &waylandProblem},
  };
  for (const Known& k : known) {
    if (platform != k.name) continue;
    if (!pluginInstalled(k.plugin))
      return "the Qt platform plugin \"" + platform + "\" is not installed";
    return k.check ? k.check() : std::string();
  }
  return "the Qt platform \"" + platform + "\" cannot be checked for a display";
}

bool hiddenDialogAllowed() {
  return env(kAllowHiddenDialogVariable) == "1";
}

}  // namespace

std::string displayProblem() {
  std::string reasons;
  for (const std::string& entry : candidatePlatforms()) {
    const std::string platform = entry.substr(0, entry.find(':'));
    const std::string problem = platformProblem(platform);
    if (!problem.empty()) {
      if (!reasons.empty()) reasons += "; ";
      reasons += platform + ": " + problem;
      continue;
    }
    // On a platform without a screen the modal dialog would wait for an operator who cannot see it.
    if ((platform == "offscreen" || platform == "minimal") && !hiddenDialogAllowed())
      return "The dialog cannot be shown: the Qt platform \"" + platform +
             "\" (QT_QPA_PLATFORM) shows no window, so the modal dialog would wait for ever; set " +
             std::string(kAllowHiddenDialogVariable) + "=1 only to drive it without a screen";
    return {};
  }
  return "The dialog cannot be shown: no display can be opened (" + reasons + ")";
}

QApplication& ensureApplication() {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    auto* app = qobject_cast<QApplication*>(existing);
    if (app == nullptr)
      throw Error(
          "The dialog cannot be shown: the host's application object is not a QApplication");
    if (QThread::currentThread() != app->thread())
      throw Error(
          "The dialog cannot be shown: it must run on the thread of the application object");
    installChineseTranslation(*app);
    return *app;
  }
  if (const std::string problem = displayProblem(); !problem.empty()) throw Error(problem);
  // Kept for the life of the process: Qt allows one application object, made once.
  static int argc = 1;
  static char name[] = "ComDupsweepDM";
  static char* argv[] = {name, nullptr};
  auto* app = new QApplication(argc, argv);
  installChineseTranslation(*app);
  return *app;
}

bool installChineseTranslation(QCoreApplication& app) {
  // The translator is a child of the application it was installed on, so a host that makes a new
  // application object later gets a new one.
  static QPointer<QTranslator> installed;
  if (installed && installed->parent() == &app) return true;
  if (QLocale::system().language() != QLocale::Chinese && QLocale().language() != QLocale::Chinese)
    return false;
  auto* translator = new QTranslator(&app);
  const QString file =
      QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
  if (!translator->load(file) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  installed = translator;
  return true;
}

}  // namespace dupsweep::entry
