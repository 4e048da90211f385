#include "linux/secret/SecretServiceKeyring.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <memory>
#include <utility>

namespace brontide::linux::secret {

namespace {

const SecretSchema* schema() {
  static const SecretSchema kSchema = [] {
    SecretSchema s{};
    s.name = "app.brontide.Brontide.Receiver";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"receiver", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"name", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &kSchema;
}

// One key's attributes: the device id alone, the name alone, or both.
GHashTable* attributes(const std::string* receiver, const std::string* name) {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  if (receiver) g_hash_table_insert(table, g_strdup("receiver"), g_strdup(receiver->c_str()));
  if (name) g_hash_table_insert(table, g_strdup("name"), g_strdup(name->c_str()));
  return table;
}

// One call's state, owned by libsecret's callback chain.
struct Job {
  ReceiverKey key;
  std::string password;
  std::function<void(KeyringAnswer)> found;
  std::function<void(bool)> finished;
  GCancellable* cancellable;
  bool byName = false;  // the device id has been tried

  ~Job() { g_object_unref(cancellable); }
};

// Consumes `error`: whether the call was cancelled (the keyring is gone), and logs nothing.
bool cancelled(GError* error) {
  const bool gone = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  g_clear_error(&error);
  return gone;
}

void lookUp(std::unique_ptr<Job> job);

void onLookedUp(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  GError* error = nullptr;
  gchar* password = secret_password_lookup_finish(result, &error);
  if (error) {
    if (!cancelled(error)) job->found(KeyringAnswer{.reached = false, .password = {}});
    return;
  }
  if (password) {
    KeyringAnswer answer{.reached = true, .password = std::string(password)};
    secret_password_free(password);
    return job->found(std::move(answer));
  }
  if (job->byName || job->key.name.empty()) return job->found(KeyringAnswer{.reached = true, .password = {}});
  job->byName = true;
  lookUp(std::move(job));
}

void lookUp(std::unique_ptr<Job> job) {
  const bool byId = !job->byName && !job->key.receiver.empty();
  if (!byId) job->byName = true;
  GHashTable* table = byId ? attributes(&job->key.receiver, nullptr) : attributes(nullptr, &job->key.name);
  GCancellable* cancellable = job->cancellable;
  secret_password_lookupv(schema(), table, cancellable, &onLookedUp, job.release());
  g_hash_table_unref(table);
}

void onStored(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  GError* error = nullptr;
  const bool stored = secret_password_store_finish(result, &error);
  if (error && cancelled(error)) return;
  job->finished(stored);
}

// Clearing comes first for both store and forget: an item stored under the name alone (command line) and one
// under the device id must not both answer.
void onCleared(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  GError* error = nullptr;
  secret_password_clear_finish(result, &error);
  if (error) {
    if (!cancelled(error)) job->finished(false);
    return;
  }
  if (!job->byName && !job->key.receiver.empty()) {
    // The name is cleared; now the device id.
    job->byName = true;
    GHashTable* table = attributes(&job->key.receiver, nullptr);
    GCancellable* cancellable = job->cancellable;
    secret_password_clearv(schema(), table, cancellable, &onCleared, job.release());
    g_hash_table_unref(table);
    return;
  }
  if (job->password.empty()) return job->finished(true);
  const std::string label = "Contraseña de «" + job->key.name + "» (Brontide)";
  GHashTable* table = attributes(job->key.receiver.empty() ? nullptr : &job->key.receiver, &job->key.name);
  GCancellable* cancellable = job->cancellable;
  const std::string password = job->password;
  secret_password_storev(schema(), table, SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), cancellable,
                         &onStored, job.release());
  g_hash_table_unref(table);
}

void clear(std::unique_ptr<Job> job) {
  GHashTable* table = attributes(nullptr, &job->key.name);
  GCancellable* cancellable = job->cancellable;
  secret_password_clearv(schema(), table, cancellable, &onCleared, job.release());
  g_hash_table_unref(table);
}

}  // namespace

SecretServiceKeyring::SecretServiceKeyring() : cancellable_(g_cancellable_new()) {}

SecretServiceKeyring::~SecretServiceKeyring() {
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
}

void SecretServiceKeyring::find(const ReceiverKey& key, std::function<void(KeyringAnswer)> done) {
  lookUp(std::unique_ptr<Job>(new Job{key, {}, std::move(done), {}, G_CANCELLABLE(g_object_ref(cancellable_))}));
}

void SecretServiceKeyring::store(const ReceiverKey& key, const std::string& password, std::function<void(bool)> done) {
  if (password.empty()) return done(false);
  clear(std::unique_ptr<Job>(new Job{key, password, {}, std::move(done), G_CANCELLABLE(g_object_ref(cancellable_))}));
}

void SecretServiceKeyring::forget(const ReceiverKey& key, std::function<void(bool)> done) {
  clear(std::unique_ptr<Job>(new Job{key, {}, {}, std::move(done), G_CANCELLABLE(g_object_ref(cancellable_))}));
}

}  // namespace brontide::linux::secret
