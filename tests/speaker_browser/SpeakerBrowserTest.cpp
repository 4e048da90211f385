#include "speaker_browser/SpeakerBrowser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

#include "fakes/SimpleCollator.h"
#include "fakes/VirtualMainQueue.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/SpeakerListing.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using fakes::service;

TEST(SpeakerTest, Speaker_KindAndSymbolFollowModelAndEachListsAsOneLine) {
  struct Row {
    const char* model;
    const char* kind;
    const char* symbol;
  };
  for (const auto& row : {Row{"AudioAccessory5,1", "HomePod mini", "homepodmini.fill"},
                          Row{"AudioAccessory1,1", "HomePod", "homepod.fill"},
                          Row{"AudioAccessory5,1 ", "HomePod", "homepod.fill"},
                          Row{"AudioAccessory", "HomePod", "homepod.fill"},
                          Row{"AppleTV6,2", "Apple TV", "appletv.fill"},
                          Row{"Mac14,3", "Mac", "laptopcomputer"},
                          Row{"", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"audioaccessory5,1", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"appletv6,2", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"mac14,3", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"iMac21,1", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{" AppleTV6,2", "Altavoz AirPlay", "hifispeaker.fill"}}) {
    const Speaker speaker{"Sala", row.model};
    EXPECT_EQ(speaker.kind(), row.kind) << row.model;
    EXPECT_EQ(speaker.symbol(), row.symbol) << row.model;
  }
  EXPECT_EQ(speakerLine({"Baño", ""}), "Baño\tAltavoz AirPlay\t");
  EXPECT_EQ(speakerLine({"Sala 🎵", "AppleTV6,2"}), "Sala 🎵\tApple TV\tAppleTV6,2");
  EXPECT_EQ(speakerLine({"a\tb\nc\x7f", "x\ry"}), "a\\x09b\\x0ac\\x7f\tAltavoz AirPlay\tx\\x0dy");
}

// A browser or a one-shot listing over a fake DNS-SD browser on a virtual clock.
class SpeakerBrowserTest : public testing::Test {
 protected:
  // A started browser; a new one replaces the last, which then hears nothing more.
  void make(std::string ownName = "Portátil de Ana") {
    speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, std::move(ownName));
    speakers->changed.connect([this] { ++heard; });
    speakers->start();
  }
  void publish(std::vector<ServiceResult> set) {
    browser.results(std::move(set));
    queue.runReady();
  }
  [[nodiscard]] std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& s : speakers->speakers()) out.push_back(s.name);
    return out;
  }
  void collect() {
    collectSpeakers(browser, queue, collator, "", 4s, [this](std::expected<std::vector<Speaker>, std::string> r) {
      ++heard;
      outcome = std::move(r);
    });
  }

  fakes::VirtualMainQueue queue;
  fakes::FakeServiceBrowser browser;
  fakes::SimpleCollator collator;
  std::unique_ptr<SpeakerBrowser> speakers;
  int heard = 0;  // change notifications, or listing results
  std::optional<std::expected<std::vector<Speaker>, std::string>> outcome;
};

