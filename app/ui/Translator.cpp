#include "app/ui/Translator.h"

#include <QtGlobal>

#include "app/ui/PanelTexts.h"

namespace brontide::ui {

Translator::Translator(QObject* parent) : QTranslator(parent) {}

bool Translator::loadTable() {
  if (load(QStringLiteral(":/brontide/i18n/brontide_es.qm"))) return true;
  qWarning("brontide: the embedded \"es\" translation table is missing; texts naming the other desktop show as keys");
  return false;
}

QString Translator::translate(const char*, const char* sourceText, const char* disambiguation, int n) const {
  return QTranslator::translate(kTextContext, sourceText, disambiguation, n);
}

}  // namespace brontide::ui
