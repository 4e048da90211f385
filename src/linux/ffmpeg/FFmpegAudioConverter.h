#pragma once

#include "aac_encoder/AudioConverter.h"

namespace brontide::linux::ffmpeg {

// Makes AAC-LC converters on libavcodec's native "aac" encoder: interleaved stereo float in, raw AAC packets
// of 1024 frames out (no global header: the caller frames them). Registers nothing global; any thread.
class FFmpegAudioConverterFactory final : public AudioConverterFactory {
 public:
  [[nodiscard]] std::expected<std::unique_ptr<AudioConverter>, Error> create(
      const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output) override;
};

}  // namespace brontide::linux::ffmpeg
