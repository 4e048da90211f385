#pragma once

#include "controller/SpeakerDiscovery.h"

namespace brontide::fakes {

class FakeSpeakerDiscovery final : public SpeakerDiscovery {
 public:
  void start() override { ++starts; }
  int starts = 0;
};

}  // namespace brontide::fakes
