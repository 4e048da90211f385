#pragma once

#include <string>

namespace brontide {

// The user-visible streaming state. Compared by value; an error's message is part of it.
class CaptureState {
 public:
  enum class Case { error, stopped, waiting, live };

  static CaptureState error(std::string message) { return CaptureState(Case::error, std::move(message)); }
  static CaptureState stopped() { return CaptureState(Case::stopped); }
  static CaptureState waiting() { return CaptureState(Case::waiting); }
  static CaptureState live() { return CaptureState(Case::live); }

  [[nodiscard]] Case kind() const { return case_; }
  [[nodiscard]] const std::string& message() const { return message_; }
  // The short label; also its own translation key. Never contains the error's message.
  [[nodiscard]] const char* label() const;

  friend bool operator==(const CaptureState&, const CaptureState&) = default;

 private:
  explicit CaptureState(Case c, std::string message = {}) : case_(c), message_(std::move(message)) {}
  Case case_;
  std::string message_;
};

}  // namespace brontide
