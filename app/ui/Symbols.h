#pragma once

#include <QQuickImageProvider>
#include <QString>
#include <QUrl>

namespace brontide::ui {

// The bundled Material Symbols file drawn for a symbol name ("music.note"), as a resource path;
// empty when the name is not in the table.
[[nodiscard]] QString symbolFile(QStringView name);

// The image address QML uses for a symbol: "image://symbol/<name>", optionally "?<colour>".
[[nodiscard]] QUrl symbolUrl(const QString& name);

// Renders a bundled symbol at the requested size, tinted with the colour after '?' (the symbols are
// single-colour paths). Untinted requests get the secondary text colour. GUI thread.
class SymbolImageProvider final : public QQuickImageProvider {
 public:
  static constexpr const char* kName = "symbol";
  SymbolImageProvider();
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

}  // namespace brontide::ui
