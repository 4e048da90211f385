#include "aac_encoder/AACEncoder.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "aac_encoder/Adts.h"
#include "base/Format.h"

namespace brontide {

namespace {

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kBytesPerFrame = kChannels * sizeof(float);
constexpr std::size_t kPacketFloats = std::size_t(AACEncoder::kFramesPerPacket) * kChannels;
// Linux thread names hold 15 characters; logs keep "brontide.encoder".
constexpr const char* kThreadName = "brontide.enc";

AudioStreamBasicDescription pcmDescription(double sampleRate) {
  return {.mSampleRate = sampleRate,
          .mFormatID = kAudioFormatLinearPCM,
          .mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
          .mBytesPerPacket = kBytesPerFrame,
          .mFramesPerPacket = 1,
          .mBytesPerFrame = kBytesPerFrame,
          .mChannelsPerFrame = kChannels,
          .mBitsPerChannel = 32,
          .mReserved = 0};
}

AudioStreamBasicDescription aacDescription(double sampleRate) {
  return {.mSampleRate = sampleRate,
          .mFormatID = kAudioFormatMPEG4AAC,
          .mFormatFlags = kMPEG4Object_AAC_LC,
          .mBytesPerPacket = 0,
          .mFramesPerPacket = AACEncoder::kFramesPerPacket,
          .mBytesPerFrame = 0,
          .mChannelsPerFrame = kChannels,
          .mBitsPerChannel = 0,
          .mReserved = 0};
}

}  // namespace

// The encoder's serial queue and the samples waiting for it (`pending`): a fixed ring that keeps the newest
// `capacity` floats, so the capture thread never allocates and a stalled encoder cannot grow memory.
// Everything here is guarded by `lock`, held only for a copy or a counter.
struct AACEncoder::Queue {
  explicit Queue(std::size_t floats) : capacity(floats), ring(new float[floats]) {}

  // Producer side. Drops the oldest whole frames beyond capacity so left and right never swap.
  void push(const float* data, std::size_t count, float gain) {
    std::size_t surplus = size + count > capacity ? size + count - capacity : 0;
    surplus += surplus & 1;
    if (surplus >= size) {
      const std::size_t skip = surplus - size;
      data += skip;
      count -= skip;
      head = 0;
      size = 0;
    } else {
      head = (head + surplus) % capacity;
      size -= surplus;
    }
    std::size_t tail = (head + size) % capacity;
    while (count > 0) {
      const std::size_t n = std::min(count, capacity - tail);
      if (gain == 1.0f) {
        std::memcpy(ring.get() + tail, data, n * sizeof(float));
      } else {
        for (std::size_t i = 0; i < n; ++i) ring[tail + i] = data[i] * gain;
      }
      data += n;
      count -= n;
      size += n;
      tail = (tail + n) % capacity;
    }
  }

  // Consumer side: copies up to `maxFrames` whole frames to `out` and removes them.
  std::size_t popFrames(float* out, std::size_t maxFrames) {
    const std::size_t frames = std::min(size / kChannels, maxFrames);
    std::size_t count = frames * kChannels;
    while (count > 0) {
      const std::size_t n = std::min(count, capacity - head);
      std::memcpy(out, ring.get() + head, n * sizeof(float));
      out += n;
      count -= n;
      size -= n;
      head = (head + n) % capacity;
    }
    if (size == 0) head = 0;
    return frames;
  }

