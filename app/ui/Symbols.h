#pragma once

#include <QIcon>
#include <QImage>
#include <QQuickImageProvider>
#include <QString>
#include <QUrl>

namespace brontide::ui {

// The bundled Material Symbols file drawn for a symbol name ("music.note"), as a resource path;
// empty when the name is not in the table.
[[nodiscard]] QString symbolFile(QStringView name);

// The image address QML uses for a symbol: "image://symbol/<name>", optionally "?<colour>".
[[nodiscard]] QUrl symbolUrl(const QString& name);

// The tray icon: the speaker-group symbol, filled while streaming, outlined otherwise. It is set by its theme
// name (app.brontide.Brontide-tray[-active]-symbolic) so that tray hosts recolour it for their panel; where
// the theme lacks it (run from a build folder), the fallback pixmaps below. GUI thread.
[[nodiscard]] QIcon trayIcon(bool running);

// The tray symbol drawn white with a 1 px dark outline, readable on light and dark panels alike.
[[nodiscard]] QImage outlinedTraySymbol(bool running, int size);

// Renders a bundled symbol at the requested size, tinted with the colour after '?' (the symbols are
// single-colour paths). Untinted requests get the secondary text colour. GUI thread.
class SymbolImageProvider final : public QQuickImageProvider {
 public:
  static constexpr const char* kName = "symbol";
  SymbolImageProvider();
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

}  // namespace brontide::ui
