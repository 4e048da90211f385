#include "app/ui/QmlSetup.h"

#include <QCoreApplication>
#include <QQmlEngine>

#include "app/ui/FrameClock.h"
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
  // C++ types for the views, once per process. Their own module: the Brontide module is its qmldir alone.
  if (qmlTypeId("Brontide.Motion", 1, 0, "FrameClock") < 0)
    qmlRegisterType<FrameClock>("Brontide.Motion", 1, 0, "FrameClock");
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine.addImageProvider(QLatin1String(SymbolImageProvider::kName), new SymbolImageProvider);
  engine.retranslate();
}

}  // namespace brontide::ui
