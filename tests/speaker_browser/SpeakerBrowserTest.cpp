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
using fakes::raop;
using fakes::service;
using Txt = std::map<std::string, std::string>;

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
      // Kept apart: GCC 12 at -O2 miscompiles moving the expected into an optional here (a double free).
      if (r) listed = std::move(*r);
      else error = r.error();
    });
  }

  fakes::VirtualMainQueue queue;
  fakes::FakeServiceBrowser browser;
  fakes::SimpleCollator collator;
  std::unique_ptr<SpeakerBrowser> speakers;
  int heard = 0;  // change notifications, or listing results
  std::vector<Speaker> listed;  // a listing's result
  std::string error;            // or its message
};

TEST_F(SpeakerBrowserTest, CatalogueDevices_ListsWhatThePanelAndTheMenuShow) {
  auto withoutModelKey = service("Cocina", std::nullopt);
  withoutModelKey.txt = Txt{{"deviceid", "AA:BB"}};
  auto byDeviceId = service("Sala de estar", "AudioAccessory5,1");
  byDeviceId.txt->emplace("deviceid", "0a:1b:2c");
  struct Listing {
    const char* name;
    std::vector<ServiceResult> found;
    std::vector<Speaker> listed;
    std::vector<ServiceResult> receivers = {};  // `_raop._tcp`
    std::vector<int> ports = {};                // of each device's `_raop._tcp` record, 0 for none
  };
  for (const auto& [name, found, listed, receivers, ports] : {
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
           Listing{"missingModelKeyGivesNoModel", {withoutModelKey}, {{"Cocina", ""}}},
           Listing{"pairedByDeviceIdElseByNameAndAirPlay1OnlyWithItsModel",
                   {byDeviceId, service("Baño", std::nullopt), service("Cocina", "")},
                   {{"Cocina", "AudioAccessory1,1"}, {"Sala de estar", "AudioAccessory5,1"}, {"Baño", ""},
                    {"Despacho", "AppleTV3,2"}},
                   {raop("0A1B2C@Salita", "127.0.0.1", 5001, {{"am", "AppleTV3,2"}}),
                    raop("BB@Cocina", "127.0.0.1", 5002, {{"am", "AudioAccessory1,1"}}),
                    raop("CC@Despacho", "127.0.0.1", 5003, {{"am", "AppleTV3,2"}}),
                    raop("DD@Terraza", "", 0, {{"am", "AudioAccessory1,1"}}),
                    raop("EE@Portátil de Ana", "127.0.0.1", 5004)},
                   {5002, 5001, 0, 5003}}}) {
    std::vector<Speaker> speakers;
    std::vector<int> raopPorts;
    for (const auto& entry : catalogueDevices(found, receivers, "Portátil de Ana", collator)) {
      speakers.push_back(entry.speaker);
      raopPorts.push_back(entry.raop ? entry.raop->port : 0);
    }
    EXPECT_EQ(speakers, listed) << name;
    EXPECT_EQ(raopPorts, ports.empty() ? std::vector<int>(listed.size()) : ports) << name;
  }
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_SearchEndsWithTheFirstSpeakersOrThreeSecondsAfterReady) {
  speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, "");
  EXPECT_TRUE(browser.browsed.empty());
  speakers->start();
  speakers->start();
  ASSERT_EQ(browser.browsed.size(), 2u);
  EXPECT_EQ(browser.browsed[0].first, "_raop._tcp");
  EXPECT_EQ(browser.browsed[1].first, "_airplay._tcp");
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
  browser.browsed[2].second.resultsChanged({raop("AB@Despacho", "127.0.0.1", 5000)});
  queue.runReady();
  EXPECT_EQ(names(), (std::vector<std::string>{"cocina", "Despacho"})) << "AirPlay 1 receivers too";
  browser.browsed[2].second.resultsChanged({});
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
  ASSERT_EQ(browser.browsed.size(), 2u);
  EXPECT_EQ(browser.browsed[0].first, "_raop._tcp");
  browser.browsed[0].second.resultsChanged({raop("AB@Despacho", "127.0.0.1", 5000, {{"am", "AppleTV3,2"}})});
  queue.advance(2s);
  browser.ready();
  browser.hostName("vm");
  browser.results({service("Salón", "AppleTV6,2")});
  queue.advance(3s);
  browser.results({service("Salón", "AppleTV6,2"), service("cocina", "AudioAccessory1,1"),
                   service("Pendiente", std::nullopt), service("vm", "Mac14,3")});
  EXPECT_EQ(heard, 0);
  queue.advance(1s);
  ASSERT_EQ(heard, 1);
  EXPECT_EQ(listed, (std::vector<Speaker>{{"cocina", "AudioAccessory1,1"}, {"Despacho", "AppleTV3,2"},
                                             {"Salón", "AppleTV6,2"}}));
  browser.ready();
  queue.advance(20s);
  EXPECT_EQ(heard, 1);
}

TEST_F(SpeakerBrowserTest, SpeakerListing_NoDaemonEndsWithAMessage) {
  collect();
  queue.advance(10s);
  ASSERT_EQ(heard, 1);
  EXPECT_NE(error.find("avahi-daemon"), std::string::npos);
  browser.ready();
  queue.advance(10s);
  EXPECT_EQ(heard, 1);
}

}  // namespace
}  // namespace brontide
