#pragma once

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/thread-watch.h>

#include <memory>

namespace brontide::avahi {

template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

using ThreadedPoll = Owned<AvahiThreadedPoll, avahi_threaded_poll_free>;
using Client = Owned<AvahiClient, avahi_client_free>;
using Browser = Owned<::AvahiServiceBrowser, avahi_service_browser_free>;
using Resolver = Owned<AvahiServiceResolver, avahi_service_resolver_free>;

}  // namespace brontide::avahi
