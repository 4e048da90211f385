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

std::string_view txtValue(const ServiceResult& result, const std::string& key) {
  if (!result.txt) return {};
  const auto it = result.txt->find(key);
  return it == result.txt->end() ? std::string_view{} : std::string_view(it->second);
}

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

std::string shownName(const std::string& instance) {
  const auto at = instance.find('@');
  return at == std::string::npos ? instance : instance.substr(at + 1);
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
  }
  return "available";
}

std::string stateText(RouteState state) {
  switch (state) {
    case RouteState::unreachable: return "No responde";
    case RouteState::passwordRequired: return "Requiere contraseña";
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
  for (const auto& result : raop) {
    if (result.local || !result.txt || result.address.empty() || result.port == 0) continue;
    auto name = shownName(result.name);
    if (name.empty() || name == ownName) continue;
    // Two devices (or one on two addresses) under one name: the first one stays.
    if (std::ranges::any_of(kept, [&](const auto& k) { return k.receiver.name == name; })) continue;
    DiscoveredReceiver found;
    found.receiver = receiverOf(result, name);
    found.passwordRequired = txtValue(result, "pw") == "true";
    const auto companion = std::ranges::find(airplay, name, &ServiceResult::name);
    if (companion != airplay.end()) found.model = std::string(txtValue(*companion, "model"));
    kept.push_back(std::move(found));
  }
  std::ranges::stable_sort(kept, [&collator](const auto& a, const auto& b) {
    return collator.compare(a.receiver.name, b.receiver.name) < 0;
  });
  return kept;
}

// Handlers, timers and delayed work hold this weakly: once the catalogue is gone they do nothing.
struct AirPlayRoutes::State : std::enable_shared_from_this<State> {
  // Everything the catalogue knows about one receiver beside its published Route.
  struct Receiver {
    DiscoveredReceiver found;
    bool onNetwork = true;
    std::optional<AirPlayOutput::SinkId> sink;  // while a connection is open or being opened
    std::unique_ptr<RepeatingTimer> retry;      // while chosen and not answering
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
      it->second.found = f;
      it->second.onNetwork = true;
      if (added) {
        Route fresh;
        fresh.name = f.receiver.name;
        fresh.state = f.passwordRequired ? RouteState::passwordRequired : RouteState::available;
        fresh.model = f.model;
        fresh.volume = rememberedVolume(fresh.name);
        routes.push_back(std::move(fresh));
        continue;
      }
      Route& r = *route(f.receiver.name);
      r.model = f.model;
      if (!r.selected) r.state = f.passwordRequired ? RouteState::passwordRequired : RouteState::available;
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
      return collator.compare(a.name, b.name) < 0;
    });
    chooseWanted();
    owner.changed.notify();
  }

  // Receivers first: the computer joins them only once one is chosen.
  void chooseWanted() {
    for (const bool local : {false, true})
      for (auto it = wanted.begin(); it != wanted.end();) {
        Route* r = route(*it);
        if (!r || r->local != local || !r->enabled() || (local && !anyReceiverSelected())) {
          ++it;
          continue;
        }
        if (!r->selected) (local ? alongside(true) : tick(*r));
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
      tick(*r);
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
    r.selected = false;
    r.state = receiver.found.passwordRequired ? RouteState::passwordRequired : RouteState::available;
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
    const auto id = output.open(receiver.found.receiver, route(name)->volume);
    receiver.sink = id;
    sinks[id] = name;
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

  void sinkUp(AirPlayOutput::SinkId id) {
    std::string name;
    Receiver* receiver = receiverFor(id, &name);
    if (!receiver) return;
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
    Route& r = *route(name);
    if (r.state != RouteState::unreachable) {
      log.notice("routes: \"" + name + "\" does not answer (" + reason + "), retrying every 5 s");
      r.state = RouteState::unreachable;
      owner.changed.notify();
    }
    if (!receiver->retry) {
      std::weak_ptr<State> weak = shared_from_this();
      receiver->retry = queue.scheduleRepeating(kRetryPeriod, [weak, name] {
        if (const auto s = weak.lock()) s->retry(name);
      });
    }
  }

  void retry(const std::string& name) {
    const auto it = receivers.find(name);
    if (it == receivers.end() || it->second.sink) return;  // an attempt is still under way
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
};

AirPlayRoutes::AirPlayRoutes(ServiceBrowser& browser, AirPlayOutput& output, MainQueue& mainQueue,
                             const Collator& collator, Preferences& preferences, Log& log, std::string ownName)
    : d_(std::make_shared<State>(*this, browser, output, mainQueue, collator, preferences, log,
                                 std::move(ownName))) {
  std::weak_ptr<State> weak = d_;
  output.setHandlers(AirPlayOutput::Handlers{
      .connected = [weak](AirPlayOutput::SinkId id) { if (const auto s = weak.lock()) s->sinkUp(id); },
      .streaming = [weak](AirPlayOutput::SinkId id) { if (const auto s = weak.lock()) s->sinkUp(id); },
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
  d_->browser.browse("_airplay._tcp", {.resultsChanged = results(false), .ready = {}, .hostName = {}});
}

const std::vector<Route>& AirPlayRoutes::routes() const { return d_->routes; }

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
