// GetProcessLock, the process-wide recursive lock that guards the creation of
// every lazily created framework singleton and every change of the thread
// slot table.
#pragma once

#include "base/thread/critical_section.h"

namespace KavV3Base {

// The process-wide recursive lock. Created on first use, which also registers
// its deletion as an exit handler; never null before that handler has run
// (a use after it is a broken contract). Any thread.
TCriticalSection& GetProcessLock();

}  // namespace KavV3Base
