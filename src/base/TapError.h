#pragma once

#include <cstdint>
#include <string>

namespace brontide {

// The error of every capture and encoder failure. `errorDescription` is what the user sees.
class TapError {
 public:
  // A non-zero status is appended as " (OSStatus <n>)"; on Linux it carries the library's result code.
  explicit TapError(std::string message, std::int32_t status = 0)
      : errorDescription_(status == 0 ? std::move(message)
                                      : std::move(message) + " (OSStatus " + std::to_string(status) + ")") {}

  [[nodiscard]] const std::string& errorDescription() const { return errorDescription_; }

  friend bool operator==(const TapError&, const TapError&) = default;

 private:
  std::string errorDescription_;
};

}  // namespace brontide
