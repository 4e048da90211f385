#include "linux/pipewire/Graph.h"

#include <spa/utils/json.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace brontide::linux::pipewire {
namespace {

std::string text(const char* value) { return value ? value : ""; }

std::string property(const AudioProperties& props, std::string_view key) {
  auto it = props.find(key);
  return it == props.end() ? std::string{} : it->second;
}

std::optional<std::uint32_t> number(const char* value) {
  if (!value || !*value) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(value, &end, 10);
  if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) return std::nullopt;
  return std::uint32_t(parsed);
}

std::optional<std::uint32_t> numberProperty(const AudioProperties& props, std::string_view key) {
  return number(property(props, key).c_str());
}

void merge(AudioProperties& into, const spa_dict* dict) {
  if (!dict) return;
  const spa_dict_item* item;
  spa_dict_for_each(item, dict) {
    if (item->key) into[item->key] = text(item->value);
  }
}

void parse(Client& client) { client.serial = numberProperty(client.props, PW_KEY_OBJECT_SERIAL); }

void parse(Node& node) {
  node.serial = numberProperty(node.props, PW_KEY_OBJECT_SERIAL);
  node.client = numberProperty(node.props, PW_KEY_CLIENT_ID);
  node.name = property(node.props, PW_KEY_NODE_NAME);
  node.mediaClass = property(node.props, PW_KEY_MEDIA_CLASS);
  node.appName = property(node.props, PW_KEY_APP_NAME);
  node.dontReconnect = property(node.props, PW_KEY_NODE_DONT_RECONNECT);
}

// {"name":"headless_out"} → headless_out
std::optional<std::string> jsonName(const std::string& value) {
  spa_json it[2];
  spa_json_init(&it[0], value.data(), value.size());
  if (spa_json_enter_object(&it[0], &it[1]) <= 0) return std::nullopt;
  char key[64];
  while (spa_json_get_string(&it[1], key, sizeof key) > 0) {
    if (std::strcmp(key, "name") == 0) {
      std::string name(value.size() + 1, '\0');
      if (spa_json_get_string(&it[1], name.data(), int(name.size())) <= 0) return std::nullopt;
      name.resize(std::strlen(name.c_str()));
      return name;
    }
    const char* skipped;
    if (spa_json_next(&it[1], &skipped) <= 0) break;
  }
  return std::nullopt;
}

}  // namespace

// The proxy of a node or client, bound to read its full info: registry events carry only some properties.
struct Graph::Bound {
  Graph* graph = nullptr;
  std::uint32_t id = 0;
  bool isNode = false;
  PwProxy proxy;
  HookGuard listener;
};

struct Graph::Metadata {
  Graph* graph;
  std::uint32_t id;
  PwProxy proxy;
  HookGuard listener;
  std::map<std::pair<std::uint32_t, std::string>, MetadataValue, std::less<>> values;

  [[nodiscard]] pw_metadata* metadata() const { return reinterpret_cast<pw_metadata*>(proxy.get()); }
};

Graph::Graph(PwConnection& connection, Listener& listener) : connection_(connection), listener_(listener) {}

Graph::~Graph() { detach(); }

void Graph::attach() {
  registry_ = listenToRegistry<&Graph::onGlobal, &Graph::onGlobalRemove>(connection_.core(), registryListener_, this);
}

void Graph::detach() {
  // Every hook goes before its proxy, and every proxy before the registry.
  defaultMetadata_.reset();
  settingsMetadata_.reset();
  bound_.clear();
  nodes_.clear();
  clients_.clear();
  ports_.clear();
  links_.clear();
  registryListener_.remove();
  registry_.reset();
}

void Graph::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                     const spa_dict* props) {
  auto* self = static_cast<Graph*>(data);
  if (!type) return;
  auto lookup = [props](const char* key) { return props ? spa_dict_lookup(props, key) : nullptr; };
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0 || std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
    self->bind(id, std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0, props);
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
    if (auto node = number(lookup(PW_KEY_NODE_ID))) {
      const char* direction = lookup(PW_KEY_PORT_DIRECTION);
      const Port& port = self->ports_[id] =
          Port{*node, direction && std::strcmp(direction, "out") == 0, text(lookup(PW_KEY_AUDIO_CHANNEL))};
      self->listener_.portAdded(port);
    }
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
    auto out = number(lookup(PW_KEY_LINK_OUTPUT_NODE));
    auto in = number(lookup(PW_KEY_LINK_INPUT_NODE));
    if (out && in) self->links_[id] = Link{*out, *in};
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
    const std::string name = text(lookup(PW_KEY_METADATA_NAME));
    if (name == "default" || name == "settings") self->bindMetadata(id, name);
  }
  self->connection_.signal();
}

