#include "speaker_browser/SpeakerBrowser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "fakes/VirtualMainQueue.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/FoldingCollator.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using fakes::service;

class SpeakerBrowserTest : public testing::Test {
 protected:
  // A started browser; a new one replaces the last, which then hears nothing more.
  void make(std::string ownName = "Portátil de Ana") {
    speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, std::move(ownName));
    speakers->changed.connect([this] { ++changes; });
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

  fakes::VirtualMainQueue queue;
  fakes::FakeServiceBrowser browser;
  fakes::FoldingCollator collator;
  std::unique_ptr<SpeakerBrowser> speakers;
  int changes = 0;
};

TEST_F(SpeakerBrowserTest, SpeakerBrowser_StartBrowsesAirPlayOnce) {
  speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, "");
  EXPECT_TRUE(browser.browsed.empty());
  speakers->start();
  speakers->start();
  ASSERT_EQ(browser.browsed.size(), 1u);
  EXPECT_EQ(browser.browsed[0].first, "_airplay._tcp");
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_ListsWhatThePanelShows) {
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
    SCOPED_TRACE(name);
    make();
    publish(found);
    EXPECT_EQ(speakers->speakers(), listed);
    EXPECT_FALSE(speakers->searching());
  }
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_EmptyNetworkEndsSearchThreeSecondsAfterReady) {
  make();
  queue.advance(10s);  // not ready yet: nothing ends the search
  EXPECT_TRUE(speakers->searching());
  browser.ready();
  queue.advance(2999ms);
  EXPECT_TRUE(speakers->searching());
  queue.advance(1ms);
  EXPECT_FALSE(speakers->searching());
  EXPECT_TRUE(speakers->speakers().empty());
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_FirstNonEmptyListEndsSearchAndEveryPublicationNotifies) {
  make();
  publish({});
  EXPECT_TRUE(speakers->searching());
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_FALSE(speakers->searching());
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(changes, 3);
  browser.ready();
  queue.advance(3s);
  EXPECT_FALSE(speakers->searching());
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"});
  publish({});  // everything gone: the search does not start again
  EXPECT_TRUE(speakers->speakers().empty());
  EXPECT_FALSE(speakers->searching());
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_LateEventsAfterDestructionDoNothing) {
  make();
  browser.ready();
  browser.results({service("cocina", "AudioAccessory1,1")});  // pending on the queue
  speakers.reset();
  queue.advance(5s);
  browser.results({service("Salón", "AppleTV6,2")});
  browser.ready();
  browser.hostName("otra");
  queue.advance(5s);
  EXPECT_EQ(changes, 0);
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_HostNameStandsInOnlyForAnEmptyOwnName) {
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
}

}  // namespace
}  // namespace brontide
