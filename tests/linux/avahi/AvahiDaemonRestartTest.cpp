#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "linux/avahi/AvahiServiceBrowser.h"
#include "support/PumpedMainQueue.h"
#include "linux/avahi/Rig.h"
#include "speaker_browser/FoldingCollator.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 20s;  // guards against hangs only

// These tests stop avahi-daemon #1: they run alone, and leave it running.
class AvahiDaemonRestartTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rig::useNetwork(); }

  void SetUp() override {
    ASSERT_TRUE(rig::avahiRunning()) << "avahi-daemon of the test network is not running: scripts/airplay-network up";
  }
  void TearDown() override { EXPECT_EQ(rig::command("start-avahi"), 0); }

  [[nodiscard]] bool listed(const std::string& name) const {
    const auto& list = speakers->speakers();
    return std::ranges::find(list, name, &Speaker::name) != list.end();
  }
  [[nodiscard]] bool wholeNetworkListed() const {
    return listed("Salón") && listed("cocina") && listed("Baño") && listed("Dormitorio");
  }

  void startBrowsing() {
    dnssd = std::make_unique<AvahiServiceBrowser>(queue, log);
    speakers = std::make_unique<SpeakerBrowser>(*dnssd, queue, collator, "");
    speakers->changed.connect([this] {
      if (speakers->speakers().empty()) ++emptyLists;
    });
    speakers->start();
  }

  rig::PumpedMainQueue queue;
  rig::TestLog log;
  fakes::FoldingCollator collator;
  std::unique_ptr<AvahiServiceBrowser> dnssd;
  std::unique_ptr<SpeakerBrowser> speakers;
  int emptyLists = 0;
};

TEST_F(AvahiDaemonRestartTest, SpeakerBrowser_ListRecoversAfterDaemonRestart) {
  startBrowsing();
  ASSERT_TRUE(queue.pumpUntil([&] { return wholeNetworkListed(); }, kLimit));
  ASSERT_EQ(rig::command("restart-avahi"), 0);
  ASSERT_TRUE(queue.pumpUntil([&] { return emptyLists > 0; }, kLimit)) << "the daemon's departure went unnoticed";
  ASSERT_TRUE(queue.pumpUntil([&] { return wholeNetworkListed(); }, kLimit));
  EXPECT_FALSE(speakers->searching());
  EXPECT_FALSE(dnssd->hostName().empty());
}

TEST_F(AvahiDaemonRestartTest, SpeakerBrowser_WaitsForADaemonThatStartsLater) {
  ASSERT_EQ(rig::command("stop-avahi"), 0);
  startBrowsing();
  queue.pumpFor(1500ms);
  EXPECT_TRUE(speakers->searching());
  EXPECT_TRUE(speakers->speakers().empty());
  EXPECT_TRUE(dnssd->hostName().empty());

  ASSERT_EQ(rig::command("start-avahi"), 0);
  ASSERT_TRUE(queue.pumpUntil([&] { return wholeNetworkListed(); }, kLimit));
  EXPECT_FALSE(speakers->searching());
}

}  // namespace
}  // namespace brontide
