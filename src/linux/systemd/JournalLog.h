#pragma once

#include <mutex>

#include "base/Log.h"

namespace brontide::linux::systemd {

// Log lines to the systemd journal (when there is one) and to stderr. Any thread.
class JournalLog final : public Log {
 public:
  void notice(const std::string& line) override;

 private:
  std::mutex stderrLock_;  // keeps lines from two threads whole
};

}  // namespace brontide::linux::systemd
