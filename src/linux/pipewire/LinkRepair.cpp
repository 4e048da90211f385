#include "linux/pipewire/LinkRepair.h"

#include <algorithm>

#include "base/Format.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;

constexpr auto kFirstCheck = 300ms;
constexpr auto kRecheck = 500ms;

}  // namespace

void LinkRepair::start(TimePoint now) {
  active_ = true;
  nextCheck_ = now + kFirstCheck;
}

void LinkRepair::givenBack(const std::vector<std::uint32_t>& nodes, TimePoint now) {
  if (!active_ || nodes.empty()) return;
  givenBack_.insert(givenBack_.end(), nodes.begin(), nodes.end());
  if (!nextCheck_) nextCheck_ = now + kFirstCheck;
}

void LinkRepair::reset() {
  links_.clear();
  givenBack_.clear();
  active_ = false;
  nextCheck_.reset();
}

void LinkRepair::onTimer(TimePoint now, const PrivateSink& sink, const CaptureStreams* captures, bool tapsLeft) {
  if (!nextCheck_ || *nextCheck_ > now) return;
  nextCheck_.reset();
  check(sink, captures ? captures->nodes() : std::vector<CaptureNode>{}, tapsLeft);
}

void LinkRepair::check(const PrivateSink& sink, const std::vector<CaptureNode>& captures, bool tapsLeft) {
  bool again = false;
  if (auto sinkNode = sink.node(); sinkNode && sink.ready()) {
    for (auto tap : sink.taps()) {
      for (auto node : sink.mover().streamsOf(tap)) {
        if (!graph_.linked(node, *sinkNode) && graph_.node(node)) {
          log_.notice(formatString("capture: linking stream %u into the tap by hand", node));
          link(node, *sinkNode);
          again = true;
        }
      }
    }
  }
  for (const auto& capture : captures) {
    if (!graph_.node(capture.node) || graph_.hasLinks(capture.node, false)) continue;
    if (const Node* source = graph_.nodeByName(capture.source)) {
      log_.notice(formatString("capture: linking the capture stream %u by hand", capture.node));
      link(source->id, capture.node);
      again = true;
    }
  }
  if (auto defaultSink = graph_.defaultSinkName()) {
    const Node* target = graph_.nodeByName(*defaultSink);
    for (auto node : std::exchange(givenBack_, {})) {
      if (target && graph_.node(node) && !sink.mover().isMoved(node) && !graph_.hasLinks(node, true))
        link(node, target->id);
    }
  }
  if (again && tapsLeft) nextCheck_ = std::chrono::steady_clock::now() + kRecheck;
}

void LinkRepair::link(std::uint32_t output, std::uint32_t input) {
  std::vector<std::pair<std::uint32_t, const Port*>> outs, ins;
  for (const auto& [id, port] : graph_.ports()) {
    if (port.node == output && port.output) outs.emplace_back(id, &port);
    if (port.node == input && !port.output) ins.emplace_back(id, &port);
  }
  for (const auto& [outId, out] : outs) {
    for (const auto& [inId, in] : ins) {
      if (out->channel != in->channel && out->channel != "MONO" && in->channel != "MONO") continue;
      auto props = PwProperties(pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr));
      pw_properties_setf(props.get(), PW_KEY_LINK_OUTPUT_NODE, "%u", output);
      pw_properties_setf(props.get(), PW_KEY_LINK_OUTPUT_PORT, "%u", outId);
      pw_properties_setf(props.get(), PW_KEY_LINK_INPUT_NODE, "%u", input);
      pw_properties_setf(props.get(), PW_KEY_LINK_INPUT_PORT, "%u", inId);
      auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(connection_.core(), "link-factory",
                                                                 PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
      if (proxy) links_.emplace_back(proxy);
    }
  }
}

}  // namespace brontide::linux::pipewire
