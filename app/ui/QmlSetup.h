#pragma once

class QQmlEngine;

namespace brontide::ui {

// Makes the Brontide QML module, its symbol images and its translation table available to `engine`.
// Installs the translator into the application once. GUI thread, after the application object exists.
void prepareEngine(QQmlEngine& engine);

}  // namespace brontide::ui
