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
  explicit SpeakerBrowserTest(std::string ownName = "Portátil de Ana") {
    speakers = std::make_unique<SpeakerBrowser>(browser, queue, collator, std::move(ownName));
    speakers->changed.connect([this] { ++changes; });
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
  EXPECT_TRUE(browser.browsed.empty());
  speakers->start();
  speakers->start();
  ASSERT_EQ(browser.browsed.size(), 1u);
  EXPECT_EQ(browser.browsed[0].first, "_airplay._tcp");
}

ServiceResult withoutModelKey(std::string name) {
  auto result = service(std::move(name), std::nullopt);
  result.txt = std::map<std::string, std::string>{{"deviceid", "AA:BB"}};
  return result;
}

struct ListingCase {
  const char* name;
  std::vector<ServiceResult> found;
  std::vector<Speaker> listed;
};

class SpeakerBrowserListingTest : public SpeakerBrowserTest, public testing::WithParamInterface<ListingCase> {};

TEST_P(SpeakerBrowserListingTest, SpeakerBrowser_ListsWhatThePanelShows) {
  speakers->start();
  publish(GetParam().found);
  EXPECT_EQ(speakers->speakers(), GetParam().listed);
  EXPECT_FALSE(speakers->searching());
}

INSTANTIATE_TEST_SUITE_P(
    Listings, SpeakerBrowserListingTest,
    testing::Values(
        ListingCase{"homePodsFirstThenByNameIgnoringCase",
                    {service("Salón", "AppleTV6,2"), service("cocina", "AudioAccessory1,1"),
                     service("Baño", std::nullopt), service("Dormitorio", "AudioAccessory5,1")},
                    {{"cocina", "AudioAccessory1,1"}, {"Dormitorio", "AudioAccessory5,1"}, {"Baño", ""},
                     {"Salón", "AppleTV6,2"}}},
        ListingCase{"equalNamesKeepTheirOrder",
                    {service("sala", "B"), service("Sala2", "C"), service("SALA", "A")},
                    {{"sala", "B"}, {"SALA", "A"}, {"Sala2", "C"}}},
        ListingCase{"withoutOwnAndLocalReceivers",
                    {service("Portátil de Ana", "Mac14,3"), service("Estudio", "MacBookPro18,3"),
                     service("Altavoz propio", "", /*local=*/true)},
                    {{"Estudio", "MacBookPro18,3"}}},
        ListingCase{"firstResultPerNameWins",
                    {service("Salón", "AppleTV6,2"), service("Salón", "AudioAccessory1,1"),
                     service("Salón", std::nullopt)},
                    {{"Salón", "AppleTV6,2"}}},
        ListingCase{"missingModelKeyGivesNoModel", {withoutModelKey("Cocina")}, {{"Cocina", ""}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SpeakerBrowserTest, SpeakerBrowser_EmptyNetworkEndsSearchThreeSecondsAfterReady) {
  speakers->start();
  queue.advance(10s);  // not ready yet: nothing ends the search
  EXPECT_TRUE(speakers->searching());
  browser.ready();
  queue.advance(2999ms);
  EXPECT_TRUE(speakers->searching());
  queue.advance(1ms);
  EXPECT_FALSE(speakers->searching());
  EXPECT_TRUE(speakers->speakers().empty());
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_FirstNonEmptyListEndsSearch) {
  speakers->start();
  publish({});
  EXPECT_TRUE(speakers->searching());
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_FALSE(speakers->searching());
  browser.ready();
  queue.advance(3s);
  EXPECT_FALSE(speakers->searching());
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"});
  publish({});  // everything gone: the search does not start again
  EXPECT_TRUE(speakers->speakers().empty());
  EXPECT_FALSE(speakers->searching());
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_NotifiesEveryPublication) {
  speakers->start();
  publish({service("cocina", "AudioAccessory1,1")});
  publish({service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(changes, 2);
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_LateEventsAfterDestructionDoNothing) {
  speakers->start();
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

class SpeakerBrowserHostNameTest : public SpeakerBrowserTest {
 protected:
  SpeakerBrowserHostNameTest() : SpeakerBrowserTest("") {}
};

TEST_F(SpeakerBrowserHostNameTest, SpeakerBrowser_HostNameStandsInForAnEmptyOwnName) {
  speakers->start();
  publish({service("vm", "Mac14,3"), service("cocina", "AudioAccessory1,1")});
  EXPECT_EQ(names(), (std::vector<std::string>{"cocina", "vm"}));
  browser.hostName("vm");
  EXPECT_EQ(names(), std::vector<std::string>{"cocina"});
  publish({service("vm", "Mac14,3"), service("vm-2", "Mac14,3")});
  EXPECT_EQ(names(), std::vector<std::string>{"vm-2"});
}

TEST_F(SpeakerBrowserTest, SpeakerBrowser_GivenOwnNameOutranksHostName) {
  speakers->start();
  browser.hostName("vm");
  publish({service("vm", "Mac14,3"), service("Portátil de Ana", "Mac14,3")});
  EXPECT_EQ(names(), std::vector<std::string>{"vm"});
}

}  // namespace
}  // namespace brontide
