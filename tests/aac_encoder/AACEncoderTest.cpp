#include "aac_encoder/AACEncoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

namespace brontide {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

// How the test steers a fake converter and what it sees of it; shared with the converter, which the encoder
// owns and calls on its queue.
struct ConverterScript {
  std::mutex mutex;
  std::condition_variable changed;

  bool greedy = false;                    // keeps pulling until the input procedure says no, like a codec's look-ahead
  int blockCall = -1;                     // this fill call (0-based) waits until release()
  bool released = false;
  std::deque<std::uint32_t> packetSizes;  // next packet sizes; 300 bytes once empty
  int refusals = 0;                       // fill calls answered 'more' before pulling any input
  std::uint32_t maxPacketSize = 1536;     // what the converter reports
  std::int32_t maxPacketStatus = 0;

  int fillCalls = 0;
  bool blocked = false;
  std::vector<float> pulled;                // every sample handed over, in order
  std::vector<std::int32_t> inputStatuses;  // every status the input procedure returned
  std::uint32_t bitRate = 0;
  bool disposed = false;

  template <class Pred>
  bool waitFor(Pred pred) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), pred);
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

// Makes one 1024-frame packet per fill call from exactly the frames it pulled; packet bytes count up from
// the packet's index so order and completeness show.
class FakeConverter final : public AudioConverter {
 public:
  explicit FakeConverter(std::shared_ptr<ConverterScript> script) : s_(std::move(script)) {}
  ~FakeConverter() override {
    std::lock_guard lock(s_->mutex);
    s_->disposed = true;
    s_->changed.notify_all();
  }

  std::int32_t setBitRate(std::uint32_t bitsPerSecond) override {
    std::lock_guard lock(s_->mutex);
    s_->bitRate = bitsPerSecond;
    return 0;
  }
  std::int32_t maximumOutputPacketSize(std::uint32_t& bytes) override {
    std::lock_guard lock(s_->mutex);
    if (s_->maxPacketStatus == 0) bytes = s_->maxPacketSize;
    return s_->maxPacketStatus;
  }
  std::int32_t fillComplexBuffer(AudioConverterInputProc inputProc, void* userData, std::uint32_t& ioPackets,
                                 ConverterBuffer& output, AudioStreamPacketDescription*) override {
    ioPackets = 0;
    std::unique_lock lock(s_->mutex);
    if (s_->fillCalls++ == s_->blockCall) {
      s_->blocked = true;
      s_->changed.notify_all();
      s_->changed.wait(lock, [&] { return s_->released; });
    }
    if (s_->refusals > 0) {
      --s_->refusals;
      return kAudioConverterMoreInput;
    }
    std::int32_t status = 0;
    while (status == 0 && (staged_ < 1024 || s_->greedy)) {
      std::uint32_t frames = s_->greedy ? 4096 : 1024 - staged_;
      ConverterBuffer input{};
      lock.unlock();
      status = inputProc(frames, input, userData);
      lock.lock();
      s_->inputStatuses.push_back(status);
      const auto* samples = static_cast<const float*>(input.mData);
      if (frames > 0) s_->pulled.insert(s_->pulled.end(), samples, samples + frames * 2);
      staged_ += frames;
    }
    if (staged_ < 1024) return status;
    staged_ -= 1024;
    const std::uint32_t size = s_->packetSizes.empty() ? 300 : s_->packetSizes.front();
    if (!s_->packetSizes.empty()) s_->packetSizes.pop_front();
    output.mDataByteSize = std::min(size, output.mDataByteSize);
    auto* bytes = static_cast<std::uint8_t*>(output.mData);
    for (std::uint32_t i = 0; i < output.mDataByteSize; ++i) bytes[i] = std::uint8_t(packetIndex_ + i);
    ++packetIndex_;
    ioPackets = 1;
    return status;
  }

 private:
  std::shared_ptr<ConverterScript> s_;
  std::uint32_t staged_ = 0;
  std::uint8_t packetIndex_ = 0;
};

// Hands out fake converters sharing one script, or fails as told.
struct FakeConverterFactory final : AudioConverterFactory {
  std::expected<std::unique_ptr<AudioConverter>, Error> create(const AudioStreamBasicDescription&,
                                                               const AudioStreamBasicDescription&) override {
    ++creates;
    if (failure) return std::unexpected(*failure);
    return std::make_unique<FakeConverter>(script);
  }

