#pragma once

#include <optional>
#include <string>

#include "base/Error.h"

namespace brontide {

// The user-visible streaming state. Compared by value; an error's code and detail are part of it.
class CaptureState {
 public:
  enum class Case { error, stopped, waiting, live };

  static CaptureState error(Error error) { return CaptureState(Case::error, std::move(error)); }
  static CaptureState stopped() { return CaptureState(Case::stopped); }
  static CaptureState waiting() { return CaptureState(Case::waiting); }
  static CaptureState live() { return CaptureState(Case::live); }

  [[nodiscard]] Case kind() const { return case_; }
  // What went wrong while the case is error.
  [[nodiscard]] const std::optional<Error>& failure() const { return error_; }
  // The short label; also its own translation key. Never contains the error's message.
  [[nodiscard]] const char* label() const;

  friend bool operator==(const CaptureState&, const CaptureState&) = default;

 private:
  explicit CaptureState(Case c, std::optional<Error> error = {}) : case_(c), error_(std::move(error)) {}
  Case case_;
  std::optional<Error> error_;
};

}  // namespace brontide
