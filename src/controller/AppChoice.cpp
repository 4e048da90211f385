#include "controller/AppChoice.h"

#include "controller/Workspace.h"

namespace brontide {

AppIcon AppChoice::icon(Workspace& workspace) const {
  if (const auto location = workspace.applicationLocation(bundleID)) {
    // A desktop entry without a usable icon gets the same fallback as an app that is not installed.
    if (auto file = workspace.iconForFile(*location); !file.empty()) return AppIcon{std::move(file), {}};
  }
  return AppIcon{{}, "app.dashed"};
}

}  // namespace brontide
