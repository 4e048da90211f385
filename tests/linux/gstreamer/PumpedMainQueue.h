#pragma once

// Moved; kept while tests outside this folder still include it here.
#include "support/PumpedMainQueue.h"
