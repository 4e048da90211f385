#pragma once

#include <string>

namespace brontide {

// Diagnostic log at the default level (subsystem "app.brontide.mac", category "capture").
// Any thread.
class Log {
 public:
  virtual ~Log() = default;
  virtual void notice(const std::string& line) = 0;
};

}  // namespace brontide
