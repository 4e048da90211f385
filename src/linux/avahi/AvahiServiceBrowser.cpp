// Over 400 lines: the client, its browsers and resolvers share one threaded poll and its lock rules (create,
// recreate after a daemon restart, retry unresolved services); splitting them would spread those rules.
#include "linux/avahi/AvahiServiceBrowser.h"

#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "linux/avahi/Handles.h"
#include "linux/avahi/Utf8.h"

namespace brontide::linux::avahi {

using avahi::printable;
using avahi::validUtf8;

namespace {

constexpr unsigned kReconnectDelayMs = 1000;
constexpr unsigned kRebrowseDelayMs = 1000;
// A resolution that failed is asked again after 2 s, then less and less often, down to once a minute.
constexpr unsigned kFirstResolveRetryMs = 2000;
constexpr unsigned kLastResolveRetryMs = 60000;

using Txt = std::map<std::string, std::string>;

// Each poll timeout below owns one of these: a callback and the poll that runs it.
class Timer {
 public:
  Timer(const AvahiPoll* api, std::function<void()> fire) : api_(api), fire_(std::move(fire)) {
    timeout_ = api_->timeout_new(api_, nullptr, &Timer::trampoline, this);
  }
  ~Timer() {
    if (timeout_) api_->timeout_free(timeout_);
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void arm(unsigned ms) {
    timeval when{};
    api_->timeout_update(timeout_, avahi_elapse_time(&when, ms, 0));
  }
  void disarm() { api_->timeout_update(timeout_, nullptr); }

 private:
  static void trampoline(AvahiTimeout*, void* self) {
    auto& timer = *static_cast<Timer*>(self);
    timer.disarm();
    timer.fire_();
  }

  const AvahiPoll* api_;
  std::function<void()> fire_;
  AvahiTimeout* timeout_ = nullptr;
};

}  // namespace

// Everything below runs on the poll thread with the poll's lock held, or on the main thread under that lock
// (browse, destruction), or before the poll thread starts.
struct AvahiServiceBrowser::Impl {
  struct Browse;

  // One appearance of a service: a name on one interface and protocol.
  struct Instance {
    Browse* browse = nullptr;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
    std::string name;    // as on the wire, for the resolver
    std::string domain;  // as on the wire, for the resolver
    bool local = false;
    std::optional<Txt> txt;
    std::string address;  // IPv4 only
    std::uint16_t port = 0;
    avahi::Resolver resolver;  // kept open: it reports every later change of TXT or address
    std::unique_ptr<Timer> retry;  // armed while a failed resolution waits to be asked again
    unsigned retryMs = 0;          // 0 unless the last resolution failed
  };
  using InstanceKey = std::tuple<std::string, std::string, AvahiIfIndex, AvahiProtocol>;

  struct Browse {
    Impl* impl = nullptr;
    std::string type;
    std::shared_ptr<const Handlers> handlers;  // shared with work posted to the main queue
    std::map<InstanceKey, Instance> instances;
    std::vector<ServiceResult> posted;
    // Instances point into `instances`; the browser goes first so no callback sees a freed instance.
    avahi::Browser browser;
    std::unique_ptr<Timer> rebrowse;
  };

  Impl(MainQueue& queue, Log& log) : queue(queue), log(log) {}

  void notice(const std::string& line) { log.notice("dnssd: " + line); }
  std::string lastError() const { return client ? avahi_strerror(avahi_client_errno(client.get())) : "no client"; }

  // --- client -----------------------------------------------------------------------------------------------

  void createClient() {
    int error = 0;
    // NO_FAIL: a daemon that is not running yet is waited for (state CONNECTING) instead of failing.
    AvahiClient* created = avahi_client_new(api, AVAHI_CLIENT_NO_FAIL, &Impl::onClientEvent, this, &error);
    if (!created) {
      // Without a system bus this repeats every second: say it once.
      if (!clientFailing) notice(std::string("cannot create the avahi client (") + avahi_strerror(error) + "), retrying");
      clientFailing = true;
      reconnect->arm(kReconnectDelayMs);
      return;
    }
    clientFailing = false;
    client.reset(created);
  }

