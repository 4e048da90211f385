#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace brontide::ui {

// Where the panel opens.
struct PanelPlacement {
  enum class Mode {
    anchored,  // frameless, beside the tray icon or the cursor; hides when Brontide loses focus
    window,    // an ordinary window that stays open (Wayland, or no usable anchor)
  };
  Mode mode = Mode::window;
  QPoint topLeft;  // anchored only

  friend bool operator==(const PanelPlacement&, const PanelPlacement&) = default;
};

// Anchors the panel to the tray icon when its geometry is known (the D-Bus tray often reports none), else to
// the cursor (known on X11 only); below the anchor in the upper half of the screen, above it in the lower
// half, centred on it and kept inside `screen`.
[[nodiscard]] PanelPlacement placePanel(const QRect& trayIcon, std::optional<QPoint> cursor, const QRect& screen,
                                        const QSize& panel);

}  // namespace brontide::ui
