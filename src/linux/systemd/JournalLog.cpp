#include "linux/systemd/JournalLog.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdio>

#include "base/Format.h"

namespace brontide::linux::systemd {

void JournalLog::notice(const std::string& text) {
  // Names and paths from files and other programs end up here: one line each, nothing for the terminal to obey.
  const auto line = escapeControlCharacters(text);
  // Without a journal socket this fails quietly; stderr still has the line.
  sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%i", LOG_NOTICE, "SYSLOG_IDENTIFIER=brontide",
                  "BRONTIDE_SUBSYSTEM=app.brontide.mac", "BRONTIDE_CATEGORY=capture", nullptr);
  std::lock_guard lock(stderrLock_);
  std::fprintf(stderr, "brontide: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace brontide::linux::systemd
