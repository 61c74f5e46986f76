// Value types, enumerations and name tables of the single-robot API. They
// are defined below the link, which fills them (base/vek_types.h); this
// header is where the API's users find them.
#pragma once

#include "base/vek_types.h"
