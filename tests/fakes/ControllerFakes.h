#pragma once

#include <memory>

#include "controller/Controller.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeEncoder.h"
#include "fakes/FakeLoginItems.h"
#include "fakes/FakePlayer.h"
#include "fakes/FakeServer.h"
#include "fakes/FakeSpeakerDiscovery.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/MemoryPreferences.h"
#include "fakes/RecordingLog.h"
#include "fakes/SimpleCollator.h"
#include "fakes/VirtualMainQueue.h"

namespace brontide::fakes {

// Every port the controller calls, faked, on a virtual clock. Inherit it (or declare it first) so the fakes
// outlive the controller.
struct ControllerFakes {
  std::shared_ptr<Controller> makeController(bool allowAutoStart = true) {
    return makeController(preferences, allowAutoStart);
  }
  std::shared_ptr<Controller> makeController(Preferences& settings, bool allowAutoStart = true) {
    return Controller::create(Controller::Dependencies{queue, settings, log, collator, workspace, loginItems, player,
                                                       capture, discovery, servers.make(), encoders.make(),
                                                       allowAutoStart});
  }

  VirtualMainQueue queue;
  MemoryPreferences preferences;
  RecordingLog log;
  SimpleCollator collator;
  FakeWorkspace workspace;
  FakeLoginItems loginItems;
  FakePlayer player;
  FakeCapture capture;
  FakeSpeakerDiscovery discovery;
  FakeServerFactory servers;
  FakeEncoderFactory encoders;
};

}  // namespace brontide::fakes
