#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linux/ffmpeg/Handles.h"

namespace brontide::testsupport {

// Splits a byte stream into ADTS frames (syncword 0xFFF, 13-bit frame length) as the bytes arrive.
class AdtsSplitter {
 public:
  void append(std::string_view bytes) { pending_.append(bytes); }
  // The next whole frame; nothing when more bytes are needed or the stream lost its framing.
  std::optional<std::string> next() {
    if (pending_.size() < 7) return std::nullopt;
    const auto* b = reinterpret_cast<const std::uint8_t*>(pending_.data());
    const std::size_t length = (std::size_t(b[3] & 0x03) << 11) | (std::size_t(b[4]) << 3) | (b[5] >> 5);
    if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0 || length < 7) {
      broken_ = true;
      return std::nullopt;
    }
    if (pending_.size() < length) return std::nullopt;
    std::string frame = pending_.substr(0, length);
    pending_.erase(0, length);
    return frame;
  }
  [[nodiscard]] bool broken() const { return broken_; }

 private:
  std::string pending_;
  bool broken_ = false;
};

// libavcodec's AAC decoder over ADTS frames; keeps every channel it decodes, interleaved.
class AacDecoder {
 public:
  AacDecoder() : context_(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_AAC))) {
    if (context_ && avcodec_open2(context_.get(), nullptr, nullptr) < 0) context_.reset();
  }

  // Decodes one ADTS frame; returns its left channel.
  std::vector<float> decode(const std::string& adtsFrame) {
    std::vector<float> left;
    if (!context_) return left;
    // A packet of its own: the decoder may read past the frame into the padding av_new_packet adds.
    if (av_new_packet(packet_.get(), int(adtsFrame.size())) < 0) return left;
    std::copy(adtsFrame.begin(), adtsFrame.end(), packet_->data);
    if (avcodec_send_packet(context_.get(), packet_.get()) < 0) ++errors_;
    av_packet_unref(packet_.get());
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
      sampleRate_ = frame_->sample_rate;
      channels_ = frame_->ch_layout.nb_channels;
      if (frame_->format != AV_SAMPLE_FMT_FLTP) ++errors_;
      const auto planes = reinterpret_cast<const float* const*>(frame_->extended_data);
      for (int i = 0; frame_->format == AV_SAMPLE_FMT_FLTP && i < frame_->nb_samples; ++i) {
        left.push_back(planes[0][i]);
        for (int c = 0; c < channels_; ++c) interleaved_.push_back(planes[c][i]);
      }
    }
    return left;
  }
  // Splits and decodes the stream's bytes as they arrive; returns their left channel.
  std::vector<float> decodeAll(std::string_view bytes) {
    splitter_.append(bytes);
    std::vector<float> left;
    while (auto frame = splitter_.next()) {
      const auto more = decode(*frame);
      left.insert(left.end(), more.begin(), more.end());
    }
    return left;
  }

  [[nodiscard]] bool ready() const { return context_ != nullptr; }
  [[nodiscard]] const std::vector<float>& interleaved() const { return interleaved_; }
  [[nodiscard]] int sampleRate() const { return sampleRate_; }
  [[nodiscard]] int channels() const { return channels_; }
  [[nodiscard]] int errors() const { return errors_ + (splitter_.broken() ? 1 : 0); }

 private:
  linux::ffmpeg::CodecContext context_;
  linux::ffmpeg::Packet packet_{av_packet_alloc()};
  linux::ffmpeg::Frame frame_{av_frame_alloc()};
  AdtsSplitter splitter_;
  std::vector<float> interleaved_;
  int sampleRate_ = 0;
  int channels_ = 0;
  int errors_ = 0;
};

}  // namespace brontide::testsupport
