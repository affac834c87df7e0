// Tests of TGSID: handles travel as their text and take the loading process's id for it.

#include "base/util/gsid.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/util/string_id.h"
#include "tests/base/util/util_test_util.h"

namespace {

using namespace KavV3Base;
using namespace KavUtilTest;

TEST(TGSID, NewHandleSavesTheEmptyText) {
    TGSID handle;
    EXPECT_EQ(handle.GetStringId(), 0u);
    TMemoryStream binary;
    TSLArchive binaryArchive(&binary, TSLArchive::CodingBinary);
    handle.SavePost(binaryArchive);
    EXPECT_EQ(binary.Bytes(), TBytes{0});
    TMemoryStream text;
    TSLArchive textArchive(&text, TSLArchive::CodingText);
    handle.SavePost(textArchive);
    EXPECT_EQ(AsText(text.Bytes()), "\"\"\n");
}

TEST(TGSID, LoadingGivesTheGlobalIdOfTheText) {
    ForBothCodings([](std::int32_t coding) {
        // Texts no other test uses, written as another process would have
        // saved them: their ids there mean nothing here.
        const std::string first = "gsid-first-" + std::to_string(coding);
        const std::string second = "gsid-second-" + std::to_string(coding);
        TMemoryStream stream;
        TSLArchive writing(&stream, coding);
        for (const std::string& text : {first, second, first}) {
            WriteRecordHeader(writing, "TGSID", 77, writing.Objects.NewIdentity());
            const TString value(text.c_str());
            SLWriteString(writing, &value);
        }

        TGSID::ClassRecord();  // the loading process knows the class
        TStringID* global = TStringID::Global();
        const std::uint32_t next = global->GetCount();
        TMemoryStream in(stream.Bytes());
        TSLArchive loading(&in, coding);
        TGSID* loaded[3] = {};
        for (TGSID*& handle : loaded) ASSERT_TRUE(SLLoadObject(loading, &handle));
        EXPECT_EQ(loaded[0]->GetStringId(), next);
        EXPECT_EQ(loaded[1]->GetStringId(), next + 1);
        EXPECT_EQ(loaded[2]->GetStringId(), next);
        EXPECT_EQ(*loaded[1]->GetText(), TString(second.c_str()));
        loading.DiscardLoadedObjects();
    });
}

TEST(TGSID, GraphRoundTripKeepsTheText) {
    ForBothCodings([](std::int32_t coding) {
        TGSID handle;
        handle.SetText("round \"trip\"\n");
        TGSID* copy = LoadGraph<TGSID>(SaveGraph(&handle, coding), coding);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->GetStringId(), handle.GetStringId());
        delete copy;
    });
}

TEST(TGSID, SavingAnIdTheGlobalTableNeverGaveOutFails) {
    ForBothCodings([](std::int32_t coding) {
        TGSID handle;
        handle.SetStringId(TStringID::Global()->GetCount() + 1000);
        EXPECT_EQ(handle.GetText(), nullptr);
        TMemoryStream stream;
        TSLArchive archive(&stream, coding);
        TKavSLRoot* root = &handle;
        EXPECT_FALSE(SLSaveObject(archive, &root));
        EXPECT_TRUE(archive.Failed());
    });
}

}  // namespace
