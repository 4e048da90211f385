#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brontide::rig {

// Publishes one service through avahi-daemon #1, the daemon the browser uses, so that it counts as this machine's
// own; its TXT record can be changed in place.
class LocalPublisher {
 public:
  LocalPublisher(const std::string& name, int port, const std::vector<std::string>& txt) : name_(name) {
    poll_ = avahi_threaded_poll_new();
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags{}, [](AvahiClient*, AvahiClientState, void*) {},
                               nullptr, &error);
    EXPECT_NE(client_, nullptr) << avahi_strerror(error);
    if (!client_) return;
    group_ = avahi_entry_group_new(client_, [](AvahiEntryGroup*, AvahiEntryGroupState, void*) {}, nullptr);
    AvahiStringList* list = strings(txt);
    EXPECT_EQ(avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags{},
                                                  name.c_str(), "_airplay._tcp", nullptr, nullptr,
                                                  static_cast<std::uint16_t>(port), list),
              0);
    avahi_string_list_free(list);
    EXPECT_EQ(avahi_entry_group_commit(group_), 0);
    avahi_threaded_poll_start(poll_);
  }
  ~LocalPublisher() {
    avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
  }
  LocalPublisher(const LocalPublisher&) = delete;
  LocalPublisher& operator=(const LocalPublisher&) = delete;

  void updateTxt(const std::vector<std::string>& txt) {
    avahi_threaded_poll_lock(poll_);
    AvahiStringList* list = strings(txt);
    EXPECT_EQ(avahi_entry_group_update_service_txt_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                                         AvahiPublishFlags{}, name_.c_str(), "_airplay._tcp",
                                                         nullptr, list),
              0);
    avahi_string_list_free(list);
    avahi_threaded_poll_unlock(poll_);
  }

 private:
  static AvahiStringList* strings(const std::vector<std::string>& txt) {
    AvahiStringList* list = nullptr;
    // avahi string lists are newest-first: add in reverse to publish in the given order.
    for (auto it = txt.rbegin(); it != txt.rend(); ++it) list = avahi_string_list_add(list, it->c_str());
    return list;
  }

  std::string name_;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
};

}  // namespace brontide::rig
