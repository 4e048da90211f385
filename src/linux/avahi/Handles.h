#pragma once

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/thread-watch.h>

#include "base/Owned.h"

namespace brontide::linux::avahi {

using ThreadedPoll = Owned<AvahiThreadedPoll, avahi_threaded_poll_free>;
using Client = Owned<AvahiClient, avahi_client_free>;
using Browser = Owned<::AvahiServiceBrowser, avahi_service_browser_free>;
using Resolver = Owned<AvahiServiceResolver, avahi_service_resolver_free>;

}  // namespace brontide::linux::avahi
