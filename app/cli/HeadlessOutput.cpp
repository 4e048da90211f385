#include "app/cli/HeadlessOutput.h"

#include "base/Format.h"

namespace brontide::cli {

HeadlessOutput::HeadlessOutput(Controller& controller, MainQueue& mainQueue, std::FILE* out)
    : controller_(controller), out_(out) {
  connection_ = controller_.changed.connect([this](Controller::Field field) { onChange(field); });
  levelTimer_ = mainQueue.scheduleRepeating(std::chrono::seconds(1), [this] { printLevel(); });
  onChange(Controller::Field::state);
  onChange(Controller::Field::detail);
}

HeadlessOutput::~HeadlessOutput() { controller_.changed.disconnect(connection_); }

void HeadlessOutput::print(std::string_view key, std::string_view text) {
  const std::string line = std::string(key) + ": " + escapeControlCharacters(text) + "\n";
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
}

void HeadlessOutput::onChange(Controller::Field field) {
  // The controller notifies every assignment; print only what the user would see change.
  if (field == Controller::Field::state) {
    std::string label = controller_.state().label();
    if (label != lastState_) {
      lastState_ = label;
      print("state", label);
    }
  } else if (field == Controller::Field::detail) {
    if (controller_.detail() != lastDetail_) {
      lastDetail_ = controller_.detail();
      print("detail", lastDetail_);
    }
  } else if (field == Controller::Field::captureSilent) {
    if (controller_.captureSilent() != lastSilent_) {
      lastSilent_ = controller_.captureSilent();
      print("silent", lastSilent_ ? "1" : "0");
    }
  }
  const std::uint16_t port = controller_.port();
  if (port != 0 && port != lastPort_) print("port", std::to_string(port));
  lastPort_ = port;
}

void HeadlessOutput::printLevel() {
  std::string level = formatString("%.3f", double(controller_.level()));
  if (level == lastLevel_) return;
  lastLevel_ = std::move(level);
  print("level", lastLevel_);
}

}  // namespace brontide::cli