  std::shared_ptr<ConverterScript> script = std::make_shared<ConverterScript>();
  std::optional<Error> failure;
  int creates = 0;
};

std::vector<float> ramp(float first, std::size_t count) {
  std::vector<float> samples(count);
  std::iota(samples.begin(), samples.end(), first);
  return samples;
}

SampleBlock block(const std::vector<float>& samples) { return {samples.data(), samples.size()}; }

class AACEncoderTest : public ::testing::Test {
 protected:
  // An encoder on the current script whose frames are collected.
  std::shared_ptr<AACEncoder> make(double rate = 48000) {
    auto created = AACEncoder::create(rate, 256000, converters);
    EXPECT_TRUE(created.has_value());
    if (!created) return nullptr;
    attach(**created);
    return *created;
  }
  void attach(AACEncoder& encoder) {
    encoder.setOnFrame([this](std::span<const std::uint8_t> frame) {
      std::lock_guard lock(mutex);
      frames.emplace_back(frame.begin(), frame.end());
    });
  }
  // A new converter script and no frames, for the next case of a table.
  ConverterScript& fresh() {
    converters.script = std::make_shared<ConverterScript>();
    std::lock_guard lock(mutex);
    frames.clear();
    return script();
  }
  // Appends `samples`, waits until the queue has handled them and returns every frame so far.
  std::vector<Bytes> encode(AACEncoder& encoder, const std::vector<float>& samples) {
    encoder.append(block(samples));
    encoder.drain();
    std::lock_guard lock(mutex);
    return frames;
  }
  // Appends a packet's worth, which the converter holds in its first fill call, then `more` behind it.
  void appendWhileBusy(AACEncoder& encoder, const std::vector<float>& more) {
    encoder.append(block(ramp(0, 2048)));
    ASSERT_TRUE(script().waitFor([&] { return script().blocked; }));
    encoder.append(block(more));
  }
  ConverterScript& script() { return *converters.script; }
  std::vector<float> pulled() {
    std::lock_guard lock(script().mutex);
    return script().pulled;
  }

  FakeConverterFactory converters;
  std::mutex mutex;
  std::vector<Bytes> frames;
};

TEST_F(AACEncoderTest, Create_RejectsRatesOutsideTheTableBeforeAnyConverterAndPassesConverterFailuresOn) {
  for (const auto& [rate, shown] : std::vector<std::pair<double, std::string>>{
           {192000, "192000"}, {44100.5, "44100.5"}, {7350, "7350"}, {0, "0"}, {std::nan(""), "nan"}}) {
    auto created = AACEncoder::create(rate, 256000, converters);
    ASSERT_FALSE(created.has_value()) << rate;
    EXPECT_EQ(created.error(), (Error{ErrorCode::SampleRateUnsupported, shown}));
  }
  EXPECT_EQ(converters.creates, 0);
  converters.failure = Error{ErrorCode::EncoderNotCreated, "Invalid argument"};
  EXPECT_EQ(AACEncoder::create(48000, 256000, converters).error(), converters.failure);
}

struct FrameCase {
  double rate;
  std::uint32_t reported;  // the converter's maximum packet size
  std::int32_t status;     // and the status it answers that question with
  std::uint32_t packet;    // the packet it makes
  std::uint32_t carried;   // what of it fits the encoder's buffer
  Bytes header;
};

