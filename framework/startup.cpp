// startup.cpp - the framework's start-up sequence, run before main.
//
// C++ leaves the order of dynamic initialisation across translation units
// unspecified, so the framework does not spread its start-up over one static
// initialiser per file. This unit holds the only one, and it performs every
// step in the fixed order below. The build hands this object file straight to
// the linker of every program that links the framework (it is not a member of
// a static library), so it is always present even in a program whose own code
// names nothing that it defines, and with it every class it registers.
//
// Each step registers its own exit handler; handlers run in reverse order, so
// shut-down mirrors this sequence: the class registry is destroyed first, then
// the node pools of its lists, the slot table and the system singleton, and
// the process-wide lock last.

#include "3d/bitmap/bitmap.h"
#include "base/sl/kav_sl.h"
#include "base/sl/ref_carry.h"
#include "base/thread/clock.h"
#include "base/thread/system_init.h"
#include "base/thread/thread_slots.h"
#include "base/util/change_notification.h"
#include "base/util/file_search.h"
#include "base/util/gsid.h"
#include "base/util/string_id.h"
#include "base/util/tree.h"

namespace KavV3Base {
namespace {

struct TFrameworkStartup {
    TFrameworkStartup() {
        // The per-thread slot word must exist before the first slot is taken.
        InitThreadSlotKey();
        // The first registration creates the process-wide lock and the class
        // registry, registers "TKavSLRoot" and "TKavSL" ahead of "TVBitmap", and
        // through the registry's lists makes the first call of the system
        // singleton, which creates the thread slot table as [0, -1].
        KavV33D::TVBitmap::ClassRecord();
        KavV33D::TBitmap::ClassRecord();
        TKavSL::ClassRecord();
        GetSystemRecord();
        GetProcessLock();
        // Raise the timer resolution and read the clock's base.
        InitClock();
        // The remaining classes, in the order that fixes their ids (5 to 12).
        TVTree::ClassRecord();
        TTree::ClassRecord();
        TChangable::ClassRecord();
        TSLRefCarry::ClassRecord();
        TChangeChecker::ClassRecord();
        TFileSearch::ClassRecord();
        TStringID::ClassRecord();
        TGSID::ClassRecord();
    }
};

const TFrameworkStartup frameworkStartup;

}  // namespace
}  // namespace KavV3Base
