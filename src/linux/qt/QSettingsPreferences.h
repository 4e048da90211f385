#pragma once

#include <QSettings>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/Preferences.h"

namespace brontide::linux::qt {

// Preferences in QSettings' native format: $XDG_CONFIG_HOME/brontide/brontide.conf. Main thread.
class QSettingsPreferences final : public Preferences {
 public:
  QSettingsPreferences();
  // For tests: a settings file at an explicit path.
  explicit QSettingsPreferences(const QString& path);

  std::optional<std::string> value(std::string_view key) const override;
  void setValue(std::string_view key, std::string_view value) override;
  // One write of the file with every value set since the last.
  void flush() override;

  // Empty when the file was read fine; otherwise why it was not (the defaults are used).
  [[nodiscard]] std::string problem() const;
  // Called once, the first time a value cannot be written to the file, with why.
  void onWriteProblem(std::function<void(const std::string&)> callback) { onWriteProblem_ = std::move(callback); }

 private:
  // Absent when something other than a regular file is at the path: QSettings would open it as it is.
  mutable std::optional<QSettings> settings_;
  QString path_;
  // What was set during this run: it holds for the run whatever the file's state (unreadable, unwritable).
  std::map<std::string, std::string, std::less<>> thisRun_;
  std::function<void(const std::string&)> onWriteProblem_;
  bool writeProblemSaid_ = false;
};

}  // namespace brontide::linux::qt