TEST_F(AACEncoderTest, Frames_CarryTheAdtsHeaderForTheRateAndLengthWithinAUsableCapacity) {
  const Bytes capped = {0xFF, 0xF1, 0x4C, 0x80, 0xC0, 0xFF, 0xFC};
  const std::vector<FrameCase> cases = {
      {44100, 4096, 0, 371, 371, {0xFF, 0xF1, 0x50, 0x80, 0x2F, 0x5F, 0xFC}},
      {48000, 4096, 0, 371, 371, {0xFF, 0xF1, 0x4C, 0x80, 0x2F, 0x5F, 0xFC}},
      {8000, 4096, 0, 371, 371, {0xFF, 0xF1, 0x6C, 0x80, 0x2F, 0x5F, 0xFC}},
      {96000, 4096, 0, 1, 1, {0xFF, 0xF1, 0x40, 0x80, 0x01, 0x1F, 0xFC}},
      {11025, 4096, 0, 1536, 1536, {0xFF, 0xF1, 0x68, 0x80, 0xC0, 0xFF, 0xFC}},
      // F = 2048 sets the high length bits.
      {48000, 4096, 0, 2041, 2041, {0xFF, 0xF1, 0x4C, 0x81, 0x00, 0x1F, 0xFC}},
      // Unusable reports keep the default capacity of 1536.
      {48000, 9000, 0, 5000, 1536, capped},
      {48000, 0, 0, 5000, 1536, capped},
      {48000, 4000, -1, 5000, 1536, capped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.reported << " reported, " << c.packet << " bytes");
    fresh().maxPacketSize = c.reported;
    script().maxPacketStatus = c.status;
    script().packetSizes = {c.packet};
    auto encoder = make(c.rate);
    EXPECT_EQ(script().bitRate, 256000u);
    const auto frames = encode(*encoder, ramp(0, 2048));
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].size(), c.carried + 7);
    EXPECT_THAT(Bytes(frames[0].begin(), frames[0].begin() + 7), ElementsAreArray(c.header));
    EXPECT_EQ(frames[0][7], 0);  // the packet follows unchanged
    EXPECT_EQ(frames[0].back(), std::uint8_t(c.carried - 1));
  }
}

TEST_F(AACEncoderTest, Pending_WholeFramesGoOutOnePacketPerFillCallInOrderAndNeverEmpty) {
  script().packetSizes = {10, 0, 20};
  auto encoder = make();
  EXPECT_TRUE(encode(*encoder, {}).empty());
  EXPECT_TRUE(encode(*encoder, ramp(0, 2047)).empty());
  EXPECT_EQ(script().fillCalls, 0);
  // The converter stops before taking anything: the samples stay pending until the next append.
  script().refusals = 1;
  EXPECT_TRUE(encode(*encoder, ramp(2047, 1)).empty());
  EXPECT_EQ(script().fillCalls, 1);
  EXPECT_EQ(encode(*encoder, {}).size(), 1u);
  EXPECT_EQ(script().fillCalls, 2);
  EXPECT_EQ(pulled(), ramp(0, 2048));

  // Packet bytes start at the packet's index: the empty second packet was skipped, nothing merged.
  const auto frames = encode(*encoder, ramp(2048, 3 * 2048));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].size(), 17u);
  EXPECT_EQ(frames[1].size(), 27u);
  EXPECT_EQ(frames[2].size(), 307u);
  EXPECT_EQ(frames[1][7], 2);
  EXPECT_EQ(frames[2][7], 3);

  fresh().greedy = true;
  encoder = make();
  // The lone float makes the input procedure answer 'more' with nothing, and the packet made in that same
  // call is still delivered.
  EXPECT_EQ(encode(*encoder, ramp(0, 2049)).size(), 1u);
  EXPECT_EQ(pulled(), ramp(0, 2048));
  EXPECT_THAT(script().inputStatuses, ElementsAre(0, kAudioConverterMoreInput));
  encode(*encoder, ramp(2049, 2047));
  EXPECT_EQ(pulled(), ramp(0, 4096));
}

struct CapCase {
  std::size_t appended;  // floats appended while the queue is busy, after the first 2048
  float firstKept;
};

TEST_F(AACEncoderTest, Pending_CappedAtTwoSecondsKeepingTheNewestWholeFramesThenTheConverterIsDisposed) {
  const std::vector<CapCase> cases = {
      {100000, 0},       // under the cap: nothing lost
      {200000, 10048},   // 202048 - 192000
      {200001, 10050},   // the surplus rounds up to a whole frame so left stays left
      {500000, 310048},  // one block larger than the cap keeps its own newest part
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.appended);
    fresh().blockCall = 0;
    auto encoder = make(48000);
    appendWhileBusy(*encoder, ramp(2048, c.appended));
    script().release();
    encoder->drain();

    const auto samples = pulled();
    const std::size_t kept = 2048 + c.appended - std::size_t(c.firstKept);
    ASSERT_EQ(samples.size(), kept / 2048 * 2048);
    EXPECT_EQ(samples, ramp(c.firstKept, samples.size()));
  }

  fresh().blockCall = 0;
  auto encoder = make();
  appendWhileBusy(*encoder, ramp(2048, 10 * 2048));
  std::weak_ptr<AACEncoder> weak = encoder;
  encoder.reset();  // the queue still holds it for the packet in progress, so it must not join itself
  script().release();
  ASSERT_TRUE(script().waitFor([&] { return script().disposed; }));
  EXPECT_TRUE(weak.expired());
}

