#include "linux/qt/QtCollator.h"

#include <QLocale>
#include <QString>

namespace brontide::linux::qt {
namespace {

QLocale collationLocale() {
  const QLocale system = QLocale::system();
  // The C locale compares bytes: "cocina" would sort after "Salón".
  if (system.language() == QLocale::C) return QLocale(QLocale::Spanish, QLocale::Spain);
  return system;
}

}  // namespace

QtCollator::QtCollator() : collator_(collationLocale()) {
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

int QtCollator::compare(std::string_view a, std::string_view b) const {
  return collator_.compare(QString::fromUtf8(a.data(), qsizetype(a.size())),
                           QString::fromUtf8(b.data(), qsizetype(b.size())));
}

}  // namespace brontide::linux::qt
