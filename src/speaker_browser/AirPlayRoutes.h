#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Collator.h"
#include "base/Log.h"
#include "base/MainQueue.h"
#include "base/Preferences.h"
#include "base/Signal.h"
#include "speaker_browser/AirPlayOutput.h"
#include "speaker_browser/ReceiverPasswords.h"
#include "speaker_browser/ServiceBrowser.h"
#include "speaker_browser/SpeakerCatalogue.h"

namespace brontide {

// The route of the computer's own output.
inline constexpr const char* kLocalRouteName = "Este ordenador";

enum class RouteState {
  available,         // not chosen
  connecting,        // chosen, waiting for the receiver
  playing,           // chosen and taking the player's sound
  unreachable,       // chosen but not answering; retried every 5 s
  passwordRequired,  // needs a password and none is known
  airPlay2Only,      // offers no AirPlay 1 audio (`_airplay._tcp` only): cannot be chosen
};

// One output the player can be sent to: this computer or an AirPlay receiver.
struct Route {
  // A receiver's volume until the user sets one: half its own volume where the receiver follows ours; where it
  // keeps its own, nothing taken off it.
  static constexpr double kDefaultVolume = 0.5;
  static constexpr double kDefaultGain = 1.0;

  std::string name;
  bool local = false;  // "Este ordenador"
  RouteState state = RouteState::available;
  bool selected = false;
  double volume = kDefaultVolume;  // the receiver's own volume, 0…1
  std::string model;    // the device's model (SpeakerCatalogue), empty when unknown
  bool choosable = true;       // false for a password receiver where no password can be given
  bool passwordKnown = false;  // a password is held for it (remembered or typed this run)

  [[nodiscard]] bool enabled() const { return choosable && state != RouteState::airPlay2Only; }
  friend bool operator==(const Route&, const Route&) = default;
};

// The preference holding a receiver's volume: "speakerVolume/" and the name, its "%", "/" and "\\" written as
// %25, %2F and %5C so that every name is one key.
[[nodiscard]] std::string speakerVolumeKey(std::string_view name);

// "available", "connecting", "playing", "unreachable", "password" or "airplay2" (command-line output).
[[nodiscard]] std::string_view stateToken(RouteState state);
// The row's user-facing note: "No responde", "Requiere contraseña", "Solo AirPlay 2 (no compatible)" or empty
// (translation keys).
[[nodiscard]] std::string stateText(RouteState state);
// "name<TAB>state" (no newline), control characters written as \xHH.
[[nodiscard]] std::string routeLine(const Route& route);

// The devices of the catalogue (`catalogueDevices`), in its order, each with how to reach it. A device without
// a `_raop._tcp` record is not `drivable` and has only its name.
struct DiscoveredReceiver {
  AirPlayReceiver receiver;
  std::string deviceId;  // the instance name before "@"
  bool drivable = true;
  bool passwordRequired = false;
  std::string model;
  friend bool operator==(const DiscoveredReceiver&, const DiscoveredReceiver&) = default;
};
[[nodiscard]] std::vector<DiscoveredReceiver> arrangeReceivers(std::span<const ServiceResult> raop,
                                                               std::span<const ServiceResult> airplay,
                                                               std::string_view ownName, const Collator& collator);

// The AirPlay menu's routes: "Este ordenador" first, then every AirPlay device of the catalogue, in its order
// and under its names, each with its state, selected flag and volume; a device the output cannot drive is
// listed but cannot be chosen. The first receiver chosen takes the player from the computer's output; ticking
// "Este ordenador" beside receivers plays it there too, in step with them; leaving no receiver chosen gives it
// back to the computer alone. Nothing is chosen except through select() and choose(). Each receiver's volume is
// remembered by name in `preferences`. Main thread only.
class AirPlayRoutes {
 public:
  static constexpr MainQueue::Duration kRetryPeriod{5000};
  // A password receiver's sink that has not started playing by then is taken for not answering.
  static constexpr MainQueue::Duration kStartLimit{5000};

  // The password a receiver is waiting for: the dialog shows it while set.
  struct PasswordRequest {
    std::string name;
    std::string problem;  // empty, or "Contraseña incorrecta" (translation key)
    friend bool operator==(const PasswordRequest&, const PasswordRequest&) = default;
  };

  // `ownName` is this computer's name on the network (empty: the name the browser reports).
  AirPlayRoutes(ServiceBrowser& browser, AirPlayOutput& output, MainQueue& mainQueue, const Collator& collator,
                Preferences& preferences, Log& log, std::string ownName);
  ~AirPlayRoutes();
  AirPlayRoutes(const AirPlayRoutes&) = delete;
  AirPlayRoutes& operator=(const AirPlayRoutes&) = delete;

  // Begins browsing; a second call does nothing.
  void start();
  // Lets password receivers be chosen: each one's password is looked for in `keyring` when it is found, asked
  // for (passwordRequest) when there is none, and checked against the receiver before its sink is opened.
  // Call before start(); without it such receivers cannot be chosen.
  void usePasswords(PasswordCheck& check, Keyring& keyring);
  [[nodiscard]] const std::optional<PasswordRequest>& passwordRequest() const;
  // The answer to passwordRequest: the receiver is ticked and its password checked; once accepted it is stored
  // in the keyring when `remember`. An empty password is ignored.
  void providePassword(const std::string& name, const std::string& password, bool remember);
  void cancelPassword();
  // Drops the receiver's password from this run and from the keyring.
  void forgetPassword(const std::string& name);
  // Some keyring call found no keyring: passwords last for this run only.
  [[nodiscard]] bool keyringMissing() const;

  [[nodiscard]] const std::vector<Route>& routes() const;
  // Ticks or unticks a route. Ignored for unknown names, disabled receivers and "Este ordenador" while no
  // receiver is chosen (it is then the only output).
  void select(const std::string& name, bool selected);
  // Sets and remembers a receiver's own volume (clamped to 0…1); a receiver not listed yet gets it once found.
  void setVolume(const std::string& name, double volume);
  // The receivers keep their own volume: the one set here is a gain applied before sending.
  [[nodiscard]] bool receiversKeepTheirVolume() const;
  // Ticks each named receiver as soon as it is found, and "Este ordenador" beside the first (command line).
  void choose(std::vector<std::string> names);
  // Whether the DNS-SD browser runs (no daemon has answered yet while false).
  [[nodiscard]] bool browsing() const;
  // For each name given to choose() that no route has (names match exactly): "No hay ningún altavoz llamado
  // «%1». Altavoces: %2.", the receivers listed, control characters escaped.
  [[nodiscard]] std::vector<std::string> unfoundNotices() const;

  // Fires after every change of `routes`.
  Signal<> changed;

 private:
  struct State;
  std::shared_ptr<State> d_;
};

// One-shot listing for the command line: the routes `wait` after browsing starts, or kNoDnsSdDaemon when the
// browser has not started by then. Chooses nothing. Main thread; `done` runs once, on the main queue. Every
// argument must outlive the collection.
void collectRoutes(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, Log& log,
                   MainQueue::Duration wait, std::function<void(std::expected<std::vector<Route>, std::string>)> done);

}  // namespace brontide
