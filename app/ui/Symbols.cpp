#include "app/ui/Symbols.h"

#include <QColor>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>
#include <QtGlobal>

#include <array>
#include <utility>

namespace brontide::ui {
namespace {

// Rounded, weight 400; the "-fill" file where the symbol name ends in ".fill".
constexpr std::array<std::pair<const char*, const char*>, 28> kSymbols{{
    {"app.dashed", "select"},
    {"appletv.fill", "tv-fill"},
    {"arrow.clockwise", "refresh"},
    {"arrow.right", "arrow_forward"},
    {"arrow.up", "arrow_upward"},
    {"battery.75percent", "battery_horiz_075"},
    {"checkmark.circle.fill", "check_circle-fill"},
    {"checkmark.square.fill", "check_box-fill"},
    {"chevron.up.chevron.down", "unfold_more"},
    {"hifispeaker.2", "speaker_group"},
    {"hifispeaker.2.fill", "speaker_group-fill"},
    {"hifispeaker.fill", "speaker-fill"},
    {"homepod.fill", "nest_audio-fill"},
    {"homepodmini.fill", "nest_mini-fill"},
    {"music.note", "music_note"},
    {"play.fill", "play_arrow-fill"},
    {"slider.horizontal.3", "tune"},
    {"speaker.slash.fill", "volume_off-fill"},
    {"speaker.wave.2.fill", "volume_up-fill"},
    {"stop.fill", "stop-fill"},
    {"waveform.badge.mic", "adaptive_audio_mic"},
    {"wifi.exclamationmark", "signal_wifi_bad"},
    {"airplayaudio", "airplay"},
    {"gearshape", "settings"},
    {"laptopcomputer", "laptop_mac"},
    {"wifi", "wifi"},
    {"square", "check_box_outline_blank"},
    {"xmark", "close"},
}};

constexpr int kDefaultSize = 24;

// The sizes tray hosts ask for, from a 16 px panel to a HiDPI one.
constexpr int kTraySizes[] = {16, 22, 24, 32, 48, 64};

QImage tinted(const QString& file, QSize size, const QRectF& where, const QColor& colour) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QSvgRenderer(file).render(&painter, where);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), colour);
  return image;
}

}  // namespace

QString symbolFile(QStringView name) {
  if (name.isEmpty()) return {};
  for (const auto& [symbol, file] : kSymbols) {
    if (name == QLatin1String(symbol)) return QStringLiteral(":/brontide/icons/symbols/%1.svg").arg(QLatin1String(file));
  }
  return {};
}

QUrl symbolUrl(const QString& name) {
  return QUrl(QStringLiteral("image://%1/%2").arg(QLatin1String(SymbolImageProvider::kName), name));
}

QImage outlinedTraySymbol(bool running, int size) {
  const auto file = symbolFile(running ? u"hifispeaker.2.fill" : u"hifispeaker.2");
  const QSize extent(size, size);
  // Inset by the outline's width so that the outline stays inside the icon.
  const QRectF glyph(1, 1, size - 2, size - 2);
  const QImage outline = tinted(file, extent, glyph, QColor(0x1c, 0x1b, 0x22));
  QImage image(extent, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) painter.drawImage(dx, dy, outline);
  }
  painter.drawImage(0, 0, tinted(file, extent, glyph, Qt::white));
  return image;
}

QIcon trayIcon(bool running) {
  QIcon fallback;
  for (int size : kTraySizes) fallback.addPixmap(QPixmap::fromImage(outlinedTraySymbol(running, size)));
  return QIcon::fromTheme(running ? QStringLiteral("app.brontide.Brontide-tray-active-symbolic")
                                  : QStringLiteral("app.brontide.Brontide-tray-symbolic"),
                          fallback);
}

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
  const auto query = id.indexOf(QLatin1Char('?'));
  const auto name = query < 0 ? id : id.left(query);
  QColor tint = query < 0 ? QGuiApplication::palette().color(QPalette::PlaceholderText)
                          : QColor(QUrl::fromPercentEncoding(id.mid(query + 1).toUtf8()));
  const QSize target(requestedSize.width() > 0 ? requestedSize.width() : kDefaultSize,
                     requestedSize.height() > 0 ? requestedSize.height() : kDefaultSize);
  if (size) *size = target;

  QImage image(target, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  const auto file = symbolFile(name);
  QSvgRenderer renderer(file);
  if (file.isEmpty() || !renderer.isValid()) {
    qWarning("brontide: no bundled symbol named \"%s\"", qPrintable(name));
    return image;
  }
  if (!tint.isValid()) {
    qWarning("brontide: symbol \"%s\" asked for an invalid colour", qPrintable(name));
    tint = Qt::black;
  }
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  // Tint: keep the path's coverage, replace its colour.
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), tint);
  return image;
}

}  // namespace brontide::ui