struct GainCase {
  float gain;
  std::vector<float> input;
  std::vector<float> expected;
};

TEST_F(AACEncoderTest, Gain_ScalesEachAppendWithoutClippingAsSetWhenItArrives) {
  const float denormal = std::numeric_limits<float>::denorm_min();
  const float nanPayload = std::bit_cast<float>(0x7FC01234u);
  const std::vector<GainCase> cases = {
      {1.0f, {-0.0f, denormal, 1e30f, nanPayload, 3.5f, -1.0f}, {-0.0f, denormal, 1e30f, nanPayload, 3.5f, -1.0f}},
      {0.5f, {3.0f, -4.0f, 1.0f, 0.25f, 0.0f, -0.0f}, {1.5f, -2.0f, 0.5f, 0.125f, 0.0f, -0.0f}},
      {0.0f, {0.9f, -0.9f, 5.0f, -5.0f, 1.0f, 0.1f}, {0.0f, -0.0f, 0.0f, -0.0f, 0.0f, 0.0f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gain);
    fresh();
    auto encoder = make();
    encoder->setGain(c.gain);
    std::vector<float> input, expected;
    for (int i = 0; i < 4 * 2048 / 6 + 1; ++i) {
      input.insert(input.end(), c.input.begin(), c.input.end());
      expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    }
    EXPECT_EQ(encode(*encoder, input).size(), 4u);  // silence is encoded at the normal rate
    const auto samples = pulled();
    ASSERT_EQ(samples.size(), 4u * 2048);
    EXPECT_EQ(std::memcmp(samples.data(), expected.data(), samples.size() * sizeof(float)), 0);
  }

  fresh();
  auto encoder = make();
  encoder->append(block(std::vector<float>(2048, 0.5f)));
  encoder->setGain(0.5f);
  encode(*encoder, std::vector<float>(2048, 0.5f));
  auto expected = std::vector<float>(2048, 0.5f);
  expected.resize(4096, 0.25f);
  EXPECT_EQ(pulled(), expected);
}

TEST_F(AACEncoderTest, Threads_CaptureMainAndQueueRunTogether) {
  auto encoder = make(44100);
  encoder->setOnFrame(nullptr);
  constexpr int kBlocks = 400;
  constexpr std::size_t kBlockFloats = 2 * 441;
  std::thread capture([&] {
    // Block k carries the odd value 4k + 1, so a halved sample is never mistaken for another block's.
    for (int k = 0; k < kBlocks; ++k) encoder->append(block(std::vector<float>(kBlockFloats, float(4 * k + 1))));
  });
  std::thread main([&] {
    for (int i = 0; i < kBlocks; ++i) encoder->setGain(i % 2 == 0 ? 0.5f : 1.0f);
    attach(*encoder);
  });
  capture.join();
  main.join();
  encoder->drain();

  // The capture outruns the queue here, so the oldest may be dropped, but never the newest two seconds.
  const auto samples = pulled();
  EXPECT_EQ(samples.size() % 2048, 0u);
  EXPECT_GE(samples.size(), encoder->pendingCapacity() - 2047);
  float lastBlock = 0;
  for (float s : samples) {
    const float value = s == std::floor(s) ? s : 2 * s;
    ASSERT_EQ(std::fmod(value, 4.0f), 1.0f) << s;
    ASSERT_GE(value, lastBlock);
    lastBlock = value;
  }
  EXPECT_GE(lastBlock, float(4 * (kBlocks - 3) + 1));  // less than one packet stays pending
  std::lock_guard lock(mutex);
  EXPECT_LE(frames.size(), std::size_t(script().fillCalls));
}

}  // namespace
}  // namespace brontide
