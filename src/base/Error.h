#pragma once

#include <string>

namespace brontide {

// What went wrong, in the product's terms; the Spanish text is chosen from it in one place (userText).
enum class ErrorCode {
  NoSoundServer,          // PipeWire cannot be reached
  TapNotOpened,           // the private sink or the moves of the app's streams into it
  RateUnknown,            // the graph has no sample rate yet
  NoOutput,               // no default sink to capture globally
  CaptureNotCreated,      // the capture stream
  CaptureNotStarted,      // the capture stream's connection
  SampleRateUnsupported,  // a rate AAC in ADTS has no index for
  EncoderNotCreated,      // FFmpeg's AAC encoder
  ServerFailed,           // the loopback HTTP server
};

// A failure: its code and the library's own words (strerror, av_strerror, asio), possibly empty.
struct Error {
  ErrorCode code;
  std::string detail;

  friend bool operator==(const Error&, const Error&) = default;
};

// The text the user sees, in Spanish; the only place such a text is chosen for an error.
[[nodiscard]] std::string userText(const Error& error);
// One log line's worth: the code's name and the detail.
[[nodiscard]] std::string logText(const Error& error);

}  // namespace brontide
