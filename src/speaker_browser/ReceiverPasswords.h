#pragma once

#include <functional>
#include <optional>
#include <string>

#include "speaker_browser/AirPlayOutput.h"

namespace brontide {

enum class PasswordVerdict { accepted, rejected, unreachable };

// Asks a receiver whether its password is right, before a sink is loaded with it: the sink itself never says.
// Main thread; `done` runs once, on the main thread, with a log reason for `unreachable`.
class PasswordCheck {
 public:
  virtual ~PasswordCheck() = default;
  virtual void check(const AirPlayReceiver& receiver,
                     std::function<void(PasswordVerdict verdict, std::string reason)> done) = 0;
};

// Which receiver a remembered password is for: its device id (the `_raop._tcp` name before "@"; empty when only
// the name is known, as on the command line) and its shown name.
struct ReceiverKey {
  std::string receiver;
  std::string name;
};

// What the keyring said: `reached` false when no keyring answered at all.
struct KeyringAnswer {
  bool reached = false;
  std::optional<std::string> password;
};

// The user's keyring. Main thread; every `done` runs once, on the main thread; nothing waits for it.
class Keyring {
 public:
  virtual ~Keyring() = default;
  // The receiver's password, looked for by device id first, then by name.
  virtual void find(const ReceiverKey& key, std::function<void(KeyringAnswer)> done) = 0;
  // Replaces whatever was stored for the receiver; `done(false)` when no keyring answered.
  virtual void store(const ReceiverKey& key, const std::string& password, std::function<void(bool)> done) = 0;
  // Removes what is stored under the device id or the name.
  virtual void forget(const ReceiverKey& key, std::function<void(bool)> done) = 0;
};

}  // namespace brontide
