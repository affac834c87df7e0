// A program linked exactly like the benchmark that prints the class registry as it stands when main begins.
//
// Its own code names no serializable class: whatever it prints was
// registered by the framework's start-up unit before main. One line per id:
// the id, the name and the base's name ("-" for none).

#include <cstdio>

#include "base/sl/class_registry.h"

int main() {
    const KavV3Base::TKavSLRegister* registry = KavV3Base::TKavSLRegister::Instance();
    for (std::int32_t id = 1; id < registry->GetNextId(); ++id) {
        const KavV3Base::TSLClassRecord* record = registry->FindById(id);
        if (record == nullptr) {
            std::printf("%d missing\n", static_cast<int>(id));
            continue;
        }
        std::printf("%d %s %s\n", static_cast<int>(id), record->Name.CStr(),
                    record->Base != nullptr ? record->Base->Name.CStr() : "-");
    }
    return 0;
}
