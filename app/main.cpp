// Brontide's entry: the tray application, `--headless`, and the list commands.

extern "C" {
#include <libavutil/log.h>
}
#include <pipewire/pipewire.h>
#include <signal.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/HeadlessOutput.h"
#include "app/cli/Options.h"
#include "app/cli/SingleInstance.h"
#include "app/wiring/Services.h"
#include "app/wiring/StallProbe.h"
#include "base/Format.h"
#include "linux/avahi/AvahiServiceBrowser.h"
#include "linux/qt/QtCollator.h"
#include "linux/qt/QtMainQueue.h"
#include "linux/secret/SecretServiceKeyring.h"
#include "linux/systemd/JournalLog.h"
#include "speaker_browser/AirPlayRoutes.h"
#include "speaker_browser/SpeakerListing.h"

#ifdef BRONTIDE_HAS_UI
#include "app/ui/AppDelegate.h"
#endif

namespace {

using brontide::cli::Options;

void printLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// SIGINT/SIGTERM arrive on a pipe so that the stop runs on the main thread, not in the handler.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

void onTermination(QObject* context, std::function<void()> handler) {
  if (::pipe2(signalPipe, O_CLOEXEC) != 0) return;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, handler = std::move(handler)] {
    char byte;
    [[maybe_unused]] auto read = ::read(signalPipe[0], &byte, 1);
    notifier->setEnabled(false);
    handler();
  });
}

void initMediaLibraries(int& argc, char** argv) {
  pw_init(&argc, &argv);
  // libavcodec prints statistics each time an encoder closes; only its errors belong in our log.
  av_log_set_level(AV_LOG_ERROR);
}

int listApps(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  initMediaLibraries(argc, argv);
  brontide::app::Services services({.allowAutoStart = false});
  // Escaped like every listing: a name with a TAB or newline in its desktop file stays in its own column.
  using brontide::escapeControlCharacters;
  for (const auto& choice : services.controller().apps())
    printLine(escapeControlCharacters(choice.bundleID) + "\t" + escapeControlCharacters(choice.name));
  return 0;
}

std::chrono::milliseconds waitOf(const Options& options) {
  return std::chrono::milliseconds(std::int64_t(options.waitSeconds * 1000));
}

// A DNS-SD listing: `collect` hands its callback the items, or why there are none; each item is printed with
// `line`. A daemon that does not answer within the wait is an answer too (exit status 1).
template <class Item, class Collect>
int runListing(int argc, char** argv, Collect collect, std::string (*line)(const Item&)) {
  QCoreApplication app(argc, argv);
  brontide::linux::systemd::JournalLog log;
  brontide::linux::qt::QtMainQueue mainQueue;
  brontide::linux::qt::QtCollator collator;
  brontide::linux::avahi::AvahiServiceBrowser browser(mainQueue, log);
  int status = 0;
  collect(browser, mainQueue, collator, log, [&](std::expected<std::vector<Item>, std::string> items) {
    if (!items) {
      std::fprintf(stderr, "brontide: %s\n", items.error().c_str());
      status = 1;
    } else {
      for (const auto& item : *items) printLine(line(item));
    }
    QCoreApplication::quit();
  });
  app.exec();
  return status;
}

int listSpeakers(int argc, char** argv, const Options& options) {
  const auto wait = waitOf(options);
  return runListing<brontide::Speaker>(
      argc, argv,
      [wait](auto& browser, auto& mainQueue, auto& collator, auto&, brontide::SpeakerListingDone done) {
        brontide::collectSpeakers(browser, mainQueue, collator, std::string(), wait, std::move(done), wait);
      },
      brontide::speakerLine);
}

int listRoutes(int argc, char** argv, const Options& options) {
  const auto wait = waitOf(options);
  return runListing<brontide::Route>(
      argc, argv,
      [wait](auto& browser, auto& mainQueue, auto& collator, auto& log,
             std::function<void(std::expected<std::vector<brontide::Route>, std::string>)> done) {
        brontide::collectRoutes(browser, mainQueue, collator, log, wait, std::move(done));
      },
      brontide::routeLine);
}

