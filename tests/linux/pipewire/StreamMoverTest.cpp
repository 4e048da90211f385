#include "linux/pipewire/StreamMover.h"

#include <gtest/gtest.h>

#include <map>

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;

class FakeMetadata final : public StreamMover::Backend {
 public:
  std::map<std::pair<std::uint32_t, std::string>, MetadataValue> values;
  int writes = 0;

  std::optional<MetadataValue> read(std::uint32_t node, std::string_view key) override {
    auto it = values.find({node, std::string(key)});
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  void write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) override {
    ++writes;
    if (value) values[{node, std::string(key)}] = *value;
    else values.erase({node, std::string(key)});
  }
  std::optional<std::string> target(std::uint32_t node) {
    auto value = read(node, StreamMover::kTargetObject);
    return value ? std::optional(value->value) : std::nullopt;
  }
};

class StreamMoverTest : public ::testing::Test {
 protected:
  StreamMoverTest() { mover.setTarget("brontide_tap"); }
  FakeMetadata metadata;
  StreamMover mover{metadata};
  StreamMover::Clock::time_point t0{};
};

TEST_F(StreamMoverTest, StreamMover_RestoresExactlyThePreviousRouting) {
  metadata.values[{40, "target.node"}] = {"Spa:Id", "55"};
  metadata.values[{40, "target.object"}] = {"", "alsa_output.usb"};
  const auto before = metadata.values;

  mover.want(1, 40);
  mover.want(1, 41);
  EXPECT_EQ(metadata.target(40), "brontide_tap");
  EXPECT_FALSE(metadata.read(40, "target.node"));  // a numeric id would pin the stream elsewhere
  EXPECT_EQ(metadata.target(41), "brontide_tap");

  mover.release(1, t0);
  EXPECT_TRUE(mover.expire(t0 + 99ms).empty());
  EXPECT_TRUE(mover.isMoved(40));
  EXPECT_EQ(mover.expire(t0 + StreamMover::kGrace), (std::vector<std::uint32_t>{40, 41}));
  EXPECT_EQ(metadata.values, before);
  EXPECT_FALSE(mover.isMoved(40));
  EXPECT_FALSE(mover.nextDeadline());
}

TEST_F(StreamMoverTest, StreamMover_KeepsStreamsAnotherTapStillWants) {
  mover.want(1, 40);
  mover.want(2, 40);  // a capture test beside the live tap
  mover.want(2, 41);
  const int writes = metadata.writes;
  EXPECT_EQ(writes, 2);

  mover.release(2, t0);
  mover.expire(t0 + 1s);
  EXPECT_EQ(metadata.target(40), "brontide_tap");
  EXPECT_FALSE(metadata.target(41));

  mover.release(1, t0 + 1s);
  mover.expire(t0 + 2s);
  EXPECT_FALSE(metadata.target(40));
}

TEST_F(StreamMoverTest, StreamMover_ReplacingTapWithinGraceWritesNothing) {
  mover.want(1, 40);
  const int writes = metadata.writes;
  mover.release(1, t0);
  mover.want(2, 40);
  mover.expire(t0 + 1s);
  EXPECT_EQ(metadata.writes, writes);
  EXPECT_EQ(metadata.target(40), "brontide_tap");
  EXPECT_EQ(mover.streamsOf(2), std::vector<std::uint32_t>{40});
}

TEST_F(StreamMoverTest, StreamMover_ForgetsVanishedAndResetStreamsWithoutWriting) {
  mover.want(1, 40);
  mover.want(1, 41);
  const int writes = metadata.writes;
  mover.forget(40);  // the id may belong to someone else next
  mover.reset();
  mover.release(1, t0);
  mover.expire(t0 + 1s);
  mover.restoreAll();
  EXPECT_EQ(metadata.writes, writes);
}

TEST_F(StreamMoverTest, StreamMover_TreatsItsOwnLeftoverAsNoRouting) {
  // A killed instance (or the session manager's memory of it) left our sink as the stream's target.
  metadata.values[{40, "target.object"}] = {"Spa:String", "brontide_tap"};
  mover.want(1, 40);
  mover.restoreAll();
  EXPECT_FALSE(metadata.target(40));
  EXPECT_TRUE(mover.pointsAtTarget({"", "\"brontide_tap\""}));
  EXPECT_FALSE(mover.pointsAtTarget({"", "brontide_tap2"}));
}

}  // namespace
}  // namespace brontide::linux::pipewire
