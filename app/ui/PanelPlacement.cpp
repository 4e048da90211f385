#include "app/ui/PanelPlacement.h"

#include <algorithm>

namespace brontide::ui {
namespace {

constexpr int kScreenMargin = 8;  // keeps the panel off the screen's very edge
constexpr int kAnchorGap = 6;     // between the tray icon (or cursor) and the panel

}  // namespace

PanelPlacement placePanel(const QRect& trayIcon, std::optional<QPoint> cursor, const QRect& screen,
                          const QSize& panel) {
  QRect anchor;
  if (trayIcon.isValid() && !trayIcon.isEmpty()) {
    anchor = trayIcon;
  } else if (cursor) {
    anchor = QRect(*cursor, QSize(1, 1));
  } else {
    return {};
  }
  const bool below = anchor.center().y() < screen.center().y();
  int x = anchor.center().x() - panel.width() / 2;
  int y = below ? anchor.bottom() + 1 + kAnchorGap : anchor.top() - kAnchorGap - panel.height();
  // A panel larger than the screen keeps its top-left corner visible.
  x = std::max(screen.left() + kScreenMargin, std::min(x, screen.right() + 1 - kScreenMargin - panel.width()));
  y = std::max(screen.top() + kScreenMargin, std::min(y, screen.bottom() + 1 - kScreenMargin - panel.height()));
  return {PanelPlacement::Mode::anchored, QPoint(x, y)};
}

}  // namespace brontide::ui
