// Prints what the tray application costs while it streams a 440 Hz tone: CPU (share of one core), RSS (steady and
// peak) and the frames the panel draws a second, with a tray host (trayer) and the panel closed, open, and closed
// again; with no tray host, where the panel is the window and stays open; and `--headless`. Last, a bare Qt Quick
// window of the panel's width, changing 25 times a second, still, and shown then released: the floor Qt Quick on
// llvmpipe sets under the panel.
// Runs in its own Xvfb (1280x800, Mesa's llvmpipe through OpenGL) and a private PipeWire session; the figures move
// with the machine's other load, so run it a few times. An argument names another brontide executable to measure,
// an older build for instance.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "../ProcessFigures.h"
#include "e2e/HeadlessBrontide.h"
#include "support/AudioSession.h"
#include "support/Eventually.h"

namespace {

using namespace std::chrono_literals;
using namespace brontide::bench;
using brontide::testsupport::ChildProcess;
using brontide::testsupport::runCommand;
using Clock = std::chrono::steady_clock;

constexpr auto kSettle = 3s;
constexpr auto kMeasure = 10s;
constexpr const char* kSource = "org.example.tone440";

// Frames Qt Quick reported drawing so far (QSG_RENDER_TIMING writes a line for each).
long framesIn(const std::string& log) {
  std::ifstream in(log);
  long frames = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("frame rendered in") != std::string::npos) ++frames;
  return frames;
}

struct Figures {
  double cpu = 0, rss = 0, peak = 0, fps = -1;
};

// Watches `pid` for kMeasure: CPU share, RSS at the end, VmHWM (the process's peak so far) and, with a log,
// frames a second.
Figures measure(pid_t pid, const std::string& log = {}) {
  std::this_thread::sleep_for(kSettle);
  const long framesBefore = log.empty() ? 0 : framesIn(log);
  const double cpuBefore = cpuSeconds(pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(kMeasure);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  Figures f;
  f.cpu = 100 * (cpuSeconds(pid) - cpuBefore) / wall;
  f.rss = statusMiB(pid, "VmRSS");
  f.peak = statusMiB(pid, "VmHWM");
  if (!log.empty()) f.fps = double(framesIn(log) - framesBefore) / wall;
  return f;
}

void print(const char* what, const Figures& f) {
  std::printf("%-44s %6.1f %%  %7.1f MiB  %7.1f MiB", what, f.cpu, f.rss, f.peak);
  if (f.fps >= 0) std::printf("  %6.1f", f.fps);
  std::printf("\n");
}

// The tray application with its standard error in `log`, so the frames can be counted.
std::unique_ptr<ChildProcess> startTray(const std::string& executable, const std::string& log) {
  return std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" 2>>\"$1\"", executable, log},
                                        false, std::map<std::string, std::string>{{"QSG_RENDER_TIMING", "1"}});
}

bool live() {
  return brontide::testsupport::eventually([] { return brontide::testsupport::AudioSession::nodeState("brontide_tap") == "running"; },
                                           20s);
}

// The first mapped window whose class is `name`; empty when there is none.
std::string windowOf(const std::string& name) {
  auto id = runCommand("xdotool search --onlyvisible --class '" + name + "' 2>/dev/null | head -1");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const std::string executable = argc > 1 ? argv[1] : BRONTIDE_EXECUTABLE;
  // Its own display, so neither the tray host nor the panel meets another program's windows.
  ChildProcess xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, true);
  const auto display = xvfb.readLine(10s);
  if (!display || display->empty()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  ::setenv("DISPLAY", (":" + *display).c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::unsetenv("WAYLAND_DISPLAY");

  brontide::testsupport::AudioSession session(false);
  // Onboarded, starting at launch on the tone: the panel opens straight to the live state.
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::create_directories(config + "/brontide");
  std::ofstream(config + "/brontide/brontide.conf")
      << "[General]\nonboarded=true\nautoStart=true\nsourceBundle=" << kSource << "\n";
  ChildProcess source({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  if (source.readLine() != "playing") {
    std::fprintf(stderr, "the tone source did not start\n");
    return 1;
  }
  const std::string log = session.dir() + "/brontide-stderr.log";

  std::printf("panel: brontide streaming a 440 Hz tone, Xvfb 1280x800 (OpenGL on llvmpipe); settle %lld s, "
              "measure %lld s\n",
              static_cast<long long>(kSettle.count()), static_cast<long long>(kMeasure.count()));
  std::printf("%-44s %8s  %11s  %11s  %6s\n", "", "CPU", "RSS", "peak RSS", "fps");

  {
    ChildProcess trayer({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
    if (!brontide::testsupport::eventually([] { return !windowOf("trayer").empty(); }, 10s)) {
      std::fprintf(stderr, "trayer did not start\n");
      return 1;
    }
    auto tray = startTray(executable, log);
    if (!live()) {
      std::fprintf(stderr, "brontide (tray) did not go live\n");
      return 1;
    }
    print("tray host, panel never opened", measure(tray->pid(), log));
    // A second launch asks the running one for its panel.
    runCommand("'" + executable + "' >/dev/null 2>&1");
    print("tray host, panel open", measure(tray->pid(), log));
    // Focus elsewhere closes the panel, like a click outside it.
    runCommand("xdotool windowfocus " + windowOf("trayer") + " 2>/dev/null");
    print("tray host, panel closed again", measure(tray->pid(), log));
  }
  {
    auto window = startTray(executable, log);
    if (!live()) {
      std::fprintf(stderr, "brontide (no tray host) did not go live\n");
      return 1;
    }
    print("no tray host, panel open", measure(window->pid(), log));
  }
  {
    brontide::e2e::HeadlessBrontide headless(executable, {"--source", kSource});
    if (!headless.waitForLine("state: En directo", 20s)) {
      std::fprintf(stderr, "brontide --headless did not go live\n");
      return 1;
    }
    print("--headless", measure(headless.pid()));
  }
  // The floor under the panel's figures: a bare Qt Quick window on the same display, no sound at all.
  for (const char* mode : {"animate", "still", "closed"}) {
    auto floor = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>>\"$2\"", QUICK_FLOOR, mode, log}, false,
        std::map<std::string, std::string>{{"QSG_RENDER_TIMING", "1"}});
    const std::string_view m(mode);
    print(m == "animate" ? "bare Qt Quick window, 25 changes/s"
          : m == "still" ? "bare Qt Quick window, still"
                         : "bare Qt Quick window, shown then released",
          measure(floor->pid(), log));
  }
  return 0;
}
