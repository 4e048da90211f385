#include "linux/pipewire/RaopArguments.h"

#include <pipewire/pipewire.h>

#include <cstdio>

namespace brontide::linux::pipewire {

namespace {

// The first release that takes the address as raop.ip. Releases between 0.3.65 and the actual change still read
// raop.hostname, which the newer set fills with the address as well, so this may err low but never high.
constexpr LibraryVersion kRaopIpSince{0, 3, 66};

// The 1.x sink: the AirPlay volume sent as 30·∛(mean channel volume) − 30 dB, nothing applied here, and its
// latency taken from raop.latency.ms.
constexpr LibraryVersion kVolumeSentSince{1, 0, 0};

const char* encryptionArgument(AirPlayEncryption encryption) {
  switch (encryption) {
    case AirPlayEncryption::rsa: return "RSA";
    case AirPlayEncryption::authSetup: return "auth_setup";
    case AirPlayEncryption::none: break;
  }
  return "none";
}

}  // namespace

bool raopSinkSendsVolume(LibraryVersion library) { return library >= kVolumeSentSince; }

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string raopSinkArguments(const AirPlayReceiver& r, const std::string& nodeName, const std::string& fanOutGroup,
                              LibraryVersion library) {
  std::string args = "{ raop.hostname = " + jsonString(r.address);
  if (library >= kRaopIpSince) args += " raop.ip = " + jsonString(r.address) + " raop.name = " + jsonString(r.name);
  args += " raop.port = " + std::to_string(r.port) +
          " raop.transport = " + (r.transport == AirPlayTransport::tcp ? "tcp" : "udp") +
          " raop.encryption.type = " + encryptionArgument(r.encryption) + " raop.audio.codec = PCM";
  if (r.password) args += " raop.password = " + jsonString(*r.password);
  if (raopSinkSendsVolume(library)) args += " raop.latency.ms = " + std::to_string(kRaopLatencyMs);
  // Never the session's default sink; never suspended (see FanOutSink::create).
  args += " stream.props = { node.name = " + jsonString(nodeName) + " node.description = " + jsonString(r.name) +
          // WirePlumber restores sink volumes by media.name, which the module makes the same for every receiver:
          // name each after its receiver so one receiver's volume never lands on another.
          " media.name = " + jsonString("AirPlay: " + r.name) +
          // The receiver's volume is ours alone: a restored one would reach the speaker before it.
          " state.restore-props = false" +
          " priority.session = 0 priority.driver = 0 session.suspend-timeout-seconds = 0" +
          // PipeWire 1.x stamps RTP with the driver's clock: a sink that starts on another driver and then joins the
          // fan-out sink's jumps, and the receiver waits hours for the next packet. It is in the fan-out's group.
          " node.group = " + jsonString(fanOutGroup) + " } }";
  return args;
}

}  // namespace brontide::linux::pipewire
