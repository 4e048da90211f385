#pragma once

#include <QTranslator>

namespace brontide::ui {

// Brontide's shipped "es" table. Its keys are the Spanish texts alone, so a text is found whichever
// QML file or class shows it (Qt would otherwise look it up per file). GUI thread.
class Translator final : public QTranslator {
  Q_OBJECT
 public:
  explicit Translator(QObject* parent = nullptr);
  // Loads the embedded table; false (and a log line) when it is missing from the build.
  [[nodiscard]] bool loadTable();
  QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                    int n = -1) const override;
};

}  // namespace brontide::ui
