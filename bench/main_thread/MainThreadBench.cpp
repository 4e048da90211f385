// Prints the longest stall of `brontide --headless`'s main thread in each phase: start (launch to live), a
// receiver chosen (until it plays), and quit (SIGTERM to exit, teardown after the event loop included), and how
// long quitting takes. The executable's BRONTIDE_STALL_LOG probe records every stall over 20 ms. Needs
// `scripts/airplay-network up`.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/HeadlessBrontide.h"
#include "linux/avahi/Rig.h"
#include "support/AudioSession.h"

namespace {

using namespace std::chrono_literals;
using brontide::e2e::Clock;
using brontide::e2e::HeadlessBrontide;

double seconds(Clock::time_point at) { return std::chrono::duration<double>(at.time_since_epoch()).count(); }

struct Stall {
  double ms = 0;
  double at = 0;  // when it ended, monotonic seconds
};

}  // namespace

int main() {
  ::signal(SIGCHLD, SIG_DFL);
  brontide::rig::useNetwork();
  brontide::rig::command("start-receiver Terraza");
  brontide::testsupport::AudioSession session(false);
  brontide::testsupport::ChildProcess tone({TONE_SOURCE, "org.example.bench", "Tono", "440"}, true);
  if (tone.readLine() != "playing") return 1;
  const std::string log = session.dir() + "/stalls.log";

  const double launched = seconds(Clock::now());
  double live = 0, playing = 0, terminated = 0, exited = 0;
  {
    HeadlessBrontide app(BRONTIDE_EXECUTABLE, {"--source", "org.example.bench", "--speaker", "Terraza"},
                         {{"GSETTINGS_BACKEND", "memory"}, {"BRONTIDE_STALL_LOG", log}});
    if (!app.waitForLine("state: En directo", 20s)) return 1;
    live = seconds(Clock::now());
    if (!app.waitForLine("route: Terraza playing", 20s)) return 1;
    playing = seconds(Clock::now());
    std::this_thread::sleep_for(3s);
    terminated = seconds(Clock::now());
    if (app.terminate() != 0) std::fprintf(stderr, "brontide did not exit cleanly\n");
    exited = seconds(Clock::now());
  }

  std::vector<Stall> stalls;
  double quit = 0;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string what, atWord;
    Stall s;
    if (!(fields >> what >> s.ms >> atWord >> s.at)) continue;
    if (what == "quit") quit = s.at;
    else stalls.push_back(s);
  }
  const auto longest = [&](double from, double to) {
    double worst = 0;
    for (const auto& s : stalls)
      if (s.at > from && s.at <= to) worst = std::max(worst, s.ms);
    return worst;
  };
  std::printf("main-thread benchmark (brontide --headless, one tone source, one receiver)\n");
  std::printf("  start: longest stall, launch to live           %7.0f ms\n", longest(launched, live));
  std::printf("  receiver chosen: longest stall, to playing +3 s %7.0f ms\n", longest(live, terminated));
  std::printf("  quit: longest stall, SIGTERM to exit          %7.0f ms\n", longest(terminated, exited));
  std::printf("  quit: SIGTERM to the end of teardown           %7.0f ms\n", quit > 0 ? (quit - terminated) * 1000 : -1.0);
  std::printf("  quit: SIGTERM to exit (wall)                   %7.0f ms\n", (exited - terminated) * 1000);
  (void)playing;
  return 0;
}
