#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace brontide {

constexpr std::size_t kAdtsHeaderSize = 7;
// aac_frame_length is a 13-bit field that counts the header too.
constexpr std::size_t kAdtsMaxFrameLength = 0x1FFF;

// The ADTS sampling_frequency_index of `sampleRate` (exact match among indices 0…11; 7350 Hz is not offered).
[[nodiscard]] std::optional<std::uint8_t> adtsFrequencyIndex(double sampleRate);

// The 7-byte header (MPEG-4, AAC LC, stereo, no CRC, one raw data block) of a frame of `frameLength` bytes.
[[nodiscard]] std::array<std::uint8_t, kAdtsHeaderSize> adtsHeader(std::uint8_t freqIndex, std::size_t frameLength);

}  // namespace brontide
