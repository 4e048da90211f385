#include "audio_tap/TapIOProc.h"

#include <algorithm>

namespace brontide {

TapIOProc::TapIOProc(const AudioStreamBasicDescription& format, TapSink sink)
    : nonInterleaved_((format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0),
      channels_(format.mChannelsPerFrame),
      sink_(std::move(sink)),
      scratch_(kScratchFloats, 0.0f) {}

void TapIOProc::operator()(AudioBufferList input) {
  if (input.empty() || input[0].data == nullptr) return;
  const AudioBuffer& first = input[0];
  const auto* left = static_cast<const float*>(first.data);
  if (!nonInterleaved_ && channels_ == 2) {
    sink_(SampleBlock{left, first.dataByteSize / sizeof(float)});
    return;
  }
  const std::size_t stride = nonInterleaved_ ? 1 : std::max<std::uint32_t>(channels_, 1);
  const std::size_t frames = first.dataByteSize / (sizeof(float) * stride);
  if (scratch_.size() < 2 * frames) scratch_.assign(2 * frames, 0.0f);
  float* out = scratch_.data();
  if (nonInterleaved_) {
    // A missing or shorter second buffer gives its frames the left sample rather than reading past it.
    const float* right = nullptr;
    std::size_t rightFrames = 0;
    if (input.size() >= 2 && input[1].data != nullptr) {
      right = static_cast<const float*>(input[1].data);
      rightFrames = input[1].dataByteSize / sizeof(float);
    }
    for (std::size_t i = 0; i < frames; ++i) {
      out[2 * i] = left[i];
      out[2 * i + 1] = i < rightFrames ? right[i] : left[i];
    }
  } else {
    for (std::size_t i = 0; i < frames; ++i) {
      out[2 * i] = left[i * stride];
      out[2 * i + 1] = stride >= 2 ? left[i * stride + 1] : left[i * stride];
    }
  }
  sink_(SampleBlock{out, 2 * frames});
}

}  // namespace brontide
