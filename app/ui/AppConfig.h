#pragma once

#include <QString>
#include <QUrl>

namespace brontide::ui {

// The handful of addresses and build settings the views use, in one place. Any thread.
struct AppConfig {
  // Where the user grants or withdraws access to application sound; the desktop workspace opens its
  // sound settings for this address.
  [[nodiscard]] static QString privacySettingsURL();
  // The update feed (an RSS appcast) chosen at build time; empty when the build has none.
  [[nodiscard]] static QUrl appcastURL();
  // This build's version, dotted numbers.
  [[nodiscard]] static QString currentVersion();
};

}  // namespace brontide::ui
