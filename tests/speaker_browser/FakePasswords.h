#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "speaker_browser/ReceiverPasswords.h"

namespace brontide::fakes {

// The receiver and the keyring at once; every answer waits until the test gives them (answer()).
struct FakePasswords final : PasswordCheck, Keyring {
  void check(const AirPlayReceiver& receiver, std::function<void(PasswordVerdict, std::string)> done) override {
    later.push_back([this, receiver, done] {
      done(receiver.password == right ? PasswordVerdict::accepted : PasswordVerdict::rejected, {});
    });
  }
  void find(const ReceiverKey& key, std::function<void(KeyringAnswer)> done) override {
    keys.push_back(key);
    later.push_back([this, key, done] {
      const auto it = stored.find(key.name);
      done(KeyringAnswer{.reached = reached, .password = it == stored.end() ? std::nullopt : std::optional(it->second)});
    });
  }
  void store(const ReceiverKey& key, const std::string& password, std::function<void(bool)> done) override {
    if (reached) stored[key.name] = password;
    done(reached);
  }
  void forget(const ReceiverKey& key, std::function<void(bool)> done) override {
    stored.erase(key.name);
    done(reached);
  }
  void answer() {
    for (const auto& work : std::exchange(later, {})) work();
  }

  std::string right = "secreto";
  bool reached = true;
  std::map<std::string, std::string> stored;  // by name
  std::vector<ReceiverKey> keys;
  std::vector<std::function<void()>> later;
};

}  // namespace brontide::fakes
