#include "aac_encoder/Adts.h"

namespace brontide {

namespace {
constexpr std::array<double, 12> kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000,
                                                 24000, 22050, 16000, 12000, 11025, 8000};
}  // namespace

std::optional<std::uint8_t> adtsFrequencyIndex(double sampleRate) {
  for (std::size_t i = 0; i < kSampleRates.size(); ++i) {
    if (kSampleRates[i] == sampleRate) return std::uint8_t(i);
  }
  return std::nullopt;
}

std::array<std::uint8_t, kAdtsHeaderSize> adtsHeader(std::uint8_t freqIndex, std::size_t frameLength) {
  const auto f = std::uint32_t(frameLength);
  return {0xFF,
          0xF1,
          std::uint8_t(0x40 | (freqIndex << 2)),
          std::uint8_t(0x80 | ((f >> 11) & 0x03)),
          std::uint8_t((f >> 3) & 0xFF),
          std::uint8_t(((f & 0x07) << 5) | 0x1F),
          0xFC};
}

}  // namespace brontide
