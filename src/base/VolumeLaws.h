#pragma once

#include <algorithm>

// How a volume slider's position (0…1) becomes sound. Every caller takes the law from here.
namespace brontide::volume {

// A position outside the slider (a stored "-1", "3") must not turn into a louder gain: -1 squared is 1.
// NaN counts as 0.
[[nodiscard]] constexpr double clampPosition(double v) { return v >= 0 ? std::min(v, 1.0) : 0.0; }

// The common volume's gain, applied to the captured samples before encoding.
[[nodiscard]] constexpr float commonGain(double v) {
  const double p = clampPosition(v);
  return static_cast<float>(p * p);
}

// A receiver's slider as the raop sink's channel volume: cubic, as desktop volume sliders map their position to
// the software gain. A sink that keeps the volume applies it to the samples.
[[nodiscard]] constexpr float speakerChannelVolume(double v) {
  const double p = clampPosition(v);
  return static_cast<float>(p * p * p);
}

// What a sink that sends the volume (PipeWire 1.x) tells the receiver for that channel volume: it takes the cube
// root back, 30·v − 30 dB, and mutes (−144 dB) at 0 rather than sending −30.
inline constexpr double kAirPlayMute = -144.0;
[[nodiscard]] constexpr double airPlayVolumeDb(double v) {
  const double p = clampPosition(v);
  return p == 0 ? kAirPlayMute : 30 * p - 30;
}

}  // namespace brontide::volume
