// Over 400 lines: the route catalogue's policy (which instance of a receiver to use, selection, retries,
// volume) and its listing lines change together, and all of it is tested with fakes through one class.
#include "speaker_browser/AirPlayRoutes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <ranges>
#include <set>
#include <utility>

#include "base/Format.h"
#include "base/VolumeLaws.h"

namespace brontide {

namespace {

// TXT lists such as "0,1" or "TCP,UDP".
bool listHas(std::string_view list, std::string_view item) {
  for (const auto part : std::views::split(list, ',')) {
    std::string_view value(part.begin(), part.end());
    while (value.starts_with(' ')) value.remove_prefix(1);
    while (value.ends_with(' ')) value.remove_suffix(1);
    if (value.size() != item.size()) continue;
    if (std::ranges::equal(value, item, [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
      return true;
  }
  return false;
}

AirPlayReceiver receiverOf(const ServiceResult& result, std::string name) {
  AirPlayReceiver receiver;
  receiver.name = std::move(name);
  receiver.address = result.address;
  receiver.port = result.port;
  const auto transports = txtValue(result, "tp");
  // UDP is the sink's own default; TCP only for receivers that offer nothing else.
  receiver.transport = !transports.empty() && !listHas(transports, "UDP") && listHas(transports, "TCP")
                           ? AirPlayTransport::tcp
                           : AirPlayTransport::udp;
  const auto encryption = txtValue(result, "et");
  // RSA only for a receiver that insists on it: plain audio is what the others take most reliably (PipeWire
  // 1.4's RSA fails against OpenSSL 3.5). Receivers that list 4 want the auth-setup step either way.
  const bool rsaOnly = listHas(encryption, "1") && !listHas(encryption, "0");
  receiver.encryption = rsaOnly                    ? AirPlayEncryption::rsa
                        : listHas(encryption, "4") ? AirPlayEncryption::authSetup
                                                   : AirPlayEncryption::none;
  return receiver;
}

}  // namespace

std::string speakerVolumeKey(std::string_view name) {
  std::string key = "speakerVolume/";
  for (const char c : name) {
    if (c == '%') key += "%25";
    else if (c == '/') key += "%2F";
    else if (c == '\\') key += "%5C";
    else key += c;
  }
  return key;
}

std::string_view stateToken(RouteState state) {
  switch (state) {
    case RouteState::available: return "available";
    case RouteState::connecting: return "connecting";
    case RouteState::playing: return "playing";
    case RouteState::unreachable: return "unreachable";
    case RouteState::passwordRequired: return "password";
    case RouteState::airPlay2Only: return "airplay2";
  }
  return "available";
}

std::string stateText(RouteState state) {
  switch (state) {
    case RouteState::unreachable: return "No responde";
    case RouteState::passwordRequired: return "Requiere contraseña";
    case RouteState::airPlay2Only: return "Solo AirPlay 2 (no compatible)";
    default: return {};
  }
}

std::string routeLine(const Route& route) {
  std::string line = escapeControlCharacters(route.name);
  line += '\t';
  line += stateToken(route.state);
  return line;
}

std::vector<DiscoveredReceiver> arrangeReceivers(std::span<const ServiceResult> raop,
                                                 std::span<const ServiceResult> airplay, std::string_view ownName,
                                                 const Collator& collator) {
  std::vector<DiscoveredReceiver> kept;
  for (const auto& entry : catalogueDevices(airplay, raop, ownName, collator)) {
    DiscoveredReceiver found;
    found.model = entry.speaker.model;
    if (entry.raop) {
      found.receiver = receiverOf(*entry.raop, entry.speaker.name);
      found.deviceId = std::string(raopDeviceId(entry.raop->name));
      found.passwordRequired = txtValue(*entry.raop, "pw") == "true";
    } else {
      found.receiver.name = entry.speaker.name;
      found.drivable = false;
    }
    kept.push_back(std::move(found));
  }
  return kept;
}

// Handlers, timers and delayed work hold this weakly: once the catalogue is gone they do nothing.
struct AirPlayRoutes::State : std::enable_shared_from_this<State> {
  // Everything the catalogue knows about one receiver beside its published Route.
  struct Receiver {
    DiscoveredReceiver found;
    AirPlayReceiver target;  // what the last connection went to: a chosen device keeps it while unreachable
    bool onNetwork = true;
    std::optional<AirPlayOutput::SinkId> sink;  // while a connection is open or being opened
    std::unique_ptr<RepeatingTimer> retry;      // while chosen and not answering
    // Password receivers only.
    std::optional<std::string> password;  // from the keyring or typed this run
    bool lookedUp = false;                // the keyring has been asked
    bool lookingUp = false;
    bool remember = false;  // store the password once the receiver accepts it
    bool checking = false;
    unsigned attempt = 0;   // answers to older checks and watches are ignored
    bool streamed = false;  // the open sink has started playing

    [[nodiscard]] bool wantsPassword() const { return found.passwordRequired && !password && !lookingUp; }
    // What its row says while unchosen.
    [[nodiscard]] RouteState idleState() const {
      if (!found.drivable) return RouteState::airPlay2Only;
      return wantsPassword() ? RouteState::passwordRequired : RouteState::available;
    }
    [[nodiscard]] ReceiverKey key() const { return {found.deviceId, found.receiver.name}; }
  };

  State(AirPlayRoutes& owner, ServiceBrowser& browser, AirPlayOutput& output, MainQueue& queue,
        const Collator& collator, Preferences& preferences, Log& log, std::string ownName)
      : owner(owner), browser(browser), output(output), queue(queue), collator(collator), preferences(preferences),
        log(log), ownName(std::move(ownName)) {
    Route computer;
    computer.name = kLocalRouteName;
    computer.local = true;
    computer.state = RouteState::playing;
    computer.selected = true;
    routes.push_back(std::move(computer));
  }

  [[nodiscard]] std::string_view effectiveOwnName() const { return ownName.empty() ? hostName : ownName; }

  Route* route(const std::string& name) {
    const auto it = std::ranges::find(routes, name, &Route::name);
    return it == routes.end() ? nullptr : &*it;
  }
  Route& local() { return routes.front(); }

  [[nodiscard]] bool anyReceiverSelected() const {
    return std::ranges::any_of(routes, [](const Route& r) { return !r.local && r.selected; });
  }

  // --- discovery ----------------------------------------------------------------------------------------------

  void rebuild() {
    const auto found = arrangeReceivers(raopResults, airplayResults, effectiveOwnName(), collator);
    std::set<std::string> seen;
    for (const auto& f : found) {
      seen.insert(f.receiver.name);
      auto [it, added] = receivers.try_emplace(f.receiver.name);
      auto& receiver = it->second;
      receiver.found = f;
      receiver.onNetwork = true;
      if (added) {
        Route fresh;
        fresh.name = f.receiver.name;
        fresh.volume = rememberedVolume(fresh.name);
        routes.push_back(std::move(fresh));
      }
      Route& r = *route(f.receiver.name);
      r.model = f.model;
      // A device that offers only AirPlay 2 is held off by its state, so a chosen one can still be unticked.
      r.choosable = !f.passwordRequired || check;
      if (f.passwordRequired && keyring && !receiver.lookedUp) lookUp(f.receiver.name);
      if (!r.selected) r.state = receiver.idleState();
    }
    // A chosen receiver stays listed while it is away from DNS-SD: its sink may well still play.
    for (auto it = receivers.begin(); it != receivers.end();) {
      if (seen.contains(it->first)) {
        ++it;
        continue;
      }
      it->second.onNetwork = false;
      if (route(it->first)->selected) {
        ++it;
        continue;
      }
      std::erase_if(routes, [&](const Route& r) { return !r.local && r.name == it->first; });
      it = receivers.erase(it);
    }
    std::stable_sort(routes.begin() + 1, routes.end(), [this](const Route& a, const Route& b) {
      return catalogueOrder({a.name, a.model}, {b.name, b.model}, collator);
    });
    chooseWanted();
    owner.changed.notify();
  }

  // Receivers first: the computer joins them only once one is chosen.
  void chooseWanted() {
    for (const bool local : {false, true})
      for (auto it = wanted.begin(); it != wanted.end();) {
        Route* r = route(*it);
        if (!r || r->local != local || !r->enabled() || (local && !anyReceiverSelected()) ||
            (!local && receivers.at(*it).lookingUp)) {
          ++it;
          continue;
        }
        if (!local && receivers.at(*it).wantsPassword()) ask(*it, "");
        else if (!r->selected) (local ? alongside(true) : tick(*r));
        it = wanted.erase(it);
      }
  }

  double rememberedVolume(const std::string& name) {
    const double fallback = output.sendsVolume() ? Route::kDefaultVolume : Route::kDefaultGain;
    const auto key = speakerVolumeKey(name);
    const auto text = preferences.value(key);
    if (!text) return fallback;
    const auto volume = parseNumber(*text);
    if (volume && *volume >= 0 && *volume <= 1) return *volume;
    log.notice("preferences: " + escapeControlCharacters(key) + " is not a volume from 0 to 1; using " +
               formatNumber(fallback));
    return fallback;
  }

  // --- selection ----------------------------------------------------------------------------------------------

  void select(const std::string& name, bool on) {
    Route* r = route(name);
    if (!r || !r->enabled()) return;
    if (r->local) {
      if (on == r->selected || !anyReceiverSelected()) return;
      alongside(on);
    } else if (on == r->selected) {
      return;
    } else if (on) {
      if (receivers.at(name).wantsPassword()) ask(name, "");
      else tick(*r);
    } else {
      untick(*r);
      if (!anyReceiverSelected()) toLocal();
    }
    owner.changed.notify();
  }

  void tick(Route& r) {
    const bool first = !anyReceiverSelected();
    if (first) {
      local().selected = false;
      local().state = RouteState::available;
    }
    r.selected = true;
    r.state = RouteState::connecting;
    connect(r.name);
    // Routed after the first sink exists, so the player is never sent to an empty combination by choice.
    if (first) output.routeToReceivers();
  }

  void untick(Route& r) {
    auto& receiver = receivers.at(r.name);
    receiver.retry.reset();
    if (receiver.sink) output.close(*receiver.sink);
    receiver.sink.reset();
    receiver.checking = false;
    ++receiver.attempt;
    r.selected = false;
    r.state = receiver.idleState();
    if (!receiver.onNetwork) {
      receivers.erase(r.name);
      std::erase_if(routes, [&](const Route& other) { return &other == &r; });
    }
  }

  // The computer's output beside the chosen receivers.
  void alongside(bool on) {
    local().selected = on;
    local().state = on ? RouteState::playing : RouteState::available;
    output.playLocally(on);
  }

  void toLocal() {
    local().selected = true;
    local().state = RouteState::playing;
    output.routeToDefault();
  }

  void connect(const std::string& name) {
    auto& receiver = receivers.at(name);
    // A chosen device whose `_raop._tcp` record left is retried where it was.
    if (receiver.found.drivable) receiver.target = receiver.found.receiver;
    if (!receiver.found.passwordRequired && !receiver.password) return open(name, receiver.target);
    if (receiver.lookingUp || receiver.checking) return;  // its answer goes on from here
    if (!receiver.password) return ask(name, "");
    // The sink would stay connected and silent on a wrong password: the receiver is asked first.
    auto withPassword = receiver.target;
    withPassword.password = receiver.password;
    receiver.checking = true;
    std::weak_ptr<State> weak = shared_from_this();
    check->check(withPassword, [weak, name, attempt = receiver.attempt](PasswordVerdict verdict, std::string reason) {
      if (const auto s = weak.lock()) s->checked(name, attempt, verdict, reason);
    });
  }

  void open(const std::string& name, const AirPlayReceiver& receiver) {
    auto& r = receivers.at(name);
    const auto id = output.open(receiver, route(name)->volume);
    r.sink = id;
    r.streamed = false;
    sinks[id] = name;
    if (!receiver.password) return;
    std::weak_ptr<State> weak = shared_from_this();
    queue.postDelayed(kStartLimit, [weak, id] {
      if (const auto s = weak.lock()) s->startWatch(id);
    });
  }

  // --- passwords ----------------------------------------------------------------------------------------------

  void lookUp(const std::string& name) {
    auto& receiver = receivers.at(name);
    receiver.lookedUp = true;
    receiver.lookingUp = true;
    std::weak_ptr<State> weak = shared_from_this();
    keyring->find(receiver.key(), [weak, name](KeyringAnswer answer) {
      if (const auto s = weak.lock()) s->foundInKeyring(name, std::move(answer));
    });
  }

  void foundInKeyring(const std::string& name, KeyringAnswer answer) {
    const auto it = receivers.find(name);
    if (it == receivers.end()) return;
    auto& receiver = it->second;
    receiver.lookingUp = false;
    if (!answer.reached) keyringMissing = true;
    if (!receiver.password && answer.password && !answer.password->empty()) receiver.password = answer.password;
    Route& r = *route(name);
    r.passwordKnown = receiver.password.has_value();
    if (r.selected) connect(name);  // ticked while the keyring was asked
    else r.state = receiver.idleState();
    chooseWanted();
    owner.changed.notify();
  }

  // Leaves the receiver unchosen until its password is given (providePassword).
  void ask(const std::string& name, std::string problem) {
    if (Route* r = route(name); r && r->selected) {
      untick(*r);
      if (!anyReceiverSelected()) toLocal();
    }
    Route* r = route(name);
    if (!r) return;
    r->state = RouteState::passwordRequired;
    r->passwordKnown = false;
    request = PasswordRequest{name, std::move(problem)};
  }

  void checked(const std::string& name, unsigned attempt, PasswordVerdict verdict, const std::string& reason) {
    const auto it = receivers.find(name);
    if (it == receivers.end() || it->second.attempt != attempt || !it->second.checking) return;
    auto& receiver = it->second;
    receiver.checking = false;
    if (verdict == PasswordVerdict::rejected) {
      log.notice("routes: \"" + name + "\" rejects its password");
      receiver.password.reset();
      receiver.remember = false;
      ask(name, "Contraseña incorrecta");
    } else if (verdict == PasswordVerdict::unreachable) {
      unanswered(name, receiver, reason);
    } else {
      if (std::exchange(receiver.remember, false)) {
        std::weak_ptr<State> weak = shared_from_this();
        keyring->store(receiver.key(), *receiver.password, [weak](bool stored) {
          const auto s = weak.lock();
          if (!s || stored || s->keyringMissing) return;
          s->keyringMissing = true;
          s->owner.changed.notify();
        });
      }
      auto withPassword = receiver.target;
      withPassword.password = receiver.password;
      open(name, withPassword);
    }
    owner.changed.notify();
  }

  void startWatch(AirPlayOutput::SinkId id) {
    std::string name;
    Receiver* receiver = receiverFor(id, &name);
    if (!receiver || receiver->streamed) return;
    output.close(id);
    sinks.erase(id);
    receiver->sink.reset();
    unanswered(name, *receiver, "not playing " + std::to_string(kStartLimit.count() / 1000) + " s after opening");
  }

  // --- sink events --------------------------------------------------------------------------------------------

  Receiver* receiverFor(AirPlayOutput::SinkId id, std::string* name = nullptr) {
    const auto it = sinks.find(id);
    if (it == sinks.end()) return nullptr;
    const auto found = receivers.find(it->second);
    if (found == receivers.end() || found->second.sink != id) return nullptr;
    if (name) *name = it->second;
    return &found->second;
  }

  void sinkUp(AirPlayOutput::SinkId id, bool streaming) {
    std::string name;
    Receiver* receiver = receiverFor(id, &name);
    if (!receiver) return;
    if (streaming) receiver->streamed = true;
    receiver->retry.reset();
    Route& r = *route(name);
    if (r.state == RouteState::playing) return;
    if (r.state == RouteState::unreachable) log.notice("routes: \"" + name + "\" answers again");
    r.state = RouteState::playing;
    owner.changed.notify();
  }

  void sinkFailed(AirPlayOutput::SinkId id, const std::string& reason) {
    std::string name;
    Receiver* receiver = receiverFor(id, &name);
    sinks.erase(id);
    if (!receiver) return;
    receiver->sink.reset();
    unanswered(name, *receiver, reason);
  }

  // The chosen receiver does not answer: shown so, and tried again every 5 s.
  void unanswered(const std::string& name, Receiver& receiver, const std::string& reason) {
    Route& r = *route(name);
    if (r.state != RouteState::unreachable) {
      log.notice("routes: \"" + name + "\" does not answer (" + reason + "), retrying every 5 s");
      r.state = RouteState::unreachable;
      owner.changed.notify();
    }
    if (!receiver.retry) {
      std::weak_ptr<State> weak = shared_from_this();
      receiver.retry = queue.scheduleRepeating(kRetryPeriod, [weak, name] {
        if (const auto s = weak.lock()) s->retry(name);
      });
    }
  }

  void retry(const std::string& name) {
    const auto it = receivers.find(name);
    if (it == receivers.end() || it->second.sink || it->second.checking) return;  // an attempt is still under way
    connect(name);
  }

  AirPlayRoutes& owner;
  ServiceBrowser& browser;
  AirPlayOutput& output;
  MainQueue& queue;
  const Collator& collator;
  Preferences& preferences;
  Log& log;
  const std::string ownName;
  std::string hostName;
  bool started = false;
  std::vector<ServiceResult> raopResults;
  std::vector<ServiceResult> airplayResults;
  std::vector<Route> routes;  // "Este ordenador" first
  std::map<std::string, Receiver> receivers;
  std::map<AirPlayOutput::SinkId, std::string> sinks;  // open sinks by id, to their receiver
  std::vector<std::string> wanted;
  bool browsing = false;
  PasswordCheck* check = nullptr;
  Keyring* keyring = nullptr;
  std::optional<PasswordRequest> request;
  bool keyringMissing = false;
};

AirPlayRoutes::AirPlayRoutes(ServiceBrowser& browser, AirPlayOutput& output, MainQueue& mainQueue,
                             const Collator& collator, Preferences& preferences, Log& log, std::string ownName)
    : d_(std::make_shared<State>(*this, browser, output, mainQueue, collator, preferences, log,
                                 std::move(ownName))) {
  std::weak_ptr<State> weak = d_;
  output.setHandlers(AirPlayOutput::Handlers{
      .connected = [weak](AirPlayOutput::SinkId id) { if (const auto s = weak.lock()) s->sinkUp(id, false); },
      .streaming = [weak](AirPlayOutput::SinkId id) { if (const auto s = weak.lock()) s->sinkUp(id, true); },
      .failed = [weak](AirPlayOutput::SinkId id,
                       std::string reason) { if (const auto s = weak.lock()) s->sinkFailed(id, reason); },
  });
}

AirPlayRoutes::~AirPlayRoutes() {
  for (auto& [name, receiver] : d_->receivers)
    if (receiver.sink) d_->output.close(*receiver.sink);
  if (d_->anyReceiverSelected()) d_->output.routeToDefault();
  d_->output.setHandlers({});
}

void AirPlayRoutes::start() {
  if (d_->started) return;
  d_->started = true;
  std::weak_ptr<State> weak = d_;
  const auto results = [weak](bool raop) {
    return [weak, raop](std::vector<ServiceResult> set) {
      // Applied as a step of its own: the set may arrive from inside a browser callback.
      if (const auto s = weak.lock())
        s->queue.post([weak, raop, set = std::move(set)]() mutable {
          const auto state = weak.lock();
          if (!state) return;
          (raop ? state->raopResults : state->airplayResults) = std::move(set);
          state->rebuild();
        });
    };
  };
  const auto hostName = [weak](std::string name) {
    const auto s = weak.lock();
    if (!s || s->hostName == name) return;
    s->hostName = std::move(name);
    s->rebuild();
  };
  const auto ready = [weak] {
    if (const auto s = weak.lock()) s->browsing = true;
  };
  d_->browser.browse(kRaopServiceType, {.resultsChanged = results(true), .ready = ready, .hostName = hostName});
  d_->browser.browse(kAirPlayServiceType, {.resultsChanged = results(false), .ready = {}, .hostName = {}});
}

const std::vector<Route>& AirPlayRoutes::routes() const { return d_->routes; }

void AirPlayRoutes::usePasswords(PasswordCheck& check, Keyring& keyring) {
  d_->check = &check;
  d_->keyring = &keyring;
}

const std::optional<AirPlayRoutes::PasswordRequest>& AirPlayRoutes::passwordRequest() const { return d_->request; }

void AirPlayRoutes::providePassword(const std::string& name, const std::string& password, bool remember) {
  const auto it = d_->receivers.find(name);
  if (it == d_->receivers.end() || password.empty() || !d_->check) return;
  if (d_->request && d_->request->name == name) d_->request.reset();
  auto& receiver = it->second;
  receiver.password = password;
  receiver.remember = remember;
  Route& r = *d_->route(name);
  r.passwordKnown = true;
  if (r.selected) {
    // Chosen with another password still being checked: this one replaces it.
    d_->untick(r);
  }
  d_->tick(r);
  changed.notify();
}

void AirPlayRoutes::cancelPassword() {
  if (!d_->request) return;
  const auto name = d_->request->name;
  d_->request.reset();
  const auto it = d_->receivers.find(name);
  if (Route* r = d_->route(name); r && it != d_->receivers.end() && !r->selected) r->state = it->second.idleState();
  changed.notify();
}

void AirPlayRoutes::forgetPassword(const std::string& name) {
  const auto it = d_->receivers.find(name);
  if (it == d_->receivers.end() || !d_->keyring) return;
  it->second.password.reset();
  d_->keyring->forget(it->second.key(), [](bool) {});
  Route& r = *d_->route(name);
  r.passwordKnown = false;
  if (!r.selected) r.state = it->second.idleState();
  changed.notify();
}

bool AirPlayRoutes::keyringMissing() const { return d_->keyringMissing; }

void AirPlayRoutes::select(const std::string& name, bool selected) { d_->select(name, selected); }

void AirPlayRoutes::setVolume(const std::string& name, double volume) {
  if (name == kLocalRouteName || !std::isfinite(volume)) return;
  volume = volume::clampPosition(volume);
  Route* r = d_->route(name);
  if (r && r->volume == volume) return;
  d_->preferences.setValue(speakerVolumeKey(name), formatNumber(volume));
  if (!r) return;
  r->volume = volume;
  const auto& receiver = d_->receivers.at(name);
  if (receiver.sink) d_->output.setVolume(*receiver.sink, volume);
  changed.notify();
}

bool AirPlayRoutes::receiversKeepTheirVolume() const { return !d_->output.sendsVolume(); }

void AirPlayRoutes::choose(std::vector<std::string> names) {
  for (auto& name : names)
    if (std::ranges::find(d_->wanted, name) == d_->wanted.end()) d_->wanted.push_back(std::move(name));
  const auto before = d_->routes;
  d_->chooseWanted();
  if (d_->routes != before) changed.notify();
}

bool AirPlayRoutes::browsing() const { return d_->browsing; }

std::vector<std::string> AirPlayRoutes::unfoundNotices() const {
  std::string known;
  for (const auto& r : d_->routes)
    if (!r.local) known += (known.empty() ? "" : ", ") + escapeControlCharacters(r.name);
  std::vector<std::string> notices;
  for (const auto& name : d_->wanted)
    if (!d_->route(name))
      notices.push_back("No hay ningún altavoz llamado «" + escapeControlCharacters(name) + "». Altavoces: " +
                        (known.empty() ? "ninguno" : known) + ".");
  return notices;
}

namespace {

// Listing never chooses a receiver, so nothing reaches this output.
class InertOutput final : public AirPlayOutput {
 public:
  void setHandlers(Handlers) override {}
  SinkId open(const AirPlayReceiver&, double) override { return 0; }
  void close(SinkId) override {}
  void setVolume(SinkId, double) override {}
  bool sendsVolume() const override { return true; }
  void routeToReceivers() override {}
  void routeToDefault() override {}
  void playLocally(bool) override {}
};

// Nor does it set a volume.
class NoPreferences final : public Preferences {
 public:
  std::optional<std::string> value(std::string_view) const override { return std::nullopt; }
  void setValue(std::string_view, std::string_view) override {}
};

struct RouteCollection {
  RouteCollection(ServiceBrowser& browser, MainQueue& queue, const Collator& collator, Log& log)
      : routes(browser, output, queue, collator, preferences, log, std::string()) {}
  InertOutput output;
  NoPreferences preferences;
  AirPlayRoutes routes;
};

}  // namespace

void collectRoutes(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, Log& log,
                   MainQueue::Duration wait,
                   std::function<void(std::expected<std::vector<Route>, std::string>)> done) {
  // Owned by the delayed work: the collection ends with it.
  auto collection = std::make_shared<RouteCollection>(browser, mainQueue, collator, log);
  collection->routes.start();
  mainQueue.postDelayed(wait, [collection, done = std::move(done)] {
    if (!collection->routes.browsing()) return done(std::unexpected(std::string(kNoDnsSdDaemon)));
    done(collection->routes.routes());
  });
}

}  // namespace brontide
