#include "dialogs/qt_runtime.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLocale>
#include <QPluginLoader>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dialogs/dialog_strings.h"
#include "driver/morvik_common.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"

namespace {

// The platform entries that Qt would be asked to try, in order: those of QT_QPA_PLATFORM (a list
// separated by ';', each a plugin name with optional ":arguments"), else the display servers whose
// variables are set, X11 first unless the session says it is a Wayland one (as Qt itself chooses).
std::vector<std::string> PlatformCandidates() {
  std::vector<std::string> candidates;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') {
    std::string_view rest(platform);
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find(';'), rest.size());
      if (end > 0) candidates.emplace_back(rest.substr(0, end));
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return candidates;
  }
  const auto isSet = [](const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
  };
  const char* session = std::getenv("XDG_SESSION_TYPE");
  const bool waylandSession = session != nullptr && std::string_view(session) == "wayland";
  if (waylandSession && isSet("WAYLAND_DISPLAY")) candidates.emplace_back("wayland");
  if (isSet("DISPLAY")) candidates.emplace_back("xcb");
  if (!waylandSession && isSet("WAYLAND_DISPLAY")) candidates.emplace_back("wayland");
  return candidates;
}

// A client library that the platform plugin itself loads; unloaded again when done.
class TClientLibrary {
 public:
  explicit TClientLibrary(const char* name) : FHandle(dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}
  ~TClientLibrary() {
    if (FHandle != nullptr) dlclose(FHandle);
  }
  TClientLibrary(const TClientLibrary&) = delete;
  TClientLibrary& operator=(const TClientLibrary&) = delete;
  template <typename F>
  F* Function(const char* name) const {
    return FHandle == nullptr ? nullptr : reinterpret_cast<F*>(dlsym(FHandle, name));
  }

 private:
  void* FHandle;
};

// A connection to the X server on DISPLAY, made the way Qt's plugin makes it, authentication
// included (without the client library the plugin cannot load either), and closed when this ends.
class TX11Connection {
 public:
  TX11Connection() {
    const char* display = std::getenv("DISPLAY");
    auto* connect = FXcb.Function<void*(const char*, int*)>("xcb_connect");
    auto* hasError = FXcb.Function<int(void*)>("xcb_connection_has_error");
    FDisconnect = FXcb.Function<void(void*)>("xcb_disconnect");
    if (display == nullptr || *display == '\0' || connect == nullptr || hasError == nullptr ||
        FDisconnect == nullptr)
      return;
    FConnection = connect(display, nullptr);
    FAnswers = hasError(FConnection) == 0;
  }
  ~TX11Connection() {
    if (FConnection != nullptr) FDisconnect(FConnection);  // also frees a failed connection's object
  }
  TX11Connection(const TX11Connection&) = delete;
  TX11Connection& operator=(const TX11Connection&) = delete;
  bool Answers() const { return FAnswers; }

 private:
  TClientLibrary FXcb{"libxcb.so.1"};
  void (*FDisconnect)(void*) = nullptr;
  void* FConnection = nullptr;
  bool FAnswers = false;
};