// Teardown joins the audio threads once the event loop has returned; Services::shutdown() has left them nothing
// to wait for. Should one be stuck inside a library (a wedged audio server, a deadlocked sink), quitting must
// still quit.
int withTeardownLimit(int status) {
  std::thread([status] {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    std::fputs("brontide: teardown still running after 5 s; exiting without it\n", stderr);
    std::_Exit(status);
  }).detach();
  return status;
}

// "route: <name> <state>" for every route whose state changed, and for each new one.
void printRouteChanges(const brontide::AirPlayRoutes& routes, std::map<std::string, std::string>& printed,
                       brontide::cli::HeadlessOutput& output) {
  for (const auto& route : routes.routes()) {
    // Said in words: a person has to act on it.
    const std::string state = route.state == brontide::RouteState::passwordRequired
                                  ? brontide::stateText(route.state)
                                  : std::string(brontide::stateToken(route.state));
    auto& last = printed[route.name];
    if (last == state) continue;
    last = state;
    output.print("route", route.name + " " + state);
  }
}

void applyStreamingOptions(brontide::app::Services& services, const Options& options) {
  auto& controller = services.controller();
  if (options.source) controller.setSelectedBundle(*options.source);
  if (options.volume) controller.setVolume(*options.volume);
  if (options.mute) controller.setMuted(true);
  auto& routes = services.routes();
  for (const auto& [name, volume] : options.speakerVolumes) routes.setVolume(name, volume);
  routes.start();
  routes.choose(options.speakerNames);
}

int runHeadless(int argc, char** argv, const Options& options) {
  auto instance = brontide::cli::SingleInstance::acquire();
  if (!instance) {
    std::fprintf(stderr, "brontide: %s\n", instance.error().c_str());
    return 1;
  }
  QCoreApplication app(argc, argv);
  // The main-thread benchmark's probe, made first so that it also sees the services being built.
  std::optional<brontide::app::StallProbe> stalls;
  if (const char* path = std::getenv("BRONTIDE_STALL_LOG")) stalls.emplace(path);
  initMediaLibraries(argc, argv);
  brontide::app::Services services({.allowAutoStart = false});
  auto& controller = services.controller();
  brontide::cli::HeadlessOutput output(controller, services.mainQueue(), stdout);
  auto& routes = services.routes();
  std::map<std::string, std::string> printedRoutes;
  routes.changed.connect([&] { printRouteChanges(routes, printedRoutes, output); });
  applyStreamingOptions(services, options);
  // A name the network does not offer is told once the search has had its time; it may still appear later.
  services.mainQueue().postDelayed(waitOf(options), [&routes] {
    if (!routes.browsing()) std::fprintf(stderr, "brontide: %s\n", brontide::kNoDnsSdDaemon);
    for (const auto& notice : routes.unfoundNotices()) std::fprintf(stderr, "brontide: %s\n", notice.c_str());
  });
  onTermination(&app, [&services] { services.shutdown([] { QCoreApplication::quit(); }); });
  controller.start();
  return withTeardownLimit(app.exec());
}

// The panel's "Abrir al iniciar sesión" switch, without starting anything else.
int setLaunchAtLogin(bool on) {
  brontide::linux::xdg::XdgAutostartLoginItems items(brontide::linux::xdg::XdgDirs::fromEnvironment());
  auto result = on ? items.registerMainApp() : items.unregisterMainApp();
  if (!result) {
    std::fprintf(stderr, "brontide: %s\n", result.error().c_str());
    return 1;
  }
  return 0;
}

// One line from standard input, not shown while typed at a terminal.
std::string readPassword() {
  termios saved{};
  const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    std::fputs("Contraseña: ", stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) line += static_cast<char>(c);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

// --set-password and --forget-password: the keyring's answer on GLib's own loop, no event loop of Qt's.
int changePassword(const Options& options) {
  std::string password;
  if (options.mode == Options::Mode::setPassword) {
    password = readPassword();
    if (password.empty()) {
      std::fputs("brontide: la contraseña está vacía; no se guarda nada.\n", stderr);
      return 2;
    }
  }
  brontide::linux::secret::SecretServiceKeyring keyring;
  int status = -1;
  const auto done = [&status](bool reached) { status = reached ? 0 : 1; };
  const brontide::ReceiverKey key{.receiver = {}, .name = options.receiverName};
  if (password.empty()) keyring.forget(key, done);
  else keyring.store(key, password, done);
  // A locked keyring waits for its unlock prompt, which a session without a desktop never shows.
  constexpr guint kLimitSeconds = 60;
  bool late = false;
  const guint limit = g_timeout_add_seconds(
      kLimitSeconds,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &late);
  while (status < 0 && !late) g_main_context_iteration(nullptr, TRUE);
  if (late) {
    std::fprintf(stderr, "brontide: el llavero no ha respondido en %u s (¿está bloqueado?); no se ha cambiado nada.\n",
                 kLimitSeconds);
    return 1;
  }
  g_source_remove(limit);
  if (status != 0)
    std::fputs("brontide: no hay llavero: ningún servicio de contraseñas (Secret Service) responde.\n", stderr);
  return status;
}

// A second launch of the tray application shows the running one's panel instead.
bool askRunningInstanceToShowPanel() {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(brontide::cli::SingleInstance::socketPath()));
  if (!socket.waitForConnected(1000)) return false;
  socket.write("show\n");
  socket.waitForBytesWritten(1000);
  return true;
}

