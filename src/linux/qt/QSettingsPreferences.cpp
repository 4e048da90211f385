#include "linux/qt/QSettingsPreferences.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QVariant>

namespace brontide::linux::qt {
namespace {

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

QSettingsPreferences::QSettingsPreferences()
    : QSettingsPreferences(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/brontide/brontide.conf")) {}

QSettingsPreferences::QSettingsPreferences(const QString& path) : path_(path) {
  // A FIFO there would hold start-up for good; a folder QSettings reports itself.
  if (const QFileInfo file(path); file.exists() && !file.isFile() && !file.isDir()) return;
  settings_.emplace(path, QSettings::NativeFormat);
}

std::optional<std::string> QSettingsPreferences::value(std::string_view key) const {
  if (const auto set = thisRun_.find(key); set != thisRun_.end()) return set->second;
  if (!settings_ || settings_->status() != QSettings::NoError) return std::nullopt;
  const QVariant stored = settings_->value(toQString(key));
  // Lists and other non-text values (a hand-edited "a, b") are not values of ours.
  if (!stored.isValid() || !stored.canConvert<QString>() || stored.typeId() == QMetaType::QStringList) {
    return std::nullopt;
  }
  return stored.toString().toStdString();
}

void QSettingsPreferences::setValue(std::string_view key, std::string_view value) {
  thisRun_.insert_or_assign(std::string(key), std::string(value));
  if (settings_) settings_->setValue(toQString(key), toQString(value));
}

void QSettingsPreferences::flush() {
  if (settings_) settings_->sync();
  if (writeProblemSaid_) return;
  const auto why = problem();
  if (why.empty()) return;
  writeProblemSaid_ = true;
  if (onWriteProblem_) onWriteProblem_(why);
}

std::string QSettingsPreferences::problem() const {
  if (!settings_) return "no es un archivo normal: " + path_.toStdString();
  switch (settings_->status()) {
    case QSettings::NoError: return {};
    case QSettings::AccessError: return "no se puede leer o escribir " + path_.toStdString();
    case QSettings::FormatError: return "formato no válido en " + path_.toStdString();
  }
  return {};
}

}  // namespace brontide::linux::qt
