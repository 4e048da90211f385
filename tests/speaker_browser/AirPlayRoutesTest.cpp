#include "speaker_browser/AirPlayRoutes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "fakes/MemoryPreferences.h"
#include "fakes/RecordingLog.h"
#include "fakes/SimpleCollator.h"
#include "fakes/VirtualMainQueue.h"
#include "speaker_browser/FakeAirPlayOutput.h"
#include "speaker_browser/FakePasswords.h"
#include "speaker_browser/FakeServiceBrowser.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using Txt = std::map<std::string, std::string>;
using OutputRoute = fakes::FakeAirPlayOutput::Route;
using fakes::raop;

ServiceResult airplay(std::string name, std::string model, std::string deviceId = {}) {
  Txt txt{{"model", std::move(model)}};
  if (!deviceId.empty()) txt["deviceid"] = std::move(deviceId);
  return ServiceResult{.name = std::move(name), .txt = std::move(txt), .local = false, .address = "127.0.0.1",
                       .port = 7000};
}

TEST(ArrangeReceiversTest, ArrangeReceivers_OneEntryPerDevicePairedByDeviceIdOrNameInTheCataloguesOrder) {
  fakes::SimpleCollator collator;
  const std::vector<ServiceResult> found{
      raop("AA11@terraza", "127.0.0.1", 5101),
      raop("BB22@Estudio", "127.0.0.2", 5102),
      raop("CC33@Estudio", "127.0.0.3", 5103),           // same name, other device: the first stays
      raop("DD44@Cocina", "", 0),                         // not resolved yet
      raop("EE55@Portátil", "127.0.0.5", 5105),           // this computer by name
      raop("FF66@Propio", "127.0.0.6", 5106, {}, true),   // published by this machine
      raop("SinArroba", "127.0.0.7", 5107),
      ServiceResult{.name = "1A@Sin TXT", .txt = std::nullopt, .local = false, .address = "127.0.0.8", .port = 1},
  };
  // By name, by device id under another name (colons and case aside), and one without AirPlay 1 audio.
  const std::vector<ServiceResult> companions{airplay("terraza", "AudioAccessory5,1"),
                                              airplay("Estudio grande", "AppleTV5,3", "b:b2:2"),
                                              airplay("Otro", "AppleTV6,2")};
  const auto kept = arrangeReceivers(found, companions, "Portátil", collator);
  std::vector<std::string> names;
  for (const auto& k : kept) names.push_back(k.receiver.name + (k.drivable ? " " : " greyed ") + k.model);
  EXPECT_EQ(names, (std::vector<std::string>{"terraza AudioAccessory5,1", "Estudio grande AppleTV5,3",
                                             "Otro greyed AppleTV6,2", "SinArroba "}));
  EXPECT_EQ(kept[1].receiver.address, "127.0.0.2");
  EXPECT_EQ(kept[1].receiver.port, 5102);
}

TEST(ArrangeReceiversTest, ArrangeReceivers_ReadsTransportEncryptionAndPassword) {
  struct Row {
    Txt txt;
    AirPlayTransport transport;
    AirPlayEncryption encryption;
    bool password;
  };
  fakes::SimpleCollator collator;
  for (const auto& row : {Row{{}, AirPlayTransport::udp, AirPlayEncryption::none, false},
                          Row{{{"et", "0,1"}, {"tp", "TCP,UDP"}}, AirPlayTransport::udp, AirPlayEncryption::none, false},
                          Row{{{"et", "1"}, {"tp", "TCP"}}, AirPlayTransport::tcp, AirPlayEncryption::rsa, false},
                          Row{{{"et", "0,4"}, {"pw", "false"}}, AirPlayTransport::udp, AirPlayEncryption::authSetup,
                              false},
                          Row{{{"et", "0,3,5"}, {"tp", "udp"}}, AirPlayTransport::udp, AirPlayEncryption::none, false},
                          Row{{{"et", "10"}, {"pw", "true"}}, AirPlayTransport::udp, AirPlayEncryption::none, true}}) {
    const std::vector<ServiceResult> found{raop("AA@Sala", "127.0.0.1", 5000, row.txt)};
    const auto kept = arrangeReceivers(found, {}, "", collator);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].receiver.transport, row.transport);
    EXPECT_EQ(kept[0].receiver.encryption, row.encryption);
    EXPECT_EQ(kept[0].passwordRequired, row.password);
  }
}