  std::mutex lock;
  std::condition_variable wake;
  std::condition_variable idle;
  const std::size_t capacity;
  std::unique_ptr<float[]> ring;
  std::size_t head = 0;
  std::size_t size = 0;
  std::uint64_t scheduled = 0;  // one per append
  std::uint64_t handled = 0;
  bool closed = false;
  std::thread::id thread;
};

std::expected<std::shared_ptr<AACEncoder>, Error> AACEncoder::create(double sampleRate, std::uint32_t bitRate,
                                                                       AudioConverterFactory& converters) {
  // Checked before anything is sized from the rate.
  const auto freqIndex = adtsFrequencyIndex(sampleRate);
  if (!freqIndex) {
    return std::unexpected(Error{ErrorCode::SampleRateUnsupported, formatString("%g", sampleRate)});
  }
  auto encoder = std::make_shared<AACEncoder>(Token{}, sampleRate);
  encoder->freqIndex_ = *freqIndex;

  auto converter = converters.create(pcmDescription(sampleRate), aacDescription(sampleRate));
  if (!converter) return std::unexpected(std::move(converter.error()));
  encoder->converter_ = std::move(*converter);
  (void)encoder->converter_->setBitRate(bitRate);
  std::uint32_t reported = encoder->maxPacketSize_;
  // A size the ADTS length field cannot carry would make every frame unparsable: keep the default then.
  if (encoder->converter_->maximumOutputPacketSize(reported) == 0 && reported > 0 &&
      reported <= kAdtsMaxFrameLength - kAdtsHeaderSize) {
    encoder->maxPacketSize_ = reported;
  }
  encoder->frame_.resize(kAdtsHeaderSize + encoder->maxPacketSize_);

  encoder->thread_ = std::thread(runQueue, encoder->queue_, std::weak_ptr<AACEncoder>(encoder));
  return encoder;
}

AACEncoder::AACEncoder(Token, double sampleRate)
    : sampleRate_(sampleRate),
      queue_(std::make_shared<Queue>(pendingCapacity())),
      hold_(std::size_t(holdCapacity) * kChannels) {}

AACEncoder::~AACEncoder() {
  {
    std::lock_guard guard(queue_->lock);
    queue_->closed = true;
  }
  queue_->wake.notify_all();
  queue_->idle.notify_all();
  if (!thread_.joinable()) return;
  // The last owner may let go inside a task; a thread cannot join itself, and the loop holds `queue_`.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

std::size_t AACEncoder::pendingCapacity() const {
  return std::size_t(4 * std::int64_t(sampleRate_));
}

void AACEncoder::setOnFrame(OnFrame onFrame) {
  auto replacement = onFrame ? std::make_shared<const OnFrame>(std::move(onFrame)) : nullptr;
  std::lock_guard guard(onFrameLock_);
  onFrame_.swap(replacement);
}

void AACEncoder::setGain(float gain) { gain_.store(gain, std::memory_order_relaxed); }

float AACEncoder::gain() const { return gain_.load(std::memory_order_relaxed); }

void AACEncoder::append(SampleBlock samples) {
  const float gain = gain_.load(std::memory_order_relaxed);
  {
    std::lock_guard guard(queue_->lock);
    if (samples.data != nullptr) queue_->push(samples.data, samples.count, gain);
    ++queue_->scheduled;
  }
  queue_->wake.notify_one();
}

void AACEncoder::drain() {
  std::unique_lock guard(queue_->lock);
  if (queue_->thread == std::this_thread::get_id()) return;
  const auto target = queue_->scheduled;
  queue_->idle.wait(guard, [&] { return queue_->handled >= target || queue_->closed; });
}

void AACEncoder::runQueue(std::shared_ptr<Queue> queue, std::weak_ptr<AACEncoder> owner) {
  pthread_setname_np(pthread_self(), kThreadName);
  std::unique_lock guard(queue->lock);
  queue->thread = std::this_thread::get_id();
  for (;;) {
    queue->wake.wait(guard, [&] { return queue->closed || queue->scheduled != queue->handled; });
    if (queue->closed) return;
    // Every append scheduled so far is served by one run: each would encode whatever is pending.
    const auto upTo = queue->scheduled;
    guard.unlock();
    if (auto encoder = owner.lock()) encoder->encodeAvailable();
    // If that was the last reference the encoder is gone now and `closed` is set; only `queue` is touched.
    guard.lock();
    queue->handled = upTo;
    queue->idle.notify_all();
  }
}

void AACEncoder::encodeAvailable() {
  if (!converter_) return;
  std::shared_ptr<const OnFrame> onFrame;
  for (;;) {
    std::size_t before = 0;
    {
      std::lock_guard guard(queue_->lock);
      before = queue_->size;
    }
    if (before < kPacketFloats) return;

    std::uint32_t packets = 1;
    ConverterBuffer output{.mNumberChannels = kChannels,
                       .mDataByteSize = maxPacketSize_,
                       .mData = frame_.data() + kAdtsHeaderSize};
    AudioStreamPacketDescription description{};
    const std::int32_t status = converter_->fillComplexBuffer(inputProc, this, packets, output, &description);

    const std::size_t length = output.mDataByteSize;
    if (packets != 0 && length > 0 && length <= maxPacketSize_) {
      const auto header = adtsHeader(freqIndex_, length + kAdtsHeaderSize);
      std::copy(header.begin(), header.end(), frame_.begin());
      {
        std::lock_guard guard(onFrameLock_);
        onFrame = onFrame_;
      }
      if (onFrame && *onFrame) {
        (*onFrame)(std::span<const std::uint8_t>(frame_.data(), length + kAdtsHeaderSize));
      }
    }
    if (status != 0) return;
    if (packets == 0) {
      // A converter that neither made a packet nor took input would spin here forever.
      std::lock_guard guard(queue_->lock);
      if (queue_->size >= before) return;
    }
  }
}

std::int32_t AACEncoder::inputProc(std::uint32_t& ioNumberDataPackets, ConverterBuffer& ioData, void* userData) {
  auto& self = *static_cast<AACEncoder*>(userData);
  const std::size_t wanted = std::min<std::size_t>(ioNumberDataPackets, std::size_t(holdCapacity));
  std::size_t frames = 0;
  {
    std::lock_guard guard(self.queue_->lock);
    if (self.queue_->size < kChannels) {
      ioNumberDataPackets = 0;
      return kAudioConverterMoreInput;
    }
    frames = self.queue_->popFrames(self.hold_.data(), wanted);
  }
  ioData.mNumberChannels = kChannels;
  ioData.mDataByteSize = std::uint32_t(frames * kBytesPerFrame);
  ioData.mData = self.hold_.data();
  ioNumberDataPackets = std::uint32_t(frames);
  return 0;
}

}  // namespace brontide
