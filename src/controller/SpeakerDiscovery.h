#pragma once

namespace brontide {

// What the controller needs of the speaker browser: starting it once at construction.
class SpeakerDiscovery {
 public:
  virtual ~SpeakerDiscovery() = default;
  virtual void start() = 0;
};

}  // namespace brontide
