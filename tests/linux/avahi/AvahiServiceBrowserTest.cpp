#include "linux/avahi/AvahiServiceBrowser.h"

#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "fakes/VirtualMainQueue.h"
#include "linux/avahi/Rig.h"
#include "speaker_browser/FoldingCollator.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::linux::avahi {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 20s;  // guards against hangs only

// Other tests publish on the same network: records of this process carry its pid.
std::string unique(const std::string& name) { return name + " " + std::to_string(getpid()); }

// Publishes one service through avahi-daemon #1, the daemon the browser uses, so that it counts as this machine's
// own; its TXT record can be changed in place.
class LocalPublisher {
 public:
  LocalPublisher(const std::string& name, int port, const std::vector<std::string>& txt) : name_(name) {
    poll_ = avahi_threaded_poll_new();
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags{}, [](AvahiClient*, AvahiClientState, void*) {},
                               nullptr, &error);
    EXPECT_NE(client_, nullptr) << avahi_strerror(error);
    if (!client_) return;
    group_ = avahi_entry_group_new(client_, [](AvahiEntryGroup*, AvahiEntryGroupState, void*) {}, nullptr);
    AvahiStringList* list = strings(txt);
    EXPECT_EQ(avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags{},
                                                  name.c_str(), "_airplay._tcp", nullptr, nullptr,
                                                  static_cast<std::uint16_t>(port), list),
              0);
    avahi_string_list_free(list);
    EXPECT_EQ(avahi_entry_group_commit(group_), 0);
    avahi_threaded_poll_start(poll_);
  }
  ~LocalPublisher() {
    avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
  }
  LocalPublisher(const LocalPublisher&) = delete;
  LocalPublisher& operator=(const LocalPublisher&) = delete;

  void updateTxt(const std::vector<std::string>& txt) {
    avahi_threaded_poll_lock(poll_);
    AvahiStringList* list = strings(txt);
    EXPECT_EQ(avahi_entry_group_update_service_txt_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                                         AvahiPublishFlags{}, name_.c_str(), "_airplay._tcp",
                                                         nullptr, list),
              0);
    avahi_string_list_free(list);
    avahi_threaded_poll_unlock(poll_);
  }

 private:
  static AvahiStringList* strings(const std::vector<std::string>& txt) {
    AvahiStringList* list = nullptr;
    // avahi string lists are newest-first: add in reverse to publish in the given order.
    for (auto it = txt.rbegin(); it != txt.rend(); ++it) list = avahi_string_list_add(list, it->c_str());
    return list;
  }

  std::string name_;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
};

// The browser against the loopback network of scripts/airplay-network. One test stops avahi-daemon #1, so the
// suite runs alone; every test leaves the daemon running.
class AvahiNetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rig::useNetwork(); }

  void SetUp() override {
    ASSERT_TRUE(rig::avahiRunning()) << "avahi-daemon of the test network is not running: scripts/airplay-network up";
    dnssd = std::make_unique<AvahiServiceBrowser>(queue, log);
  }
  void TearDown() override { EXPECT_EQ(rig::command("start-avahi"), 0); }

  // Browses `_airplay._tcp` directly, keeping the latest set.
  void browseRaw() {
    ServiceBrowser::Handlers handlers;
    handlers.resultsChanged = [this](std::vector<ServiceResult> set) { results = std::move(set); };
    handlers.ready = [this] { ++readies; };
    dnssd->browse("_airplay._tcp", std::move(handlers));
  }

  [[nodiscard]] std::optional<ServiceResult> result(const std::string& name) const {
    const auto it = std::ranges::find(results, name, &ServiceResult::name);
    return it == results.end() ? std::nullopt : std::optional(*it);
  }

  [[nodiscard]] bool resolved(const std::string& name) const {
    const auto r = result(name);
    return r && r->txt;
  }

  // The speaker list over the same browser, counting the times it went empty.
  void browseSpeakers() {
    speakers = std::make_unique<SpeakerBrowser>(*dnssd, queue, collator, "");
    speakers->changed.connect([this] {
      if (speakers->speakers().empty()) ++emptyLists;
    });
    speakers->start();
  }
  [[nodiscard]] bool listed(const std::string& name) const {
    return std::ranges::find(speakers->speakers(), name, &Speaker::name) != speakers->speakers().end();
  }

  fakes::VirtualMainQueue queue;
  rig::EchoLog log;
  fakes::FoldingCollator collator;
  std::unique_ptr<AvahiServiceBrowser> dnssd;
  std::unique_ptr<SpeakerBrowser> speakers;
  std::vector<ServiceResult> results;
  int readies = 0;
  int emptyLists = 0;
};

TEST_F(AvahiNetworkTest, AvahiServiceBrowser_AServiceWhoseHostHasNoAddressYetIsAskedAgain) {
  browseRaw();
  const auto name = unique("Cocina");
  const auto host = "cocina-" + std::to_string(getpid()) + ".local";
  rig::Publication cocina(name, 7102, {"model=AudioAccessory5,1"}, "_airplay._tcp", host);
  const auto failedOnce = [&] {
    return std::ranges::count_if(log.kept.lines(), [&](const std::string& l) { return l.contains(name); }) == 1;
  };
  ASSERT_TRUE(queue.pumpUntil(failedOnce, kLimit));
  EXPECT_TRUE(result(name) && !resolved(name)) << "listed, waiting for its host";

  const auto address = rig::Publication::address(host, "127.0.0.1");
  ASSERT_TRUE(queue.pumpUntil([&] { return resolved(name); }, kLimit));
  EXPECT_EQ(result(name)->address, "127.0.0.1");
  EXPECT_EQ(result(name)->txt->at("model"), "AudioAccessory5,1");
}

