#pragma once

#include <QString>

#include "controller/CaptureState.h"

namespace brontide::ui {

// The context every Brontide text is looked up in (see Translator).
inline constexpr const char* kTextContext = "Brontide";

// The volume figure: "Silencio" while muted, else the volume in whole percent, halves away from zero.
[[nodiscard]] QString volumeFigure(double volume, bool muted);
// The mute button's symbol: slashed while muted or at exactly zero volume.
[[nodiscard]] QString volumeSymbol(double volume, bool muted);
// The line above the speaker rows, singular for one speaker.
[[nodiscard]] QString speakerCountLine(qsizetype count);
// The header's row while the live source sends only silence.
[[nodiscard]] QString silenceLine(const QString& sourceName);
// The one-time notice when the settings file cannot be written, with why.
[[nodiscard]] QString settingsProblemLine(const QString& problem);
// The state's case as QML compares it: "error", "stopped", "waiting" or "live".
[[nodiscard]] QString stateKind(const CaptureState& state);

}  // namespace brontide::ui
