#pragma once

#include <QSettings>
#include <QString>

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

  // Empty when the file was read fine; otherwise why it was not (the defaults are used).
  [[nodiscard]] std::string problem() const;

 private:
  mutable QSettings settings_;
};

}  // namespace brontide::linux::qt