struct OddRecord {
  std::string name;
  std::vector<std::string> txt;
  std::optional<std::string> model;  // expected TXT "model"
};

TEST_F(AvahiNetworkTest, AvahiServiceBrowser_RecordsComeWithOddNamesAndTxtChangeAndGo) {
  auto label63 = unique("Salón") + " ";  // the longest DNS label
  while (label63.size() < 62) label63 += "ñ";
  if (label63.size() < 63) label63 += "a";
  ASSERT_EQ(label63.size(), 63u);
  const std::vector<OddRecord> records{
      {unique("Ñandú Ñoño Pingüino"), {"model=AudioAccessory6,1", "deviceid=AA:BB:CC:DD:EE:01"}, "AudioAccessory6,1"},
      {unique("Fiesta 🎉🔊"), {"model=AppleTV11,1"}, "AppleTV11,1"},
      {label63, {"model=MacBookPro18,3"}, "MacBookPro18,3"},
      {unique("Tab\tSalto\nFin\x01"), {"model=Sonos"}, "Sonos"},
      {unique("Punto. y \\barra"), {"model="}, ""},
      {unique("Duplicado"), {"model=Primero", "model=Segundo"}, "Primero"},
      {unique("Mayúsculas"), {"MODEL=AudioAccessory1,1"}, "AudioAccessory1,1"},
      {unique("Sin valor"), {"model"}, ""},
      {unique("Largo"), {"model=" + std::string(240, 'x')}, std::string(240, 'x')},
      {unique("Bytes rotos"), {"model=Apple\xff\xfeTV"}, "Apple\xEF\xBF\xBD\xEF\xBF\xBDTV"},
      {unique("Vacío"), {"=sinclave", "otra=1"}, std::nullopt},
  };
  browseRaw();
  const auto own = unique("Receptor propio");  // published by this machine's daemon
  LocalPublisher ownRecord(own, 7101, {"model=Mac14,3"});
  std::vector<std::unique_ptr<rig::Publication>> published;
  int port = 7200;
  for (const auto& r : records) published.push_back(std::make_unique<rig::Publication>(r.name, port++, r.txt));

  ASSERT_TRUE(queue.pumpUntil(
      [&] { return resolved(own) && std::ranges::all_of(records, [&](auto& r) { return resolved(r.name); }); },
      kLimit))
      << "missing records";
  EXPECT_TRUE(result(own)->local);
  for (const auto& r : records) {
    SCOPED_TRACE(r.name);
    const auto found = result(r.name);
    const auto& txt = *found->txt;
    const auto model = txt.find("model");
    EXPECT_EQ(model == txt.end() ? std::nullopt : std::optional(model->second), r.model);
  }
  const auto first = *result(records.front().name);
  EXPECT_EQ(first.txt->at("deviceid"), "AA:BB:CC:DD:EE:01");
  EXPECT_EQ(first.address, "127.0.0.1");
  EXPECT_EQ(first.port, 7200);
  EXPECT_FALSE(first.local);
  EXPECT_GE(readies, 1);

  ownRecord.updateTxt({"model=Mac15,1"});
  ASSERT_TRUE(queue.pumpUntil([&] { return resolved(own) && result(own)->txt->at("model") == "Mac15,1"; }, kLimit));
  published.front()->withdraw();
  ASSERT_TRUE(queue.pumpUntil([&] { return !result(records.front().name); }, kLimit));
  EXPECT_TRUE(result(records.back().name));
}

TEST_F(AvahiNetworkTest, SpeakerBrowser_WaitsForTheDaemonAndRecoversAfterItRestarts) {
  ASSERT_EQ(rig::command("stop-avahi"), 0);
  dnssd = std::make_unique<AvahiServiceBrowser>(queue, log);  // made while the daemon is away
  browseSpeakers();
  queue.pumpFor(1500ms);
  EXPECT_TRUE(speakers->searching());
  EXPECT_TRUE(speakers->speakers().empty());
  EXPECT_TRUE(dnssd->hostName().empty());

  // AirPlay 2 only, AirPlay 1 only ("Despacho"), and one device under two names ("Comedor", once).
  const auto wholeNetworkListed = [&] {
    return listed("Salón") && listed("cocina") && listed("Baño") && listed("Dormitorio") && listed("Despacho") &&
           listed("Comedor") && listed("Terraza") && !listed("Sala");
  };
  ASSERT_EQ(rig::command("start-avahi"), 0);
  ASSERT_TRUE(queue.pumpUntil(wholeNetworkListed, kLimit));
  EXPECT_FALSE(speakers->searching());

  ASSERT_EQ(rig::command("restart-avahi"), 0);
  ASSERT_TRUE(queue.pumpUntil([&] { return emptyLists > 0; }, kLimit)) << "the daemon's departure went unnoticed";
  ASSERT_TRUE(queue.pumpUntil(wholeNetworkListed, kLimit));
  EXPECT_FALSE(speakers->searching());
  EXPECT_FALSE(dnssd->hostName().empty());
}

}  // namespace
}  // namespace brontide::linux::avahi
