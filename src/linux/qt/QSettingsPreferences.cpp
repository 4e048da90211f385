#include "linux/qt/QSettingsPreferences.h"

#include <QVariant>

namespace brontide::linux::qt {
namespace {

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

QSettingsPreferences::QSettingsPreferences()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("brontide"),
                QStringLiteral("brontide")) {}

QSettingsPreferences::QSettingsPreferences(const QString& path) : settings_(path, QSettings::NativeFormat) {}

std::optional<std::string> QSettingsPreferences::value(std::string_view key) const {
  if (const auto set = thisRun_.find(key); set != thisRun_.end()) return set->second;
  if (settings_.status() != QSettings::NoError) return std::nullopt;
  const QVariant stored = settings_.value(toQString(key));
  // Lists and other non-text values (a hand-edited "a, b") are not values of ours.
  if (!stored.isValid() || !stored.canConvert<QString>() || stored.typeId() == QMetaType::QStringList) {
    return std::nullopt;
  }
  return stored.toString().toStdString();
}

void QSettingsPreferences::setValue(std::string_view key, std::string_view value) {
  thisRun_.insert_or_assign(std::string(key), std::string(value));
  settings_.setValue(toQString(key), toQString(value));
}

void QSettingsPreferences::flush() {
  settings_.sync();
  if (settings_.status() != QSettings::NoError && !writeProblemSaid_) {
    writeProblemSaid_ = true;
    if (onWriteProblem_) onWriteProblem_(problem());
  }
}

std::string QSettingsPreferences::problem() const {
  switch (settings_.status()) {
    case QSettings::NoError: return {};
    case QSettings::AccessError: return "no se puede leer o escribir " + settings_.fileName().toStdString();
    case QSettings::FormatError: return "formato no válido en " + settings_.fileName().toStdString();
  }
  return {};
}

}  // namespace brontide::linux::qt