  static void onClientEvent(AvahiClient* c, AvahiClientState state, void* self) {
    // May run inside avahi_client_new, before `client` is set: use `c`.
    static_cast<Impl*>(self)->clientEvent(c, state);
  }

  void clientEvent(AvahiClient* c, AvahiClientState state) {
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING: {
        const char* name = avahi_client_get_host_name(c);
        setHostName(name ? name : "");
        notice("avahi-daemon is running, host name \"" + printable(hostName()) + "\"");
        running = true;
        for (auto& b : browses) {
          postHostName(b);
          if (!b.browser) startBrowsing(c, b);
        }
        break;
      }
      case AVAHI_CLIENT_CONNECTING:
        notice("waiting for avahi-daemon");
        break;
      case AVAHI_CLIENT_FAILURE:
        running = false;
        notice(std::string("lost avahi-daemon (") + avahi_strerror(avahi_client_errno(c)) + "), reconnecting");
        for (auto& b : browses) post(b, {});
        // The client cannot be freed from its own callback.
        reconnect->arm(0);
        break;
      case AVAHI_CLIENT_S_REGISTERING:
      case AVAHI_CLIENT_S_COLLISION:
        break;
    }
  }

  void recreateClient() {
    for (auto& b : browses) dropBrowsing(b);
    client.reset();
    createClient();
  }

  void setHostName(std::string name) {
    std::lock_guard lock(hostNameMutex);
    hostNameValue = std::move(name);
  }
  std::string hostName() const {
    std::lock_guard lock(hostNameMutex);
    return hostNameValue;
  }

  // --- browsing ---------------------------------------------------------------------------------------------

  void startBrowsing(AvahiClient* c, Browse& b) {
    ::AvahiServiceBrowser* created = avahi_service_browser_new(c, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, b.type.c_str(),
                                                               nullptr, AvahiLookupFlags{}, &Impl::onBrowseEvent, &b);
    if (!created) {
      notice("cannot browse " + b.type + " (" + avahi_strerror(avahi_client_errno(c)) + "), retrying");
      b.rebrowse->arm(kRebrowseDelayMs);
      return;
    }
    b.browser.reset(created);
    queue.post([handlers = b.handlers] {
      if (handlers->ready) handlers->ready();
    });
  }

  void dropBrowsing(Browse& b) {
    b.rebrowse->disarm();
    b.browser.reset();
    b.instances.clear();
  }

  static void onBrowseEvent(::AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                            AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                            AvahiLookupResultFlags flags, void* browse) {
    auto& b = *static_cast<Browse*>(browse);
    b.impl->browseEvent(b, interface, protocol, event, name, type, domain, flags);
  }

