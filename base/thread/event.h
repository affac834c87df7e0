// KavV3Base::TEvent, the framework's auto-reset event.
#pragma once

#include <cstdint>

#include "base/thread/platform.h"

namespace KavV3Base {

// An auto-reset event: a Set releases exactly one Wait, and the event stays
// signalled until a Wait consumes it, so a Set that comes before the Wait is
// not lost. Two Sets before one Wait release only that Wait.
//
// Set and Wait may be called from any thread. Create, Close and destruction
// belong to the owner and must not overlap with a Wait on another thread.
// All waits are without a time limit; a Wait on an event that is not created
// (never created, or closed) fails at once with -1 instead of blocking.
class TEvent {
public:
    TEvent() = default;
    // The same as Close.
    virtual ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    // Closes the current platform event if there is one, then creates a fresh,
    // non-signalled one. Returns 1, or 0 when the system could not make one:
    // the event is then not created.
    [[nodiscard]] std::int32_t Create();
    // Signals the event: 1, or 0 when it is not created.
    std::int32_t Set();
    // Blocks until the event is signalled and consumes the signal: 0, or -1
    // at once when the event is not created.
    std::int32_t Wait();
    // Releases the platform event if created; otherwise does nothing. The
    // event can be created again afterwards.
    void Close();

    std::int32_t created = 0;                 // 1 while `handle` is a live platform event
    Platform::TEventHandle handle = nullptr;  // valid only while created is 1
};

}  // namespace KavV3Base