// Whether WAYLAND_SOCKET names an open socket: the connection that the client was started on. It
// is left to Qt's plugin untouched, for the client library takes it over on connecting (it unsets
// the variable and closes the descriptor on disconnecting).
bool WaylandSocketGiven(std::string_view value) {
  int fd = -1;
  const char* end = value.data() + value.size();
  const auto [parsed, error] = std::from_chars(value.data(), end, fd);
  struct stat status {};
  return error == std::errc() && parsed == end && fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

// Whether a Wayland compositor answers on WAYLAND_DISPLAY (or its default socket), or the client was
// given its connection in WAYLAND_SOCKET.
bool WaylandDisplayAnswers() {
  if (const char* socket = std::getenv("WAYLAND_SOCKET"); socket != nullptr) {
    return WaylandSocketGiven(socket);
  }
  const TClientLibrary wayland("libwayland-client.so.0");
  auto* connect = wayland.Function<void*(const char*)>("wl_display_connect");
  auto* disconnect = wayland.Function<void(void*)>("wl_display_disconnect");
  if (connect == nullptr || disconnect == nullptr) return false;
  void* display = connect(nullptr);
  if (display == nullptr) return false;
  disconnect(display);
  return true;
}

// A plugin file of a platform, with the names it answers to.
struct TPlatformPlugin {
  QString File;
  QStringList Keys;
};
// The platform plugins of each round of Qt's search, in the order in which Qt meets them.
using TPluginRounds = std::vector<std::vector<TPlatformPlugin>>;

// The platform plugins of the folders, in the order in which Qt meets them (each folder in the
// order of its entries), read from their metadata as Qt reads it, without loading them.
std::vector<TPlatformPlugin> PlatformPluginsIn(const QStringList& folders) {
  std::vector<TPlatformPlugin> plugins;
  for (const QString& folder : folders) {
    for (QDirIterator entries(folder, QDir::Files); entries.hasNext();) {
      const QString file = entries.next();
      const QJsonObject data = QPluginLoader(file).metaData();
      if (data.value(QLatin1String("IID")).toString() !=
          QLatin1String("org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3"))
        continue;
      QStringList keys;
      const QJsonObject metaData = data.value(QLatin1String("MetaData")).toObject();
      for (const QJsonValue& key : metaData.value(QLatin1String("Keys")).toArray()) keys << key.toString();
      plugins.push_back({file, keys});
    }
  }
  return plugins;
}

// Where Qt looks for platform plugins when it starts, one list per round of its search. With
// QT_QPA_PLATFORM_PLUGIN_PATH set, it first looks in that folder and in each library path itself;
// then, in any case, in the "platforms" folder of each (that folder first, then QT_PLUGIN_PATH,
// Qt's own plugin folder and the program's folder).
TPluginRounds PlatformPluginRounds() {
  QStringList paths = QCoreApplication::libraryPaths();
  paths << QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
  const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
  TPluginRounds rounds;
  if (!own.isEmpty()) {
    paths.prepend(own);
    rounds.push_back(PlatformPluginsIn(paths));
  }
  QStringList platformFolders;
  for (const QString& path : paths) platformFolders << path + QStringLiteral("/platforms");
  rounds.push_back(PlatformPluginsIn(platformFolders));
  return rounds;
}

// The files that Qt would try for a platform, one per round of its search: the first there that
// answers to the name (as Qt matches names, without regard to case).
QStringList PluginFilesFor(const std::string& platform, const TPluginRounds& rounds) {
  const QString name = QString::fromStdString(platform);
  QStringList files;
  for (const std::vector<TPlatformPlugin>& round : rounds) {
    const auto first = std::find_if(round.begin(), round.end(), [&](const TPlatformPlugin& plugin) {
      return plugin.Keys.contains(name, Qt::CaseInsensitive);
    });
    if (first != round.end()) files << first->File;
  }
  return files;
}

// Whether the plugin loads and is a platform plugin. Qt ends the process on one that does not
// (a library it needs is missing, say), so it is loaded here first; it stays loaded for Qt.
bool PluginLoads(const QString& file) {
  QPluginLoader loader(file);
  const QObject* instance = loader.instance();
  return instance != nullptr && instance->inherits("QPlatformIntegrationPlugin");
}

// Which of the platform entries asked for can show windows. Qt ends the whole process when no
// platform of its list starts, so a platform counts only when a plugin that Qt would try for it
// answers to its name, the display server answers (for the two display servers; other platforms,
// such as offscreen, vnc and framebuffers, need none) and that plugin loads; where Qt would try a
// second plugin after a first one that fails, one that loads is enough.
// The connection made to the X server is held as long as the check: an X server resets itself when
// its last client leaves, and Qt connecting during that reset would end the process as well.
class TDisplayCheck {
 public:
  // The entries that can, as the ';'-separated list for Qt's -platform option; empty when none can.
  std::string ReachablePlatforms() {
    const std::vector<std::string> candidates = PlatformCandidates();
    if (candidates.empty()) return {};  // no plugin folder needs reading
    const TPluginRounds rounds = PlatformPluginRounds();
    std::string reachable;
    for (const std::string& entry : candidates) {
      if (!PlatformAnswers(entry, rounds)) continue;
      if (!reachable.empty()) reachable += ';';
      reachable += entry;
    }
    return reachable;
  }

 private:
  bool PlatformAnswers(const std::string& entry, const TPluginRounds& rounds) {
    std::string plugin = entry.substr(0, entry.find(':'));
    std::transform(plugin.begin(), plugin.end(), plugin.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const QStringList files = PluginFilesFor(plugin, rounds);
    if (files.isEmpty()) return false;
    if (plugin == "xcb" && !X11DisplayAnswers()) return false;
    if (plugin.starts_with("wayland") && !WaylandDisplayAnswers()) return false;
    return std::any_of(files.begin(), files.end(), PluginLoads);
  }
  bool X11DisplayAnswers() {
    if (!FX11) FX11.emplace();
    return FX11->Answers();
  }

  std::optional<TX11Connection> FX11;
};

// The error for no platform that can show windows: the platforms asked for in QT_QPA_PLATFORM are
// named; without it, the display variables are.
std::string NoDisplayError() {
  const char* asked = std::getenv("QT_QPA_PLATFORM");
  if (asked == nullptr || *asked == '\0') return std::string(dialog_strings::SNoDisplay);
  std::string text(dialog_strings::SNoPlatform);
  text.replace(text.find("%s"), 2, asked);
  return text;
}

bool& Started() {
  static bool started = false;
  return started;
}

void LoadTranslations(QCoreApplication& app) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const char* name : {"qtbase_ru", "qt_ru"}) {
    auto translator = std::make_unique<QTranslator>(&app);
    if (translator->load(QLatin1String(name), folder)) {
      QCoreApplication::installTranslator(translator.release());  // owned by the application
      return;
    }
  }
}

