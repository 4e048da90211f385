#pragma once

#include "fakes/SimpleCollator.h"

namespace brontide::fakes {

// The name the speaker and route tests elsewhere know the shared test collator by.
using FoldingCollator = SimpleCollator;

}  // namespace brontide::fakes
