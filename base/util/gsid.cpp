#include "base/util/gsid.h"

#include <atomic>
#include <string>

#include "base/sl/archive.h"
#include "base/util/string_id.h"

namespace KavV3Base {

const TSLClassRecord* TGSID::GetClassRecord() { return ClassRecord(); }

void TGSID::SavePost(TSLArchive& archive) {
    if (!archive.CanCode()) return;
    const TString* text = GetText();
    if (text == nullptr) {
        archive.Fail(TSLFailure::ObjectRefused, "TGSID: the id " + std::to_string(stringId) +
                                                    " is not in the process-wide string table");
        return;
    }
    SLWriteString(archive, text);
}

void TGSID::LoadPost(TSLArchive& archive) {
    if (!archive.CanCode()) return;
    TString text;
    SLReadString(archive, &text);
    if (archive.Failed()) return;
    TStringID* table = TStringID::Global();
    if (table == nullptr) {
        // Only during process exit.
        archive.Fail(TSLFailure::ObjectRefused, "TGSID: the process-wide string table is gone");
        return;
    }
    stringId = table->GetID(text);
}

void TGSID::SetText(const TString& text) {
    if (TStringID* table = TStringID::Global()) stringId = table->GetID(text);
}

const TString* TGSID::GetText() const {
    const TStringID* table = TStringID::Global();
    return table != nullptr && stringId < table->GetCount() ? &table->GetText(stringId) : nullptr;
}

const TSLClassRecord* TGSID::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TGSID", &TKavSL::ClassRecord, &TGSID::NewInstance);
}

TKavSLRoot* TGSID::NewInstance() { return SLNewInstance<TGSID>(); }

}  // namespace KavV3Base
