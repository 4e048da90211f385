#include "linux/gstreamer/AudioSession.h"

#include <cstdlib>
#include <sstream>

#include "linux/gstreamer/Subprocess.h"

namespace brontide::rig {

namespace {

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Applies the "export K=V" and "unset A B" lines the session script prints.
void adoptEnvironment(const std::string& exports) {
  std::istringstream lines(exports);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with("export ")) {
      const auto assignment = line.substr(7);
      const auto equals = assignment.find('=');
      if (equals == std::string::npos) continue;
      ::setenv(assignment.substr(0, equals).c_str(), assignment.substr(equals + 1).c_str(), 1);
    } else if (line.starts_with("unset ")) {
      std::istringstream names(line.substr(6));
      std::string name;
      while (names >> name) ::unsetenv(name.c_str());
    }
  }
}

}  // namespace

AudioSession::AudioSession() : script_(std::string(BRONTIDE_SOURCE_DIR) + "/scripts/audio-session/session") {
  int status = 0;
  const auto dir = trimmed(runCommand(script_ + " start", &status));
  if (status != 0 || dir.empty()) {
    error_ = "the private PipeWire session did not start (" + script_ + " start)";
    return;
  }
  dir_ = dir;
  adoptEnvironment(runCommand(script_ + " env " + dir_));
}

AudioSession::~AudioSession() {
  if (!dir_.empty()) runCommand(script_ + " stop " + dir_);
}

bool AudioSession::addNullSink(const std::string& nodeName) {
  int status = 0;
  runCommand("pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=" + nodeName +
                 " node.description=" + nodeName +
                 " media.class=Audio/Sink object.linger=true audio.position=[FL FR] priority.session=0 }' "
                 ">/dev/null 2>&1",
             &status);
  return status == 0 && nodeExists(nodeName);
}

bool AudioSession::nodeExists(const std::string& nodeName) const {
  return runCommand("pw-cli info '" + nodeName + "' 2>/dev/null").find("node.name = \"" + nodeName + "\"") !=
         std::string::npos;
}

std::string AudioSession::nodeState(const std::string& nodeName) const {
  // pw-cli prints it as `*\tstate: "running"`.
  const auto info = runCommand("pw-cli info '" + nodeName + "' 2>/dev/null");
  const std::string marker = "state: \"";
  const auto at = info.find(marker);
  if (at == std::string::npos) return {};
  const auto end = info.find('"', at + marker.size());
  return info.substr(at + marker.size(), end - at - marker.size());
}

std::optional<std::string> AudioSession::nodeProperty(const std::string& nodeName, const std::string& key) const {
  // pw-cli prints each property as `*\t\tkey = "value"`.
  std::istringstream lines(runCommand("pw-cli info '" + nodeName + "' 2>/dev/null"));
  std::string line;
  const std::string marker = key + " = \"";
  while (std::getline(lines, line)) {
    const auto at = line.find(marker);
    if (at == std::string::npos || line.find_first_not_of("*\t ") != at) continue;
    const auto value = line.substr(at + marker.size());
    return value.ends_with('"') ? value.substr(0, value.size() - 1) : value;
  }
  return std::nullopt;
}

}  // namespace brontide::rig