int runTray(int argc, char** argv, const Options& options) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("brontide"));
  QApplication::setApplicationDisplayName(QStringLiteral("Brontide"));
  QApplication::setQuitOnLastWindowClosed(false);
  auto instance = brontide::cli::SingleInstance::acquire();
  if (!instance) {
    if (askRunningInstanceToShowPanel()) return 0;
    std::fprintf(stderr, "brontide: %s\n", instance.error().c_str());
    return 1;
  }
  initMediaLibraries(argc, argv);
  brontide::app::Services services({.allowAutoStart = true});
  // An entry left by a build folder that has since moved, or by an older install, would start nothing.
  if (auto repaired = services.loginItems().repairMovedProgram(); !repaired) {
    services.log().notice("login item: " + repaired.error());
  }
  applyStreamingOptions(services, options);
#ifdef BRONTIDE_HAS_UI
  brontide::ui::AppDelegate delegate(services.sharedController(), services.speakers(), services.workspace(),
                                     &services.routes());
  // A write may have failed already, for the command line's own choices.
  const auto showSettingsProblem = [&] {
    if (!services.settingsProblem().empty())
      delegate.controllerModel().showSettingsProblem(QString::fromStdString(services.settingsProblem()));
  };
  showSettingsProblem();
  services.settingsProblemFound.connect(showSettingsProblem);
  QLocalServer pings;
  const QString socketPath = QString::fromStdString(brontide::cli::SingleInstance::socketPath());
  QLocalServer::removeServer(socketPath);  // we hold the lock: any socket there is stale
  QObject::connect(&pings, &QLocalServer::newConnection, &app, [&] {
    while (QLocalSocket* peer = pings.nextPendingConnection()) {
      QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      delegate.showPanel();
    }
  });
  if (!pings.listen(socketPath)) services.log().notice("panel requests: cannot listen on " + socketPath.toStdString());
  const auto shutdown = [&services] { services.shutdown([] { QCoreApplication::quit(); }); };
  onTermination(&app, shutdown);
  delegate.setQuitHandler(shutdown);
  delegate.launch();
  return withTeardownLimit(app.exec());
#else
  std::fprintf(stderr, "brontide: esta compilación no incluye la interfaz de la bandeja; usa --headless.\n");
  return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  auto options = brontide::cli::parseOptions(arguments);
  if (!options) {
    std::fprintf(stderr, "brontide: %s\n", options.error().c_str());
    return 2;
  }
  // Our stdout is a line protocol for scripts: make sure a closed reader cannot kill us mid-stop.
  ::signal(SIGPIPE, SIG_IGN);
  switch (options->mode) {
    case Options::Mode::help:
      std::fputs(brontide::cli::usage().c_str(), stdout);
      return 0;
    case Options::Mode::apps:
      return listApps(argc, argv);
    case Options::Mode::speakers:
      return listSpeakers(argc, argv, *options);
    case Options::Mode::routes:
      return listRoutes(argc, argv, *options);
    case Options::Mode::launchAtLogin:
      return setLaunchAtLogin(options->launchAtLogin);
    case Options::Mode::setPassword:
    case Options::Mode::forgetPassword:
      return changePassword(*options);
    case Options::Mode::headless:
      return runHeadless(argc, argv, *options);
    case Options::Mode::tray:
      return runTray(argc, argv, *options);
  }
  return 1;
}
