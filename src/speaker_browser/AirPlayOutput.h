#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace brontide {

enum class AirPlayTransport { udp, tcp };
enum class AirPlayEncryption { none, rsa, authSetup };

// How to reach one AirPlay 1 (`_raop._tcp`) receiver.
struct AirPlayReceiver {
  std::string name;     // as shown
  std::string address;  // numeric IPv4
  std::uint16_t port = 0;
  AirPlayTransport transport = AirPlayTransport::udp;
  AirPlayEncryption encryption = AirPlayEncryption::none;
  std::optional<std::string> password;

  friend bool operator==(const AirPlayReceiver&, const AirPlayReceiver&) = default;
};

// Sends the player's sound to AirPlay receivers: one sink per open receiver, and the player routed either to
// all open sinks at once or to the computer's default output. Main thread; handlers run on the main thread.
class AirPlayOutput {
 public:
  using SinkId = std::uint64_t;

  struct Handlers {
    // The receiver answered: its sink takes whatever the player sends.
    std::function<void(SinkId)> connected;
    // Sound is flowing to the receiver.
    std::function<void(SinkId)> streaming;
    // The sink is gone (refused, unreachable, dropped, or the sound server went away), with a log reason.
    // The id is dead: open the receiver again to retry.
    std::function<void(SinkId, std::string)> failed;
  };

  virtual ~AirPlayOutput() = default;
  virtual void setHandlers(Handlers handlers) = 0;
  // Starts connecting, with the sink's volume already `volume` (0…1) so that no other is ever sent; the answer
  // comes as `connected` or `failed`.
  [[nodiscard]] virtual SinkId open(const AirPlayReceiver& receiver, double volume) = 0;
  // Closes the sink; no event follows for it.
  virtual void close(SinkId sink) = 0;
  // The sink's volume, 0…1: the receiver's own volume where sendsVolume(), else a gain applied before sending.
  virtual void setVolume(SinkId sink, double volume) = 0;
  // Whether the receivers are told the volume (their own volume control follows it) rather than keeping theirs.
  [[nodiscard]] virtual bool sendsVolume() const = 0;
  // The player plays to every open sink, and to nothing else even while none is open.
  virtual void routeToReceivers() = 0;
  // The player plays to the computer's default output.
  virtual void routeToDefault() = 0;
  // While routed to receivers: whether the computer's default output plays too, delayed by the receivers'
  // latency so that the room and the speakers sound together. Off after routeToReceivers() and routeToDefault().
  virtual void playLocally(bool on) = 0;
};

}  // namespace brontide
