// Taps the audio clients whose identity begins with argv[1] and runs until killed; prints "started" once
// the tap runs. Used to check that a killed Brontide gives the application back.
#include <pipewire/pipewire.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "linux/pipewire/PipeWireCapture.h"

namespace {
struct StderrLog final : brontide::Log {
  void notice(const std::string& line) override { std::cerr << line << '\n'; }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pw_init(&argc, &argv);
  StderrLog log;
  brontide::linux::pipewire::PipeWireCapture capture(log);
  auto objects = capture.audioProcessObjects(argv[1]);
  if (objects.empty()) return 3;
  auto tap = capture.makeTap(objects, false);
  auto started = tap->start(
      [](const brontide::AudioStreamBasicDescription&) -> std::expected<brontide::TapSink, brontide::Error> {
        return brontide::TapSink([](brontide::SampleBlock) {});
      });
  if (!started) {
    std::cerr << brontide::logText(started.error()) << '\n';
    return 4;
  }
  std::printf("started\n");
  std::fflush(stdout);
  for (;;) ::pause();
}
