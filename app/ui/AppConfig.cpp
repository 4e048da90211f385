#include "app/ui/AppConfig.h"

#ifndef BRONTIDE_APPCAST_URL
#error "the build passes BRONTIDE_APPCAST_URL (empty for none)"
#endif
#ifndef BRONTIDE_VERSION
#error "the build passes BRONTIDE_VERSION"
#endif

namespace brontide::ui {

QString AppConfig::privacySettingsURL() {
  return QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture");
}

QUrl AppConfig::appcastURL() {
  const auto text = QStringLiteral(BRONTIDE_APPCAST_URL).trimmed();
  return text.isEmpty() ? QUrl() : QUrl(text, QUrl::StrictMode);
}

QString AppConfig::currentVersion() { return QStringLiteral(BRONTIDE_VERSION); }

}  // namespace brontide::ui
