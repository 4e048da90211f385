#pragma once

#include <pipewire/extensions/metadata.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "linux/pipewire/ApplicationIdentity.h"
#include "linux/pipewire/Handles.h"
#include "linux/pipewire/PwConnection.h"
#include "linux/pipewire/StreamMover.h"

namespace brontide::linux::pipewire {

// A node as the capture needs it, parsed once per change of its properties.
struct Node {
  std::uint32_t id = 0;
  std::uint64_t order = 0;  // registry order: the server's order
  std::optional<std::uint32_t> serial;
  std::optional<std::uint32_t> client;  // the owning client's id
  std::string name;                     // node.name
  std::string mediaClass;
  std::string appName;
  std::string dontReconnect;
  AudioProperties props;  // everything, for the application identity

  [[nodiscard]] bool isOutputStream() const { return mediaClass == "Stream/Output/Audio"; }
};

struct Client {
  std::uint32_t id = 0;
  std::uint64_t order = 0;
  std::optional<std::uint32_t> serial;
  AudioProperties props;
};

struct Port {
  std::uint32_t node = 0;
  bool output = false;
  std::string channel;
};

struct Link {
  std::uint32_t outputNode = 0;
  std::uint32_t inputNode = 0;
};

// A live mirror of one connection's registry: nodes, clients, ports, links and the "default" and "settings"
// metadata. Loop thread only (or with the loop lock held); changes are reported to the Listener there.
class Graph {
 public:
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void nodeChanged(const Node&) {}
    virtual void clientChanged(const Client&) {}
    virtual void portAdded(const Port&) {}
    virtual void nodeRemoved(std::uint32_t) {}
    // Subject 0 and key "default.audio.sink" with a value: the session manager publishes a default sink.
    virtual void defaultSinkPublished() {}
    virtual void defaultMetadataGone() {}
  };

  Graph(PwConnection& connection, Listener& listener);
  ~Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Binds the current core's registry; `detach` drops the mirror and every proxy (before a reconnect).
  void attach();
  void detach();

  [[nodiscard]] const std::map<std::uint32_t, Node>& nodes() const { return nodes_; }
  [[nodiscard]] const std::map<std::uint32_t, Client>& clients() const { return clients_; }
  [[nodiscard]] const std::map<std::uint32_t, Port>& ports() const { return ports_; }
  [[nodiscard]] const Node* node(std::uint32_t id) const;
  [[nodiscard]] const Node* nodeByName(std::string_view name) const;
  [[nodiscard]] const Client* clientOf(const Node& node) const;
  // Output streams in registry order.
  [[nodiscard]] std::vector<const Node*> outputStreams() const;

  [[nodiscard]] bool linked(std::uint32_t output, std::uint32_t input) const;
  [[nodiscard]] bool hasLinks(std::uint32_t node, bool asOutput) const;
  [[nodiscard]] bool linkedElsewhere(std::uint32_t output, std::uint32_t input) const;
  [[nodiscard]] std::size_t portCount(std::uint32_t node) const;

  [[nodiscard]] bool hasDefaultMetadata() const { return defaultMetadata_ != nullptr; }
  // The default sink's node.name, from the "default" metadata.
  [[nodiscard]] std::optional<std::string> defaultSinkName() const;
  // clock.force-rate, else clock.rate of the "settings" metadata; 0 when unknown.
  [[nodiscard]] std::uint32_t rate() const;
  // The "default" metadata's entries of one key, by subject.
  [[nodiscard]] std::vector<std::pair<std::uint32_t, MetadataValue>> defaultEntries(std::string_view key) const;
  [[nodiscard]] std::optional<MetadataValue> readDefault(std::uint32_t subject, std::string_view key) const;
  // nullopt deletes the key.
  void writeDefault(std::uint32_t subject, std::string_view key, const std::optional<MetadataValue>& value);

 private:
  struct Bound;
  struct Metadata;

  static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                       std::uint32_t version, const spa_dict* props);
  static void onGlobalRemove(void* data, std::uint32_t id);
  template <class Events, class Info, std::uint32_t kVersion, std::uint64_t kPropsMask>
  static const Events& infoEvents();
  void bind(std::uint32_t id, bool isNode, const spa_dict* props);
  template <class Object>
  void record(std::map<std::uint32_t, Object>& objects, std::uint32_t id, const spa_dict* props);
  void bindMetadata(std::uint32_t id, const std::string& name);
  void propsChanged(std::uint32_t id, bool isNode, const spa_dict* props);
  void metadataChanged(Metadata& metadata, std::uint32_t subject, const char* key, const char* type,
                       const char* value);

  PwConnection& connection_;
  Listener& listener_;
  PwRegistry registry_;
  HookGuard registryListener_;
  std::uint64_t nextOrder_ = 0;
  std::map<std::uint32_t, Node> nodes_;
  std::map<std::uint32_t, Client> clients_;
  std::map<std::uint32_t, Port> ports_;
  std::map<std::uint32_t, Link> links_;
  std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;  // proxies of nodes and clients, for their info
  std::unique_ptr<Metadata> defaultMetadata_;
  std::unique_ptr<Metadata> settingsMetadata_;
};

}  // namespace brontide::linux::pipewire
