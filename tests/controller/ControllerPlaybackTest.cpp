#include <cmath>

#include "controller/ControllerFixture.h"

namespace brontide {
namespace {

using Event = Player::ItemEvent;
using Field = Controller::Field;

class Controller_Playback : public ControllerTest {
 protected:
  void SetUp() override {
    addSource(7);
    startReady(50123);
  }
};

TEST_F(Controller_Playback, PlaysTheLoopbackAddressWithAOneSecondBufferAndAgainAfterAStall) {
  ASSERT_EQ(player.items.size(), 1u);
  EXPECT_EQ(player.items[0].address, "http://127.0.0.1:50123/live.aac");
  EXPECT_EQ(player.items[0].preferredForwardBufferSeconds, 1.0);
  EXPECT_EQ(player.currentItem(), player.items[0].id);
  EXPECT_TRUE(player.playing);

  const auto plays = player.playCalls;
  player.notifyCurrent(Event::playbackStalled);
  queue.runReady();
  EXPECT_EQ(player.playCalls, plays + 1);
  EXPECT_EQ(player.items.size(), 1u);
}

TEST_F(Controller_Playback, FailureOrEndReloadsOnceAfterOneSecondWithThreeObservationsButNotAfterStop) {
  for (const auto event : {Event::failedToPlayToEnd, Event::didPlayToEnd}) {
    const auto before = player.items.size();
    player.notifyCurrent(event);
    queue.advance(999ms);
    EXPECT_EQ(player.items.size(), before);
    queue.advance(1ms);
    ASSERT_EQ(player.items.size(), before + 1);
    EXPECT_EQ(player.currentItem(), player.items.back().id);
    ASSERT_EQ(player.observations.size(), 3u);
    for (const auto& [token, o] : player.observations) EXPECT_EQ(o.item, player.currentItem());
  }

  player.notifyCurrent(Event::failedToPlayToEnd);
  queue.runReady();
  controller->stop();
  EXPECT_EQ(player.currentItem(), 0u);
  EXPECT_TRUE(player.observations.empty());
  controller->start();  // the new server has no port yet: a stale reload would play port 0
  queue.advance(2s);
  EXPECT_EQ(player.items.size(), 3u);
}

using Controller_Volume = ControllerTest;

TEST_F(Controller_Volume, StoredValueThatIsNoNumberMeansFullVolume) {
  struct Row {
    const char* stored;
    double volume;
  };
  for (const auto& row : {Row{"0.5", 0.5}, Row{"abc", 1}, Row{"nan", 1}, Row{"inf", 1}, Row{"", 1},
                          Row{"-1", 0}, Row{"3", 1}}) {
    SCOPED_TRACE(row.stored);
    preferences = fakes::MemoryPreferences{{"volume", row.stored}};
    EXPECT_EQ(make().volume(), row.volume);
    EXPECT_TRUE(preferences.writes.empty());
  }
  preferences = {};
  EXPECT_EQ(make().currentGain(), 1.0f);
  EXPECT_FALSE(controller->muted());
}

TEST_F(Controller_Volume, GainReachesTheEncoderAlsoWhenSetWhileStoppedAndMuteKeepsTheVolume) {
  auto& c = make();
  c.setVolume(0.3);
  c.setVolume(std::nan(""));  // ignored: would be stored as "nan" and read back as full volume
  EXPECT_EQ(preferences.value("volume"), "0.3");
  addSource(7);
  startReady();
  auto encoder = encoders.latest();
  EXPECT_EQ(encoder->gain(), static_cast<float>(0.3 * 0.3));
  changes.clear();

  c.setVolume(0.5);
  EXPECT_EQ(c.currentGain(), 0.25f);
  EXPECT_EQ(encoder->gain(), 0.25f);
  EXPECT_EQ(preferences.value("volume"), "0.5");

  const auto writes = preferences.writes.size();
  c.setMuted(true);
  EXPECT_EQ(c.currentGain(), 0.0f);
  EXPECT_EQ(encoder->gain(), 0.0f);
  EXPECT_EQ(c.volume(), 0.5);
  EXPECT_EQ(preferences.writes.size(), writes);

  c.setVolume(0);
  EXPECT_TRUE(c.muted());
  EXPECT_EQ(encoder->gain(), 0.0f);

  c.setMuted(true);
  c.setVolume(0.3);
  EXPECT_FALSE(c.muted());
  EXPECT_EQ(encoder->gain(), static_cast<float>(0.3 * 0.3));
  EXPECT_EQ(changesOf(Field::muted), 4) << "every assignment notifies";
}

}  // namespace
}  // namespace brontide
