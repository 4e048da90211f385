#include "app/ui/PanelTexts.h"

#include <QCoreApplication>

#include <cmath>

namespace brontide::ui {

QString volumeFigure(double volume, bool muted) {
  if (muted) return QCoreApplication::translate(kTextContext, "Silencio");
  // std::llround rounds halves away from zero: 0.125 reads 13.
  return QCoreApplication::translate(kTextContext, "%1 %").arg(std::llround(volume * 100.0));
}

QString volumeSymbol(double volume, bool muted) {
  return muted || volume == 0.0 ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill");
}

QString speakerCountLine(qsizetype count) {
  if (count == 1) return QCoreApplication::translate(kTextContext, "1 altavoz disponible en tu red");
  return QCoreApplication::translate(kTextContext, "%1 altavoces disponibles en tu red").arg(count);
}

QString silenceLine(const QString& sourceName) {
  return QCoreApplication::translate(kTextContext, "No llega sonido de %1. \u00BFEst\u00E1 en pausa?").arg(sourceName);
}

QString settingsProblemLine(const QString& problem) {
  return QCoreApplication::translate(kTextContext, "No se pueden guardar los ajustes (%1).").arg(problem);
}

QString stateKind(const CaptureState& state) {
  switch (state.kind()) {
    case CaptureState::Case::error: return QStringLiteral("error");
    case CaptureState::Case::stopped: return QStringLiteral("stopped");
    case CaptureState::Case::waiting: return QStringLiteral("waiting");
    case CaptureState::Case::live: return QStringLiteral("live");
  }
  return QStringLiteral("stopped");
}

}  // namespace brontide::ui