// Qt is told to try only the platforms that answered, so that it never meets a display that would
// make it end the process.
QApplication* CreateApplication(const std::string& platforms) {
  // QApplication keeps references to argc and argv for its whole life.
  static std::string platformList;
  platformList = platforms;
  static int argc = 3;
  static char name[] = "tavoeq";
  static char option[] = "-platform";
  static char* argv[] = {name, option, platformList.data(), nullptr};
  // Deliberately never destroyed (see the header); reachable through qApp.
  auto app = std::make_unique<QApplication>(argc, argv);
  LoadTranslations(*app);
  return app.release();
}

// Qt's pending events from inside the driver's pump-everything waits (ProcessMessages, Delay), so
// that windows repaint and Qt's timers and notifiers keep running while the driver waits. Only on
// the application's thread, and not again from inside itself (what it processes may wait and pump
// in turn). The user's input waits in Qt's queue until the driver's operation has returned: a click
// must not start another operation in the middle of this one.
void ProcessQtEvents() {
  const QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || app->thread() != QThread::currentThread()) return;
  static bool inside = false;  // the application's thread only
  if (inside) return;
  const QScopedValueRollback<bool> leave(inside, true);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void EnsureQtApplication() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    if (QCoreApplication::instance() != nullptr)
      throw Exception(std::string(dialog_strings::SNoWidgetApplication));
    TDisplayCheck check;  // holds its display connection until Qt has made its own
    const std::string platforms = check.ReachablePlatforms();
    if (platforms.empty()) throw Exception(NoDisplayError());
    CreateApplication(platforms);
  }
  Started() = true;
  // Qt's widgets live on the application's thread only; anywhere else Qt would abort the process.
  if (QCoreApplication::instance()->thread() != QThread::currentThread())
    throw Exception(std::string(dialog_strings::SWrongThread));
  TReactorBridge::ForThisThread();
  [[maybe_unused]] static const bool pumpRegistered = (SetExtraMessagePump(&ProcessQtEvents), true);
}

bool QtApplicationStarted() { return Started(); }

TReactorBridge::TReactorBridge(QObject* parent)
    : QObject(parent), FNotifier(new QSocketNotifier(ReactorFd(), QSocketNotifier::Read, this)) {
  connect(FNotifier, &QSocketNotifier::activated, this, [] { PumpMessages(); });
}

TReactorBridge& TReactorBridge::ForThisThread() {
  thread_local QPointer<TReactorBridge> bridge;
  if (bridge.isNull()) bridge = new TReactorBridge(QCoreApplication::instance());
  return *bridge;
}

void TReactorBridge::PumpMessages() {
  MSG msg{};
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    try {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    } catch (...) {
      // A handler's error must never cross Qt's event loop; the message counts as handled.
    }
  }
}
