#pragma once

#include <QCollator>

#include "base/Collator.h"

namespace brontide::linux::qt {

// The user's locale collation, case-insensitive; Spanish when the locale is plain C/POSIX.
class QtCollator final : public Collator {
 public:
  QtCollator();
  int compare(std::string_view a, std::string_view b) const override;

 private:
  QCollator collator_;
};

}  // namespace brontide::linux::qt
