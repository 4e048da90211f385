#pragma once

#include "speaker_browser/ReceiverPasswords.h"

// GCancellable, without GIO's headers: they clash with Qt's keywords.
struct _GCancellable;

namespace brontide::linux::secret {

// Receivers' passwords in the user's keyring through the Secret Service (libsecret), schema
// "app.brontide.Brontide.Receiver" with attributes "receiver" (device id) and "name". Only libsecret's
// asynchronous calls: they are made on the main thread and answer on GLib's default main context, which the Qt
// event loop (or the command line's own loop) runs; nothing waits for the bus.
class SecretServiceKeyring final : public Keyring {
 public:
  SecretServiceKeyring();
  // Calls still running are cancelled: their `done` never runs.
  ~SecretServiceKeyring() override;
  SecretServiceKeyring(const SecretServiceKeyring&) = delete;
  SecretServiceKeyring& operator=(const SecretServiceKeyring&) = delete;

  void find(const ReceiverKey& key, std::function<void(KeyringAnswer)> done) override;
  void store(const ReceiverKey& key, const std::string& password, std::function<void(bool)> done) override;
  void forget(const ReceiverKey& key, std::function<void(bool)> done) override;

 private:
  ::_GCancellable* cancellable_;
};

}  // namespace brontide::linux::secret