class AirPlayRoutesTest : public testing::Test {
 protected:
  AirPlayRoutesTest() {
    restart();
  }
  // A new catalogue, as in the next run, on the same preferences.
  void restart(bool withPasswords = false) {
    routes.reset();
    routes = std::make_unique<AirPlayRoutes>(browser, output, queue, collator, preferences, log, "Portátil");
    if (withPasswords) routes->usePasswords(passwords, passwords);
    routes->start();
  }

  void publish(const std::string& type, std::vector<ServiceResult> set) {
    for (auto& [browsed, handlers] : browser.browsed)
      if (browsed == type) handlers.resultsChanged(set);
    queue.runReady();
  }
  void publishNetwork() {
    publish("_raop._tcp", {raop("AA@Terraza", "127.0.0.1", 5101), raop("BB@Estudio", "127.0.0.1", 5102),
                           raop("CC@Garaje", "127.0.0.1", 5103, {{"pw", "true"}})});
    publish("_airplay._tcp", {airplay("Terraza", "AudioAccessory5,1"), airplay("Salón", "AppleTV6,2")});
  }

  [[nodiscard]] const Route& route(const std::string& name) const {
    const auto& all = routes->routes();
    const auto it = std::ranges::find(all, name, &Route::name);
    if (it == all.end()) throw std::runtime_error("no route " + name);
    return *it;
  }
  [[nodiscard]] std::vector<std::string> names(bool selectedOnly = false) const {
    std::vector<std::string> names;
    for (const auto& r : routes->routes())
      if (r.selected || !selectedOnly) names.push_back(r.name);
    return names;
  }
  [[nodiscard]] std::vector<std::string> selected() const { return names(true); }

  fakes::VirtualMainQueue queue;
  fakes::FakeServiceBrowser browser;
  fakes::FakeAirPlayOutput output;
  fakes::FakePasswords passwords;
  fakes::SimpleCollator collator;
  fakes::MemoryPreferences preferences;
  fakes::RecordingLog log;
  std::unique_ptr<AirPlayRoutes> routes;
};

TEST_F(AirPlayRoutesTest, Routes_ListTheComputerFirstChooseNothingByThemselvesAndNeverAPasswordReceiver) {
  EXPECT_EQ(names(), (std::vector<std::string>{"Este ordenador"}));
  publishNetwork();
  EXPECT_EQ(names(), (std::vector<std::string>{"Este ordenador", "Terraza", "Estudio", "Garaje", "Salón"}));
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_EQ(route("Terraza").model, "AudioAccessory5,1");
  EXPECT_EQ(route("Terraza").state, RouteState::available);
  EXPECT_EQ(route("Garaje").state, RouteState::passwordRequired);
  EXPECT_FALSE(route("Garaje").enabled());
  EXPECT_EQ(stateText(route("Garaje").state), "Requiere contraseña");
  EXPECT_EQ(routeLine(route("Garaje")), "Garaje\tpassword");
  EXPECT_FALSE(route("Salón").enabled());
  EXPECT_EQ(stateText(route("Salón").state), "Solo AirPlay 2 (no compatible)");
  EXPECT_EQ(routeLine(route("Salón")), "Salón\tairplay2");
  routes->select("Garaje", true);
  routes->select("Salón", true);
  routes->choose({"Garaje", "Salón"});
  queue.advance(60s);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_EQ(output.opens, 0);
  EXPECT_EQ(output.route, OutputRoute::none);
}

