#include "app/ui/QmlSetup.h"

#include <QCoreApplication>
#include <QQmlEngine>

#include "app/ui/Symbols.h"
#include "app/ui/Translator.h"

namespace brontide::ui {

void prepareEngine(QQmlEngine& engine) {
  // One translator for the whole process, parented to the application so it lives as long.
  auto* app = QCoreApplication::instance();
  if (!app->findChild<Translator*>(QString(), Qt::FindDirectChildrenOnly)) {
    auto* translator = new Translator(app);
    if (translator->loadTable()) QCoreApplication::installTranslator(translator);
  }
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine.addImageProvider(QLatin1String(SymbolImageProvider::kName), new SymbolImageProvider);
  engine.retranslate();
}

}  // namespace brontide::ui
