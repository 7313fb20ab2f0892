// Version text of the library, kept in its data so that `what` and `strings` find it.
#include "krm_version.h"

namespace {
[[gnu::used]] const char kVersionText[] = KRM_VERSION_TEXT;
} // namespace