TEST_F(AirPlayRoutesTest, ChoosingReceivers_OpensEachRoutesThePlayerToThemAloneAndTheComputerTakesItBack) {
  publishNetwork();
  routes->select("Este ordenador", false);  // never unticked alone
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  routes->select("Terraza", true);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Terraza"}));
  EXPECT_EQ(route("Terraza").state, RouteState::connecting);
  EXPECT_EQ(output.route, OutputRoute::receivers);
  const auto& receiver = output.receiver(output.sinkOf("Terraza"));
  EXPECT_EQ(receiver.address, "127.0.0.1");
  EXPECT_EQ(receiver.port, 5101);
  EXPECT_EQ(receiver.encryption, AirPlayEncryption::none);

  output.connect("Terraza");
  EXPECT_EQ(route("Terraza").state, RouteState::playing);
  routes->select("Estudio", true);
  output.connect("Estudio");
  EXPECT_EQ(selected(), (std::vector<std::string>{"Terraza", "Estudio"}));
  EXPECT_EQ(output.openNames(), (std::vector<std::string>{"Terraza", "Estudio"}));

  routes->select("Terraza", false);
  EXPECT_EQ(output.openNames(), (std::vector<std::string>{"Estudio"}));
  EXPECT_EQ(route("Terraza").state, RouteState::available);
  EXPECT_EQ(output.route, OutputRoute::receivers);
  routes->select("Estudio", false);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_TRUE(output.openNames().empty());
  EXPECT_EQ(output.route, OutputRoute::computer);

  // The computer joins the receivers, stays when one fails, and leaves them playing when unticked.
  routes->select("Terraza", true);
  routes->select("Este ordenador", true);
  routes->select("Estudio", true);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador", "Terraza", "Estudio"}));
  EXPECT_TRUE(output.local);
  EXPECT_EQ(output.route, OutputRoute::receivers);
  output.fail("Terraza");
  EXPECT_EQ(route("Este ordenador").state, RouteState::playing);
  EXPECT_TRUE(output.local);
  routes->select("Este ordenador", false);
  EXPECT_FALSE(output.local);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Terraza", "Estudio"}));
  routes->select("Este ordenador", true);
  routes->select("Terraza", false);
  routes->select("Estudio", false);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_FALSE(output.local);
  EXPECT_EQ(output.route, OutputRoute::computer);

  routes->select("Terraza", true);
  routes.reset();  // destruction closes the sinks and gives the player back
  EXPECT_TRUE(output.openNames().empty());
  EXPECT_EQ(output.route, OutputRoute::computer);
}

TEST_F(AirPlayRoutesTest, Volumes_AreEachReceiversOwnRememberedByNameAndOpenedWith) {
  preferences.setValue("speakerVolume/Estudio", "nan");  // a broken value: the default, said once
  routes->setVolume("Terraza", 0.25);                    // not listed yet: kept for when it is
  routes->setVolume("Este ordenador", 0.1);              // has no volume of its own here
  publishNetwork();
  EXPECT_EQ(route("Terraza").volume, 0.25);
  EXPECT_EQ(route("Estudio").volume, 0.5);
  EXPECT_EQ(route("Este ordenador").volume, 0.5);
  EXPECT_EQ(std::ranges::count_if(log.lines(), [](const auto& l) { return l.contains("Estudio is not a volume"); }), 1);
  routes->setVolume("Estudio", 7);
  routes->select("Terraza", true);
  routes->select("Estudio", true);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Terraza")), 0.25);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Estudio")), 1.0);
  routes->setVolume("Terraza", 0.5);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Terraza")), 0.5);
  routes->setVolume("a/b\\c%", 0.75);
  EXPECT_EQ(preferences.value("speakerVolume/a%2Fb%5Cc%25"), "0.75");
  EXPECT_FALSE(routes->receiversKeepTheirVolume());
  output.sends = false;
  EXPECT_TRUE(routes->receiversKeepTheirVolume());

  restart();  // the next run opens each with its own
  publishNetwork();
  routes->select("Terraza", true);
  routes->select("Estudio", true);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Terraza")), 0.5);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Estudio")), 1.0);
  EXPECT_EQ(route("Garaje").volume, 1.0) << "where receivers keep their own volume, nothing is taken off it";
}