TEST_F(SpeakerBrowserTest, ArrangeSpeakers_ListsWhatThePanelShows) {
  auto withoutModelKey = service("Cocina", std::nullopt);
  withoutModelKey.txt = std::map<std::string, std::string>{{"deviceid", "AA:BB"}};
  struct Listing {
    const char* name;
    std::vector<ServiceResult> found;
    std::vector<Speaker> listed;
  };
  for (const auto& [name, found, listed] : {
           Listing{"homePodsFirstThenByNameIgnoringCase",
                   {service("Salón", "AppleTV6,2"), service("cocina", "AudioAccessory1,1"),
                    service("Baño", std::nullopt), service("Dormitorio", "AudioAccessory5,1")},
                   {{"cocina", "AudioAccessory1,1"}, {"Dormitorio", "AudioAccessory5,1"}, {"Baño", ""},
                    {"Salón", "AppleTV6,2"}}},
           Listing{"equalNamesKeepTheirOrder",
                   {service("sala", "B"), service("Sala2", "C"), service("SALA", "A")},
                   {{"sala", "B"}, {"SALA", "A"}, {"Sala2", "C"}}},
           Listing{"withoutOwnAndLocalReceivers",
                   {service("Portátil de Ana", "Mac14,3"), service("Estudio", "MacBookPro18,3"),
                    service("Altavoz propio", "", /*local=*/true)},
                   {{"Estudio", "MacBookPro18,3"}}},
           Listing{"firstResultPerNameWins",
                   {service("Salón", "AppleTV6,2"), service("Salón", "AudioAccessory1,1"),
                    service("Salón", std::nullopt)},
                   {{"Salón", "AppleTV6,2"}}},
           Listing{"missingModelKeyGivesNoModel", {withoutModelKey}, {{"Cocina", ""}}}}) {
    EXPECT_EQ(arrangeSpeakers(found, "Portátil de Ana", collator), listed) << name;
  }
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_SearchEndsWithTheFirstSpeakersOrThreeSecondsAfterReady) {
  speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, "");
  EXPECT_TRUE(browser.browsed.empty());
  speakers->start();
  speakers->start();
  ASSERT_EQ(browser.browsed.size(), 1u);
  EXPECT_EQ(browser.browsed[0].first, "_airplay._tcp");
  queue.advance(10s);  // not ready yet: nothing ends the search
  EXPECT_TRUE(speakers->searching());
  browser.ready();
  queue.advance(2999ms);
  EXPECT_TRUE(speakers->searching());
  queue.advance(1ms);
  EXPECT_FALSE(speakers->searching());
  EXPECT_TRUE(speakers->speakers().empty());

  make();
  publish({});
  EXPECT_TRUE(speakers->searching());
  browser.results({service("Salón", "AppleTV6,2")});
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"}) << "sets apply in the order they arrive";
  EXPECT_FALSE(speakers->searching());
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(heard, 4) << "every publication notifies";
  browser.ready();
  queue.advance(3s);
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"});
  publish({});  // everything gone: the search does not start again
  EXPECT_TRUE(speakers->speakers().empty());
  EXPECT_FALSE(speakers->searching());
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_HostNameStandsInOnlyForAnEmptyOwnNameAndLateEventsDoNothing) {
  make();
  browser.hostName("vm");
  publish({service("vm", "Mac14,3"), service("Portátil de Ana", "Mac14,3")});
  EXPECT_EQ(names(), std::vector<std::string>{"vm"});

  make("");
  publish({service("vm", "Mac14,3"), service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(names(), (std::vector<std::string>{"cocina", "vm"}));
  browser.hostName("vm");
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"});
  publish({service("vm", "Mac14,3"), service("vm-2", "Mac14,3")});
  EXPECT_EQ(names(), std::vector<std::string>{"vm-2"});

  browser.ready();
  browser.results({service("Salón", "AppleTV6,2")});  // pending on the queue
  speakers.reset();
  heard = 0;
  queue.advance(5s);
  browser.results({service("Salón", "AppleTV6,2")});
  browser.ready();
  browser.hostName("otra");
  queue.advance(5s);
  EXPECT_EQ(heard, 0);
}

TEST_F(SpeakerBrowserTest, SpeakerListing_WaitsAfterReadyAndKeepsResolvedOnly) {
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
  EXPECT_EQ(heard, 1);
}

TEST_F(SpeakerBrowserTest, SpeakerListing_NoDaemonEndsWithAMessage) {
  collect();
  queue.advance(10s);
  ASSERT_TRUE(outcome);
  ASSERT_FALSE(*outcome);
  EXPECT_NE(outcome->error().find("avahi-daemon"), std::string::npos);
  browser.ready();
  queue.advance(10s);
  EXPECT_EQ(heard, 1);
}

}  // namespace
}  // namespace brontide
