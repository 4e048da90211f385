#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fakes/ControllerFakes.h"

namespace brontide {

using namespace std::chrono_literals;

// A controller on fakes and a virtual clock; the fakes are a base so they outlive it.
class ControllerTest : public ::testing::Test, protected fakes::ControllerFakes {
 protected:
  Controller& make(bool allowAutoStart = true) {
    controller.reset();
    controller = makeController(allowAutoStart);
    controller->changed.connect([this](Controller::Field field) { changes.push_back(field); });
    return *controller;
  }
  // Started with the server ready on `port`, which runs the first attach.
  Controller& startReady(std::uint16_t port = 50123) {
    if (!controller) make();
    controller->start();
    servers.latest().ready(port);
    return *controller;
  }
  void addSource(AudioObjectID id, std::string bundleID = Controller::kDefaultSource) {
    capture.processes.push_back({id, std::move(bundleID)});
  }
  // Interleaved stereo silence with `value` at sample 0.
  static std::vector<float> blockWithPeak(float value) {
    std::vector<float> samples(512, 0.0f);
    samples[0] = value;
    return samples;
  }
  bool deliver(const std::vector<float>& samples) {
    return capture.taps.back()->deliver(SampleBlock{samples.data(), samples.size()});
  }
  void ticks(int count) { queue.advance(50ms * count); }
  [[nodiscard]] int changesOf(Controller::Field field) const {
    return static_cast<int>(std::ranges::count(changes, field));
  }

  std::vector<Controller::Field> changes;
  std::shared_ptr<Controller> controller;
};

}  // namespace brontide