TEST_F(AirPlayRoutesTest, DroppedReceiver_ShowsNoRespondeAndIsRetriedEveryFiveSecondsWithItsVolume) {
  publishNetwork();
  routes->select("Terraza", true);
  routes->select("Estudio", true);
  routes->setVolume("Terraza", 0.25);
  output.connect("Terraza");
  output.connect("Estudio");
  const int opened = output.opens;

  // That the other keeps playing and the dropped one comes back is the AirPlay end-to-end test's; here, when.
  output.fail("Terraza");
  EXPECT_EQ(route("Terraza").state, RouteState::unreachable);
  queue.advance(4999ms);
  EXPECT_EQ(output.opens, opened);
  queue.advance(1ms);
  EXPECT_EQ(output.opens, opened + 1);
  EXPECT_EQ(output.volumes.at(output.sinkOf("Terraza")), 0.25);
  EXPECT_EQ(route("Terraza").state, RouteState::unreachable);
  output.fail("Terraza");
  queue.advance(5s);
  EXPECT_EQ(output.opens, opened + 2);
  output.connect("Terraza");
  EXPECT_EQ(route("Terraza").state, RouteState::playing);
  queue.advance(30s);
  EXPECT_EQ(output.opens, opened + 2);

  routes->select("Estudio", false);
  publish("_raop._tcp", {});  // its AirPlay 1 record gone: retried where it was, greyed once unticked
  output.fail("Terraza");  // the last chosen one: the player stays off the computer until it is unticked
  EXPECT_EQ(selected(), (std::vector<std::string>{"Terraza"}));
  EXPECT_EQ(output.route, OutputRoute::receivers);
  queue.advance(5s);
  const auto retrying = output.sinkOf("Terraza");
  EXPECT_EQ(output.receiver(retrying).port, 5101);
  routes->select("Terraza", false);  // closes the retry's sink and stops the retries
  const int reopened = output.opens;
  output.handlers.failed(retrying, "late");  // a closed sink's late events change nothing
  output.handlers.connected(retrying);
  queue.advance(30s);
  EXPECT_EQ(output.opens, reopened);
  EXPECT_EQ(queue.activeTimers(), 0);
  EXPECT_EQ(route("Terraza").state, RouteState::airPlay2Only);
  EXPECT_EQ(output.route, OutputRoute::computer);
}

TEST_F(AirPlayRoutesTest, PasswordReceiver_OpensOnlyWithAPasswordItAcceptsAndAsksAgainOtherwise) {
  passwords.stored["Garaje"] = "viejo";
  restart(true);
  publishNetwork();
  ASSERT_EQ(passwords.keys.size(), 1u);
  EXPECT_EQ(passwords.keys[0].receiver, "CC");
  EXPECT_EQ(passwords.keys[0].name, "Garaje");
  passwords.answer();
  EXPECT_EQ(route("Garaje").state, RouteState::available);
  EXPECT_TRUE(route("Garaje").enabled());

  // The remembered one is wrong: nothing is opened, the computer keeps the sound and the password is asked for.
  routes->select("Garaje", true);
  EXPECT_EQ(route("Garaje").state, RouteState::connecting);
  passwords.answer();
  EXPECT_EQ(output.opens, 0);
  EXPECT_EQ(routes->passwordRequest(), (AirPlayRoutes::PasswordRequest{"Garaje", "Contraseña incorrecta"}));
  EXPECT_EQ(route("Garaje").state, RouteState::passwordRequired);
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_EQ(output.route, OutputRoute::computer);

  // The right one is remembered only once accepted, and the sink gets it.
  routes->providePassword("Garaje", "secreto", true);
  EXPECT_FALSE(routes->passwordRequest());
  EXPECT_EQ(passwords.stored["Garaje"], "viejo");
  passwords.answer();
  EXPECT_EQ(passwords.stored["Garaje"], "secreto");
  ASSERT_NE(output.sinkOf("Garaje"), 0u);
  EXPECT_EQ(output.receiver(output.sinkOf("Garaje")).password, "secreto");

  // A sink that connects but never plays does not answer; the retry checks the password again.
  output.connect("Garaje");
  queue.advance(AirPlayRoutes::kStartLimit);
  EXPECT_EQ(route("Garaje").state, RouteState::unreachable);
  EXPECT_EQ(output.sinkOf("Garaje"), 0u);
  queue.advance(AirPlayRoutes::kRetryPeriod);
  passwords.answer();
  output.handlers.streaming(output.sinkOf("Garaje"));
  queue.advance(30s);
  EXPECT_EQ(route("Garaje").state, RouteState::playing);
  EXPECT_EQ(output.opens, 2);

  routes->select("Garaje", false);
  routes->forgetPassword("Garaje");
  EXPECT_FALSE(passwords.stored.contains("Garaje"));
  EXPECT_EQ(route("Garaje").state, RouteState::passwordRequired);

  // Without a keyring the password is asked for and kept for the run; the dialog says so.
  passwords.reached = false;
  restart(true);
  publishNetwork();
  passwords.answer();
  EXPECT_TRUE(routes->keyringMissing());
  routes->choose({"Garaje"});
  EXPECT_EQ(routes->passwordRequest(), (AirPlayRoutes::PasswordRequest{"Garaje", ""}));
  EXPECT_EQ(output.opens, 2);
}

