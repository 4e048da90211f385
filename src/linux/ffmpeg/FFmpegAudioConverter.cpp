#include "linux/ffmpeg/FFmpegAudioConverter.h"

#include <cmath>
#include <cstring>

#include "linux/ffmpeg/Handles.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
}

namespace brontide::linux::ffmpeg {

namespace {

using ffmpeg::CodecContext;
using ffmpeg::Frame;
using ffmpeg::Packet;

constexpr int kChannels = 2;
constexpr int kFramesPerPacket = 1024;
// An AAC raw data block holds at most 6144 bits per channel.
constexpr std::uint32_t kMaxPacketBytes = 6144 / 8 * kChannels;

bool isStereoFloatPcm(const AudioStreamBasicDescription& d) {
  return d.mFormatID == kAudioFormatLinearPCM && (d.mFormatFlags & kAudioFormatFlagIsFloat) != 0 &&
         (d.mFormatFlags & kAudioFormatFlagIsPacked) != 0 && (d.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0 &&
         d.mChannelsPerFrame == kChannels && d.mBitsPerChannel == 32 && d.mBytesPerFrame == kChannels * 4 &&
         d.mBytesPerPacket == kChannels * 4 && d.mFramesPerPacket == 1;
}

bool isStereoAacLc(const AudioStreamBasicDescription& d) {
  return d.mFormatID == kAudioFormatMPEG4AAC && d.mFormatFlags == kMPEG4Object_AAC_LC &&
         d.mChannelsPerFrame == kChannels && d.mFramesPerPacket == kFramesPerPacket;
}

std::expected<CodecContext, int> openEncoder(int sampleRate, std::int64_t bitRate) {
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (codec == nullptr) return std::unexpected(AVERROR_ENCODER_NOT_FOUND);
  CodecContext context(avcodec_alloc_context3(codec));
  if (!context) return std::unexpected(AVERROR(ENOMEM));
  context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  context->sample_rate = sampleRate;
  av_channel_layout_default(&context->ch_layout, kChannels);
  context->profile = FF_PROFILE_AAC_LOW;
  context->time_base = AVRational{1, sampleRate};
  if (bitRate > 0) context->bit_rate = bitRate;
  if (const int status = avcodec_open2(context.get(), codec, nullptr); status < 0) return std::unexpected(status);
  if (context->frame_size != kFramesPerPacket) return std::unexpected(AVERROR(EINVAL));
  return context;
}

// Encoding runs on the caller's thread. Input is gathered into one planar frame of `frame_size` samples;
// libavcodec answers EAGAIN until it has enough look-ahead, then gives one packet per frame.
class FFmpegAudioConverter final : public AudioConverter {
 public:
  FFmpegAudioConverter(CodecContext context, Frame staging, Packet packet)
      : context_(std::move(context)), staging_(std::move(staging)), packet_(std::move(packet)) {}

  std::int32_t setBitRate(std::uint32_t bitsPerSecond) override {
    if (context_->bit_rate == std::int64_t(bitsPerSecond)) return 0;
    // libavcodec fixes the rate when the codec opens: reopen, keeping the old encoder if that fails.
    auto reopened = openEncoder(context_->sample_rate, bitsPerSecond);
    if (!reopened) return reopened.error();
    context_ = std::move(*reopened);
    return 0;
  }

  std::int32_t maximumOutputPacketSize(std::uint32_t& bytes) override {
    bytes = kMaxPacketBytes;
    return 0;
  }

  std::int32_t fillComplexBuffer(AudioConverterInputProc inputProc, void* userData, std::uint32_t& ioPackets,
                                 ConverterBuffer& output, AudioStreamPacketDescription* description) override {
    const std::uint32_t capacity = output.mDataByteSize;
    const std::uint32_t wanted = ioPackets;
    ioPackets = 0;
    output.mDataByteSize = 0;
    if (wanted == 0) return 0;
    std::int32_t inputStatus = 0;
    for (;;) {
      const int received = avcodec_receive_packet(context_.get(), packet_.get());
      if (received == 0) {
        const auto size = std::uint32_t(packet_->size);
        if (size > capacity || output.mData == nullptr) {
          av_packet_unref(packet_.get());
          return AVERROR(ENOSPC);
        }
        std::memcpy(output.mData, packet_->data, size);
        av_packet_unref(packet_.get());
        output.mDataByteSize = size;
        ioPackets = 1;
        if (description != nullptr) *description = {.mStartOffset = 0, .mVariableFramesInPacket = 0, .mDataByteSize = size};
        return inputStatus;
      }
      if (received != AVERROR(EAGAIN)) return received;
      if (inputStatus != 0) return inputStatus;

      std::uint32_t frames = std::uint32_t(kFramesPerPacket - filled_);
      ConverterBuffer input{};
      inputStatus = inputProc(frames, input, userData);
      if (frames > std::uint32_t(kFramesPerPacket - filled_) ||
          (frames > 0 && (input.mData == nullptr || input.mDataByteSize < frames * kChannels * sizeof(float)))) {
        return AVERROR(EINVAL);
      }
      if (frames == 0 && inputStatus == 0) return 0;  // nothing given and nothing said: try again later
      if (const int status = stage(static_cast<const float*>(input.mData), int(frames)); status < 0) return status;
    }
  }

 private:
  int stage(const float* interleaved, int frames) {
    if (frames == 0) return 0;
    if (filled_ == 0) {
      // The encoder may still hold a reference to the last frame we sent.
      if (const int status = av_frame_make_writable(staging_.get()); status < 0) return status;
    }
    auto* left = reinterpret_cast<float*>(staging_->data[0]) + filled_;
    auto* right = reinterpret_cast<float*>(staging_->data[1]) + filled_;
    for (int i = 0; i < frames; ++i) {
      // libavcodec's aac refuses a whole frame for one NaN or infinity (and the next one, through the overlap).
      const float l = interleaved[2 * i];
      const float r = interleaved[2 * i + 1];
      left[i] = std::isfinite(l) ? l : 0.0f;
      right[i] = std::isfinite(r) ? r : 0.0f;
    }
    filled_ += frames;
    if (filled_ < kFramesPerPacket) return 0;
    filled_ = 0;
    staging_->pts = nextPts_;
    nextPts_ += kFramesPerPacket;
    return avcodec_send_frame(context_.get(), staging_.get());
  }

  CodecContext context_;
  Frame staging_;
  Packet packet_;
  int filled_ = 0;
  std::int64_t nextPts_ = 0;
};

std::expected<std::unique_ptr<AudioConverter>, int> makeConverter(const AudioStreamBasicDescription& input,
                                                                   const AudioStreamBasicDescription& output) {
  const double rate = input.mSampleRate;
  if (!isStereoFloatPcm(input) || !isStereoAacLc(output) || output.mSampleRate != rate || !(rate >= 1) ||
      rate > 1e6 || rate != std::floor(rate)) {
    return std::unexpected(AVERROR(EINVAL));
  }
  auto context = openEncoder(int(rate), 0);
  if (!context) return std::unexpected(context.error());

  Frame staging(av_frame_alloc());
  Packet packet(av_packet_alloc());
  if (!staging || !packet) return std::unexpected(AVERROR(ENOMEM));
  staging->format = AV_SAMPLE_FMT_FLTP;
  staging->nb_samples = kFramesPerPacket;
  staging->sample_rate = int(rate);
  if (const int status = av_channel_layout_copy(&staging->ch_layout, &(*context)->ch_layout); status < 0) {
    return std::unexpected(status);
  }
  if (const int status = av_frame_get_buffer(staging.get(), 0); status < 0) return std::unexpected(status);
  return std::make_unique<FFmpegAudioConverter>(std::move(*context), std::move(staging), std::move(packet));
}

}  // namespace

std::expected<std::unique_ptr<AudioConverter>, Error> FFmpegAudioConverterFactory::create(
    const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output) {
  auto converter = makeConverter(input, output);
  if (converter) return std::move(*converter);
  char words[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(converter.error(), words, sizeof words);
  return std::unexpected(Error{ErrorCode::EncoderNotCreated, words});
}

}  // namespace brontide::linux::ffmpeg