  void browseEvent(Browse& b, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                   const char* name, const char* type, const char* domain, AvahiLookupResultFlags flags) {
    switch (event) {
      case AVAHI_BROWSER_NEW: {
        if (!name || !type || !domain) return;
        InstanceKey key{name, domain, interface, protocol};
        auto [it, added] = b.instances.try_emplace(std::move(key));
        auto& instance = it->second;
        if (added) {
          instance.browse = &b;
          instance.interface = interface;
          instance.protocol = protocol;
          instance.name = name;
          instance.domain = domain;
          if (validUtf8(name) != name) notice("service name \"" + printable(name) + "\" is not valid UTF-8");
        }
        // Only browse events carry this flag reliably; the resolver's copy is not used.
        instance.local = (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0;
        if (!instance.resolver) resolve(instance, type);
        publish(b);
        break;
      }
      case AVAHI_BROWSER_REMOVE:
        if (!name || !domain) return;
        if (b.instances.erase(InstanceKey{name, domain, interface, protocol}) > 0) publish(b);
        break;
      case AVAHI_BROWSER_FAILURE:
        notice("browsing " + b.type + " failed (" + lastError() + "), starting again");
        b.rebrowse->arm(kRebrowseDelayMs);
        break;
      case AVAHI_BROWSER_ALL_FOR_NOW:
      case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
  }

  void rebrowse(Browse& b) {
    dropBrowsing(b);
    post(b, {});
    if (running && client) startBrowsing(client.get(), b);
  }

  // --- resolving --------------------------------------------------------------------------------------------

  void resolve(Instance& instance, const char* type) {
    if (instance.retry) instance.retry->disarm();
    // The address asked for is IPv4: receivers are reached by numeric IPv4 address.
    AvahiServiceResolver* created = avahi_service_resolver_new(
        client.get(), instance.interface, instance.protocol, instance.name.c_str(), type, instance.domain.c_str(),
        AVAHI_PROTO_INET, AvahiLookupFlags{}, &Impl::onResolveEvent, &instance);
    if (!created) {
      notice("cannot resolve \"" + printable(instance.name) + "\" (" + lastError() + ")");
      return;
    }
    instance.resolver.reset(created);
  }

  static void onResolveEvent(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                             const char*, const char*, const char*, const char*, const AvahiAddress* address,
                             std::uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* instance) {
    auto& i = *static_cast<Instance*>(instance);
    i.browse->impl->resolveEvent(i, event, address, port, txt);
  }

  void resolveEvent(Instance& instance, AvahiResolverEvent event, const AvahiAddress* address, std::uint16_t port,
                    AvahiStringList* txt) {
    if (event == AVAHI_RESOLVER_FAILURE) {
      // Typically a timeout (a busy device, a lost packet): the service stays listed without TXT or address
      // until a later attempt gets through. Only the first failure of a run is worth a line.
      if (instance.retryMs == 0)
        notice("cannot resolve \"" + printable(instance.name) + "\" (" + lastError() + "), retrying");
      instance.retryMs =
          instance.retryMs == 0 ? kFirstResolveRetryMs : std::min(2 * instance.retryMs, kLastResolveRetryMs);
      instance.resolver.reset();
      if (!instance.retry) {
        instance.retry = std::make_unique<Timer>(
            api, [this, &instance] { resolve(instance, instance.browse->type.c_str()); });
      }
      instance.retry->arm(instance.retryMs);
      return;
    }
    if (std::exchange(instance.retryMs, 0) != 0) notice("resolved \"" + printable(instance.name) + "\" after retrying");
    instance.txt = parseTxt(instance.name, txt);
    instance.address.clear();
    if (address && address->proto == AVAHI_PROTO_INET) {
      char text[AVAHI_ADDRESS_STR_MAX];
      instance.address = avahi_address_snprint(text, sizeof text, address);
    }
    instance.port = port;
    publish(*instance.browse);
  }

  Txt parseTxt(const std::string& service, AvahiStringList* list) {
    Txt parsed;
    // Resolver results list the strings in record order (avahi 0.8, measured); DNS-SD keeps a key's first occurrence.
    for (AvahiStringList* item = list; item; item = avahi_string_list_get_next(item)) {
      char* key = nullptr;
      char* value = nullptr;
      std::size_t size = 0;
      if (avahi_string_list_get_pair(item, &key, &value, &size) < 0 || !key) {
        notice("\"" + printable(service) + "\": unreadable TXT entry skipped");
        continue;
      }
      std::string k(key);
      for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string v = value ? std::string(value, size) : std::string{};
      avahi_free(key);
      avahi_free(value);
      if (k.empty()) continue;  // "=value" carries no key
      if (const auto valid = validUtf8(v); valid != v) {
        notice("\"" + printable(service) + "\": TXT value of \"" + printable(k) + "\" is not valid UTF-8");
        v = valid;
      }
      parsed.try_emplace(std::move(k), std::move(v));
    }
    return parsed;
  }

  // --- publishing -------------------------------------------------------------------------------------------

  // Instances of one name collapse into one result: the best-known instance, local if any instance is.
  static std::vector<ServiceResult> collapse(const Browse& b) {
    const auto rank = [](const Instance& i) { return !i.address.empty() ? 2 : i.txt ? 1 : 0; };
    std::map<std::string, std::pair<const Instance*, bool>> best;  // by name: instance, any local
    for (const auto& [key, instance] : b.instances) {
      auto [it, added] = best.try_emplace(instance.name, &instance, instance.local);
      if (added) continue;
      if (rank(instance) > rank(*it->second.first)) it->second.first = &instance;
      it->second.second = it->second.second || instance.local;
    }
    std::vector<ServiceResult> results;
    for (const auto& [name, chosen] : best) {
      const Instance& i = *chosen.first;
      results.push_back(ServiceResult{
          .name = validUtf8(name), .txt = i.txt, .local = chosen.second, .address = i.address, .port = i.port});
    }
    return results;
  }

  void publish(Browse& b) { post(b, collapse(b)); }

  void post(Browse& b, std::vector<ServiceResult> results) {
    if (results == b.posted) return;
    b.posted = results;
    queue.post([handlers = b.handlers, results = std::move(results)]() mutable {
      if (handlers->resultsChanged) handlers->resultsChanged(std::move(results));
    });
  }

  void postHostName(const Browse& b) {
    queue.post([handlers = b.handlers, name = hostName()] {
      if (handlers->hostName) handlers->hostName(name);
    });
  }

  MainQueue& queue;
  Log& log;
  mutable std::mutex hostNameMutex;  // hostName() is read from any thread
  std::string hostNameValue;
  // Members in creation order, so that destruction frees resolvers and browsers, then the client, then the poll.
  avahi::ThreadedPoll poll;
  const AvahiPoll* api = nullptr;
  std::unique_ptr<Timer> nameThread;
  std::unique_ptr<Timer> reconnect;
  avahi::Client client;
  bool clientFailing = false;
  bool running = false;
  std::list<Browse> browses;  // stable addresses: callbacks hold them
};

AvahiServiceBrowser::AvahiServiceBrowser(MainQueue& mainQueue, Log& log)
    : impl_(std::make_unique<Impl>(mainQueue, log)) {
  auto& d = *impl_;
  d.poll.reset(avahi_threaded_poll_new());
  if (!d.poll) {
    d.notice("cannot create the avahi poll: speakers will not be discovered");
    return;
  }
  d.api = avahi_threaded_poll_get(d.poll.get());
  d.nameThread = std::make_unique<Timer>(d.api, [] { pthread_setname_np(pthread_self(), "brontide.dnssd"); });
  d.nameThread->arm(0);
  d.reconnect = std::make_unique<Timer>(d.api, [&d] { d.recreateClient(); });
  d.createClient();
  if (avahi_threaded_poll_start(d.poll.get()) < 0) {
    d.notice("cannot start the avahi thread: speakers will not be discovered");
    d.client.reset();
    d.reconnect.reset();
    d.nameThread.reset();
    d.poll.reset();
  }
}

AvahiServiceBrowser::~AvahiServiceBrowser() {
  auto& d = *impl_;
  if (!d.poll) return;
  avahi_threaded_poll_stop(d.poll.get());
  // The thread is gone: free lookups before the client that owns them, timers before the poll.
  for (auto& b : d.browses) {
    d.dropBrowsing(b);
    b.rebrowse.reset();
  }
  d.client.reset();
  d.reconnect.reset();
  d.nameThread.reset();
  d.poll.reset();
}

void AvahiServiceBrowser::browse(const std::string& serviceType, Handlers handlers) {
  auto& d = *impl_;
  if (!d.poll) return;
  avahi_threaded_poll_lock(d.poll.get());
  auto& b = d.browses.emplace_back();
  b.impl = &d;
  b.type = serviceType;
  b.handlers = std::make_shared<const Handlers>(std::move(handlers));
  b.rebrowse = std::make_unique<Timer>(d.api, [&d, &b] { d.rebrowse(b); });
  if (d.running && d.client) {
    d.postHostName(b);
    d.startBrowsing(d.client.get(), b);
  }
  avahi_threaded_poll_unlock(d.poll.get());
}

std::string AvahiServiceBrowser::hostName() const { return impl_->hostName(); }

}  // namespace brontide::linux::avahi
