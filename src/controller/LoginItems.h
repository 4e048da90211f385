#pragma once

#include <expected>
#include <string>

namespace brontide {

// Starting Brontide when the user logs in. Main thread.
class LoginItems {
 public:
  enum class Status { notRegistered, enabled, requiresApproval, notFound };

  virtual ~LoginItems() = default;
  [[nodiscard]] virtual std::expected<void, std::string> registerMainApp() = 0;
  [[nodiscard]] virtual std::expected<void, std::string> unregisterMainApp() = 0;
  [[nodiscard]] virtual Status status() const = 0;
};

}  // namespace brontide