void Graph::onGlobalRemove(void* data, std::uint32_t id) {
  auto* self = static_cast<Graph*>(data);
  bool wasNode = false;
  if (auto it = self->bound_.find(id); it != self->bound_.end()) {
    wasNode = it->second->isNode;
    self->bound_.erase(it);
  }
  self->nodes_.erase(id);
  self->clients_.erase(id);
  self->ports_.erase(id);
  self->links_.erase(id);
  if (wasNode) self->listener_.nodeRemoved(id);
  if (self->defaultMetadata_ && self->defaultMetadata_->id == id) {
    self->defaultMetadata_.reset();
    self->listener_.defaultMetadataGone();
  }
  if (self->settingsMetadata_ && self->settingsMetadata_->id == id) self->settingsMetadata_.reset();
  self->connection_.signal();
}

// The info events of a bound node or client: only property changes matter here.
template <class Events, class Info, std::uint32_t kVersion, std::uint64_t kPropsMask>
const Events& Graph::infoEvents() {
  static const Events events = [] {
    Events e{};
    e.version = kVersion;
    e.info = [](void* data, const Info* info) {
      auto* bound = static_cast<Bound*>(data);
      if (info->change_mask & kPropsMask) bound->graph->propsChanged(bound->id, bound->isNode, info->props);
    };
    return e;
  }();
  return events;
}

void Graph::bind(std::uint32_t id, bool isNode, const spa_dict* props) {
  const char* type = isNode ? PW_TYPE_INTERFACE_Node : PW_TYPE_INTERFACE_Client;
  auto bound = std::make_unique<Bound>();
  bound->graph = this;
  bound->id = id;
  bound->isNode = isNode;
  bound->proxy.reset(static_cast<pw_proxy*>(
      pw_registry_bind(registry_.get(), id, type, isNode ? PW_VERSION_NODE : PW_VERSION_CLIENT, 0)));
  if (!bound->proxy) return;
  if (isNode) {
    record(nodes_, id, props);
    pw_node_add_listener(reinterpret_cast<pw_node*>(bound->proxy.get()), bound->listener.arm(),
                         &infoEvents<pw_node_events, pw_node_info, PW_VERSION_NODE_EVENTS, PW_NODE_CHANGE_MASK_PROPS>(),
                         bound.get());
  } else {
    record(clients_, id, props);
    pw_client_add_listener(
        reinterpret_cast<pw_client*>(bound->proxy.get()), bound->listener.arm(),
        &infoEvents<pw_client_events, pw_client_info, PW_VERSION_CLIENT_EVENTS, PW_CLIENT_CHANGE_MASK_PROPS>(),
        bound.get());
  }
  bound_[id] = std::move(bound);
}


template <class Object>
void Graph::record(std::map<std::uint32_t, Object>& objects, std::uint32_t id, const spa_dict* props) {
  Object& object = objects[id] = Object{};
  object.id = id;
  object.order = nextOrder_++;
  merge(object.props, props);
  parse(object);
}

void Graph::propsChanged(std::uint32_t id, bool isNode, const spa_dict* props) {
  auto update = [&](auto& objects) -> decltype(&objects.begin()->second) {
    auto it = objects.find(id);
    if (it == objects.end()) return nullptr;
    merge(it->second.props, props);
    parse(it->second);
    return &it->second;
  };
  if (isNode) {
    if (const Node* node = update(nodes_)) listener_.nodeChanged(*node);
  } else if (const Client* client = update(clients_)) {
    listener_.clientChanged(*client);
  }
  connection_.signal();
}

void Graph::bindMetadata(std::uint32_t id, const std::string& name) {
  auto metadata = std::make_unique<Metadata>();
  metadata->graph = this;
  metadata->id = id;
  metadata->proxy.reset(
      static_cast<pw_proxy*>(pw_registry_bind(registry_.get(), id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0)));
  if (!metadata->proxy) return;
  static const pw_metadata_events kEvents = [] {
    pw_metadata_events events{};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = [](void* data, std::uint32_t subject, const char* key, const char* type, const char* value) {
      auto* m = static_cast<Metadata*>(data);
      m->graph->metadataChanged(*m, subject, key, type, value);
      return 0;
    };
    return events;
  }();
  pw_metadata_add_listener(metadata->metadata(), metadata->listener.arm(), &kEvents, metadata.get());
  (name == "default" ? defaultMetadata_ : settingsMetadata_) = std::move(metadata);
}

