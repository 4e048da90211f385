#pragma once

#include <memory>
#include <string>
#include <thread>

#include "base/MainQueue.h"
#include "speaker_browser/ReceiverPasswords.h"

namespace brontide::linux::rtsp {

// Checks a receiver's password with one RTSP OPTIONS exchange, answering the Digest challenge the receiver
// sends (RFC 2617, MD5, no qop), on its own thread ("brontide.rtsp"). A receiver that asks for nothing accepts.
class RtspPasswordCheck final : public PasswordCheck {
 public:
  // A receiver that has not answered by then is unreachable.
  static constexpr int kLimitSeconds = 5;

  explicit RtspPasswordCheck(MainQueue& mainQueue);
  // Checks still running are dropped: their `done` never runs.
  ~RtspPasswordCheck() override;
  RtspPasswordCheck(const RtspPasswordCheck&) = delete;
  RtspPasswordCheck& operator=(const RtspPasswordCheck&) = delete;

  void check(const AirPlayReceiver& receiver,
             std::function<void(PasswordVerdict verdict, std::string reason)> done) override;

  // The Authorization header for `method` on `uri` answering `challenge` (a WWW-Authenticate value), or empty
  // when the challenge is not Digest.
  [[nodiscard]] static std::string authorization(const std::string& challenge, const std::string& method,
                                                 const std::string& uri, const std::string& password);

 private:
  struct Engine;
  MainQueue& mainQueue_;
  std::unique_ptr<Engine> engine_;
  std::thread thread_;
};

}  // namespace brontide::linux::rtsp
