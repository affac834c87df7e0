// The framework's auto-reset event.

#include "base/thread/event.h"

namespace KavV3Base {

TEvent::~TEvent() { Close(); }

std::int32_t TEvent::Create() {
    if (created == 1) Close();
    // Created signalled and at once reset, so that a fresh event never carries
    // a signal, whatever the platform does with the initial state.
    handle = Platform::EventCreate(true);
    if (handle == nullptr) return 0;  // stays not created: a Wait fails at once
    Platform::EventReset(handle);
    created = 1;
    return 1;
}

std::int32_t TEvent::Set() { return Platform::EventSet(created == 1 ? handle : nullptr); }

std::int32_t TEvent::Wait() {
    return static_cast<std::int32_t>(Platform::EventWait(created == 1 ? handle : nullptr));
}

void TEvent::Close() {
    if (created != 1) return;
    Platform::EventClose(handle);
    handle = nullptr;
    created = 0;
}

}  // namespace KavV3Base
