#pragma once

#include <cstddef>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "base/AudioFormat.h"
#include "controller/Capture.h"

namespace brontide {

// Turns one IO cycle's input into interleaved stereo floats for the sink. Runs on "brontide.tap.io";
// allocates only when a cycle brings more frames than the scratch holds.
class TapIOProc {
 public:
  static constexpr std::size_t kScratchFloats = 16384;

  TapIOProc(const AudioStreamBasicDescription& format, TapSink sink);

  void operator()(AudioBufferList input);

  [[nodiscard]] std::size_t scratchSize() const { return scratch_.size(); }

 private:
  bool nonInterleaved_;
  std::uint32_t channels_;
  TapSink sink_;
  std::vector<float> scratch_;
};

}  // namespace brontide
