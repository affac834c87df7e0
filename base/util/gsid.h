// KavV3Base::TGSID, a serializable handle to a text of the process-wide string table.
#pragma once

#include <cstdint>

#include "base/sl/kav_sl.h"
#include "base/stream/framework_string.h"

namespace KavV3Base {

// Holds only the id of a text in TStringID::Global(), so handles compare and
// copy as small integers. Ids are handed out per process in first-seen order,
// so in an archive a handle travels as its text: SavePost writes the text
// (SLWriteString) and LoadPost reads it and takes the loading process's id
// for it, adding the text to the global table when it is new.
//
// Saving a handle whose id the global table does not know fails the archive
// (ObjectRefused) and writes nothing.
//
// Registered as "TGSID", base "TKavSL".
//
// Concurrency: saving, loading and SetText use the global table without a
// lock, so they run on one thread at a time (the table's own rule).
class TGSID : public TKavSL {
public:
    TGSID() = default;

    const TSLClassRecord* GetClassRecord() override;
    void SavePost(TSLArchive& archive) override;
    void LoadPost(TSLArchive& archive) override;

    std::uint32_t GetStringId() const { return stringId; }
    void SetStringId(std::uint32_t id) { stringId = id; }
    // Points the handle at text, adding it to the global table when new.
    void SetText(const TString& text);
    // The handle's text in the global table, or null when the table does not
    // know the id.
    const TString* GetText() const;

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    std::uint32_t stringId = 0;  // 0: the empty text
};

}  // namespace KavV3Base
