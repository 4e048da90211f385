#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brontide::e2e {

// Splits a byte stream into ADTS frames (syncword 0xFFF, 13-bit frame length) as the bytes arrive.
class AdtsSplitter {
 public:
  void append(std::string_view bytes) { pending_.append(bytes); }
  // The next whole frame; nothing when more bytes are needed or the stream lost its framing.
  std::optional<std::string> next() {
    if (pending_.size() < 7) return std::nullopt;
    const auto* b = reinterpret_cast<const std::uint8_t*>(pending_.data());
    if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) {
      broken_ = true;
      return std::nullopt;
    }
    const std::size_t length = (std::size_t(b[3] & 0x03) << 11) | (std::size_t(b[4]) << 3) | (b[5] >> 5);
    if (length < 7) {
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

// libavcodec's AAC decoder over whole ADTS frames; keeps the left channel of what it decodes.
class AacDecoder {
 public:
  AacDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    context_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (context_ && avcodec_open2(context_, codec, nullptr) < 0) avcodec_free_context(&context_);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
  }
  ~AacDecoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
  }
  AacDecoder(const AacDecoder&) = delete;
  AacDecoder& operator=(const AacDecoder&) = delete;

  // Decodes one ADTS frame; returns its left-channel samples (also appended to left()).
  std::vector<float> decode(const std::string& adtsFrame) {
    std::vector<float> out;
    if (!context_) return out;
    packet_->data = reinterpret_cast<std::uint8_t*>(const_cast<char*>(adtsFrame.data()));
    packet_->size = int(adtsFrame.size());
    if (avcodec_send_packet(context_, packet_) < 0) {
      ++errors_;
      return out;
    }
    while (avcodec_receive_frame(context_, frame_) == 0) {
      sampleRate_ = frame_->sample_rate;
      channels_ = frame_->ch_layout.nb_channels;
      if (frame_->format == AV_SAMPLE_FMT_FLTP) {
        const auto* left = reinterpret_cast<const float*>(frame_->extended_data[0]);
        out.insert(out.end(), left, left + frame_->nb_samples);
      } else {
        ++errors_;
      }
    }
    left_.insert(left_.end(), out.begin(), out.end());
    return out;
  }
  // Splits and decodes a whole capture of the stream's bytes.
  void decodeAll(std::string_view bytes) {
    splitter_.append(bytes);
    while (auto frame = splitter_.next()) decode(*frame);
  }

  [[nodiscard]] bool ready() const { return context_ != nullptr; }
  [[nodiscard]] const std::vector<float>& left() const { return left_; }
  [[nodiscard]] int sampleRate() const { return sampleRate_; }
  [[nodiscard]] int channels() const { return channels_; }
  [[nodiscard]] int errors() const { return errors_ + (splitter_.broken() ? 1 : 0); }

 private:
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AdtsSplitter splitter_;
  std::vector<float> left_;
  int sampleRate_ = 0;
  int channels_ = 0;
  int errors_ = 0;
};

}  // namespace brontide::e2e
