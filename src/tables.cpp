#include "tables.h"

#include <new>

namespace mv {

Tables g;

void resetTables() { std::memset(static_cast<void*>(&g), 0, sizeof(Tables)); }

}  // namespace mv
