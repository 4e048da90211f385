#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace brontide::testsupport {

// Interleaved stereo like music: partials plus noise under a slow envelope, so an encoder has real work.
inline std::vector<float> musicLike(double rate, std::size_t frames) {
  std::vector<float> samples(frames * 2);
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 0.03f);
  constexpr double kTau = 2 * std::numbers::pi;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    const double envelope = 0.6 + 0.4 * std::sin(kTau * 0.7 * t);
    double left = 0, right = 0;
    for (const auto& [frequency, level] : {std::pair{110.0, 0.20}, {220.0, 0.12}, {330.0, 0.08}, {440.0, 0.10},
                                           {660.0, 0.05}, {1320.0, 0.03}, {2640.0, 0.015}}) {
      left += level * std::sin(kTau * frequency * t);
      right += level * std::sin(kTau * frequency * 1.005 * t + 0.3);
    }
    samples[2 * i] = float(envelope * left) + noise(random);
    samples[2 * i + 1] = float(envelope * right) + noise(random);
  }
  return samples;
}

}  // namespace brontide::testsupport
