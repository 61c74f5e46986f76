// Value types, enumerations and name tables of the single-robot API. They
// are defined below the link, which fills them (base/vek_types.h); this
// header is where the API's users find them.
#pragma once

// A public header (installed as quiral/...): it includes other public headers
// only, by relative path.
#include "../base/vek_types.h"