void Graph::metadataChanged(Metadata& metadata, std::uint32_t subject, const char* key, const char* type,
                            const char* value) {
  if (!key) {
    std::erase_if(metadata.values, [subject](const auto& entry) { return entry.first.first == subject; });
  } else if (!value) {
    metadata.values.erase({subject, key});
  } else {
    metadata.values[{subject, key}] = MetadataValue{text(type), value};
  }
  if (&metadata == defaultMetadata_.get() && subject == 0 && key && std::strcmp(key, "default.audio.sink") == 0 &&
      value)
    listener_.defaultSinkPublished();
  connection_.signal();
}

const Node* Graph::node(std::uint32_t id) const {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : &it->second;
}

const Node* Graph::nodeByName(std::string_view name) const {
  for (const auto& [id, node] : nodes_)
    if (node.name == name) return &node;
  return nullptr;
}

const Client* Graph::clientOf(const Node& node) const {
  if (!node.client) return nullptr;
  auto it = clients_.find(*node.client);
  return it == clients_.end() ? nullptr : &it->second;
}

std::vector<const Node*> Graph::outputStreams() const {
  std::vector<const Node*> streams;
  for (const auto& [id, node] : nodes_)
    if (node.isOutputStream()) streams.push_back(&node);
  std::ranges::sort(streams, {}, &Node::order);
  return streams;
}

bool Graph::linked(std::uint32_t output, std::uint32_t input) const {
  return std::ranges::any_of(links_, [&](const auto& l) { return l.second.outputNode == output && l.second.inputNode == input; });
}

bool Graph::hasLinks(std::uint32_t node, bool asOutput) const {
  return std::ranges::any_of(links_, [&](const auto& l) { return (asOutput ? l.second.outputNode : l.second.inputNode) == node; });
}

bool Graph::linkedElsewhere(std::uint32_t output, std::uint32_t input) const {
  return std::ranges::any_of(links_, [&](const auto& l) { return l.second.outputNode == output && l.second.inputNode != input; });
}

std::size_t Graph::portCount(std::uint32_t node) const {
  return std::size_t(std::ranges::count_if(ports_, [&](const auto& port) { return port.second.node == node; }));
}

std::optional<std::string> Graph::defaultSinkName() const {
  if (auto value = readDefault(0, "default.audio.sink")) return jsonName(value->value);
  return std::nullopt;
}

std::uint32_t Graph::rate() const {
  if (!settingsMetadata_) return 0;
  for (const char* key : {"clock.force-rate", "clock.rate"}) {
    auto it = settingsMetadata_->values.find(std::pair<std::uint32_t, std::string>{0u, key});
    if (it == settingsMetadata_->values.end()) continue;
    const auto rate = std::strtoul(it->second.value.c_str(), nullptr, 10);
    if (rate > 0 && rate <= 768000) return std::uint32_t(rate);
  }
  return 0;
}

std::vector<std::pair<std::uint32_t, MetadataValue>> Graph::defaultEntries(std::string_view key) const {
  std::vector<std::pair<std::uint32_t, MetadataValue>> entries;
  if (!defaultMetadata_) return entries;
  for (const auto& [k, value] : defaultMetadata_->values)
    if (k.second == key) entries.emplace_back(k.first, value);
  return entries;
}

std::optional<MetadataValue> Graph::readDefault(std::uint32_t subject, std::string_view key) const {
  if (!defaultMetadata_) return std::nullopt;
  auto it = defaultMetadata_->values.find(std::pair<std::uint32_t, std::string>{subject, std::string(key)});
  if (it == defaultMetadata_->values.end()) return std::nullopt;
  return it->second;
}

void Graph::writeDefault(std::uint32_t subject, std::string_view key, const std::optional<MetadataValue>& value) {
  if (!defaultMetadata_) return;
  const std::string k(key);
  if (value) {
    pw_metadata_set_property(defaultMetadata_->metadata(), subject, k.c_str(),
                             value->type.empty() ? nullptr : value->type.c_str(), value->value.c_str());
  } else {
    pw_metadata_set_property(defaultMetadata_->metadata(), subject, k.c_str(), nullptr, nullptr);
  }
}

}  // namespace brontide::linux::pipewire