TEST_F(AirPlayRoutesTest, WantedReceivers_AreTickedWhenFoundAndStayListedOnlyWhileChosen) {
  routes->choose({"Este ordenador", "Terraza", "Nadie", "estudio"});
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  publishNetwork();
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador", "Terraza"}));
  EXPECT_TRUE(output.local);
  // A name no receiver has, in any case, is told with the names there are.
  const std::string known = ". Altavoces: Terraza, Estudio, Garaje, Salón.";
  EXPECT_EQ(routes->unfoundNotices(), (std::vector<std::string>{"No hay ningún altavoz llamado «Nadie»" + known,
                                                                "No hay ningún altavoz llamado «estudio»" + known}));
  EXPECT_EQ(output.openNames(), (std::vector<std::string>{"Terraza"}));
  output.connect("Terraza");
  publish("_raop._tcp", {});  // gone from DNS-SD while chosen
  publish("_airplay._tcp", {});
  EXPECT_EQ(names(), (std::vector<std::string>{"Este ordenador", "Terraza"}));
  EXPECT_EQ(route("Terraza").state, RouteState::playing);
  routes->select("Terraza", false);
  EXPECT_EQ(names(), (std::vector<std::string>{"Este ordenador"}));
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
  publishNetwork();  // once chosen, the command line's wish is spent
  EXPECT_EQ(selected(), (std::vector<std::string>{"Este ordenador"}));
}

TEST_F(AirPlayRoutesTest, CollectRoutes_ListsWhatIsFoundWithinTheWaitOneLineEachOrSaysNoDaemonAnswered) {
  std::optional<std::vector<Route>> listed;
  std::string error;
  const auto collect = [&] {
    browser.browsed.clear();
    collectRoutes(browser, queue, collator, log, 2s, [&](const std::expected<std::vector<Route>, std::string>& routes) {
      if (routes) listed = *routes;
      else error = routes.error();
    });
  };
  collect();
  queue.advance(2s);
  EXPECT_EQ(error, kNoDnsSdDaemon);
  EXPECT_FALSE(listed);

  collect();
  browser.browsed.front().second.ready();
  publish("_raop._tcp", {raop("AA@Terraza", "127.0.0.1", 5101), raop("BB@a\tb\nc", "127.0.0.1", 5102)});
  queue.advance(1999ms);
  EXPECT_FALSE(listed);
  queue.advance(1ms);
  ASSERT_TRUE(listed);
  std::vector<std::string> lines;
  for (const auto& route : *listed) lines.push_back(routeLine(route));
  EXPECT_EQ(lines, (std::vector<std::string>{"Este ordenador\tplaying", "a\\x09b\\x0ac\tavailable",
                                             "Terraza\tavailable"}));
}

}  // namespace
}  // namespace brontide
