#pragma once

#include <expected>
#include <optional>
#include <string>

#include "controller/LoginItems.h"

namespace brontide::fakes {

// A login-item registration whose outcome the test chooses. Main thread.
class FakeLoginItems final : public LoginItems {
 public:
  std::expected<void, std::string> registerMainApp() override {
    if (failure) return std::unexpected(*failure);
    current = statusAfterRegister;
    return {};
  }
  std::expected<void, std::string> unregisterMainApp() override {
    if (failure) return std::unexpected(*failure);
    current = Status::notRegistered;
    return {};
  }
  [[nodiscard]] Status status() const override { return current; }

  Status current = Status::notRegistered;
  Status statusAfterRegister = Status::enabled;
  std::optional<std::string> failure;  // every change fails with it while set
};

}  // namespace brontide::fakes
