#include "speaker_browser/SpeakerListing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "fakes/VirtualMainQueue.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/FoldingCollator.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using fakes::service;

class SpeakerListingTest : public testing::Test {
 protected:
  void collect(std::string ownName = "") {
    collectSpeakers(browser, queue, collator, std::move(ownName), 4s,
                    [this](std::expected<std::vector<Speaker>, std::string> r) {
                      ++calls;
                      outcome = std::move(r);
                    });
  }

  fakes::VirtualMainQueue queue;
  fakes::FakeServiceBrowser browser;
  fakes::FoldingCollator collator;
  std::optional<std::expected<std::vector<Speaker>, std::string>> outcome;
  int calls = 0;
};

TEST_F(SpeakerListingTest, SpeakerListing_WaitsAfterReadyAndKeepsResolvedOnly) {
  collect();
  ASSERT_EQ(browser.browsed.size(), 1u);
  EXPECT_EQ(browser.browsed[0].first, "_airplay._tcp");
  queue.advance(2s);
  browser.ready();
  browser.hostName("vm");
  browser.results({service("Salón", "AppleTV6,2")});
  queue.advance(3s);
  browser.results({service("Salón", "AppleTV6,2"), service("cocina", "AudioAccessory1,1"),
                   service("Pendiente", std::nullopt), service("vm", "Mac14,3")});
  EXPECT_FALSE(outcome);
  queue.advance(1s);
  ASSERT_TRUE(outcome && *outcome);
  EXPECT_EQ(**outcome, (std::vector<Speaker>{{"cocina", "AudioAccessory1,1"}, {"Salón", "AppleTV6,2"}}));
  browser.ready();
  queue.advance(20s);
  EXPECT_EQ(calls, 1);
}

TEST_F(SpeakerListingTest, SpeakerListing_NoDaemonEndsWithAMessage) {
  collect();
  queue.advance(10s);
  ASSERT_TRUE(outcome);
  ASSERT_FALSE(*outcome);
  EXPECT_NE(outcome->error().find("avahi-daemon"), std::string::npos);
  browser.ready();
  queue.advance(10s);
  EXPECT_EQ(calls, 1);
}

TEST(SpeakerLineTest, SpeakerLine_OneTabSeparatedLinePerSpeaker) {
  EXPECT_EQ(speakerLine({"cocina", "AudioAccessory1,1"}), "cocina\tHomePod\tAudioAccessory1,1");
  EXPECT_EQ(speakerLine({"Baño", ""}), "Baño\tAltavoz AirPlay\t");
  EXPECT_EQ(speakerLine({"Sala 🎵", "AppleTV6,2"}), "Sala 🎵\tApple TV\tAppleTV6,2");
  EXPECT_EQ(speakerLine({"a\tb\nc\x7f", "x\ry"}), "a\\x09b\\x0ac\\x7f\tAltavoz AirPlay\tx\\x0dy");
}

}  // namespace
}  // namespace brontide
