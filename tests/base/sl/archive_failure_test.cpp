// Tests of why an archive failed: one test per cause, in both codings where the cause exists in both, each
// checking the cause and the details its message gives, and that the first failure is the one kept.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/archive.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"
#include "base/util/string_id.h"
#include "tests/base/sl/sl_test_util.h"

namespace {

using namespace KavV3Base;
using KavTest::TCoded;
using KavTest::TSLTestOwner;

TKavSLRoot* NoObject() { return nullptr; }

// A memory stream that takes only the first `limit` bytes written to it.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(std::size_t limitIn) : limit(limitIn) {}
    int Write(const void* buffer, std::uint32_t size) override {
        if (Bytes().size() + size > limit) return 0;
        return TMemoryStream::Write(buffer, size);
    }

private:
    std::size_t limit;
};

class TSLArchiveFailure : public ::testing::TestWithParam<std::int32_t> {
protected:
    void SetUp() override {
        TSLTestOwner::ClassRecord();
        static constinit std::atomic<const TSLClassRecord*> noObject{nullptr};
        SLRegisterClass(noObject, "TSLTestNoObject", &TKavSL::ClassRecord, &NoObject);
        TStringID::ClassRecord();
    }

    bool Text() const { return GetParam() == TSLArchive::CodingText; }
    TCoded Coded() const { return TCoded(GetParam()); }
    // An owner record holding `count` references, the first of which follows.
    TCoded OwnerOf(std::uint32_t count, std::uint32_t identity = 1) const {
        return Coded()
            .Int(3)
            .Str("TSLTestOwner")
            .Int(TSLTestOwner::ClassRecord()->Id)
            .Int(identity)
            .Int(count);
    }

    // Opens a fresh archive on bytes; the archive stays for inspection.
    TSLArchive& Open(const std::string& bytes) {
        stream = std::make_unique<TMemoryStream>(bytes.data(), bytes.size());
        archive = std::make_unique<TSLArchive>(stream.get(), GetParam());
        return *archive;
    }
    // Loads one reference from bytes and expects it to fail with cause.
    void ExpectLoadFails(const std::string& bytes, TSLFailure cause) {
        TKavSLRoot* ref = nullptr;
        EXPECT_FALSE(SLLoadObject(Open(bytes), &ref));
        EXPECT_EQ(ref, nullptr);
        EXPECT_EQ(archive->GetFailure(), cause) << archive->GetFailureMessage();
    }
    const std::string& Message() const { return archive->GetFailureMessage(); }

    std::unique_ptr<TMemoryStream> stream;
    std::unique_ptr<TSLArchive> archive;
};

INSTANTIATE_TEST_SUITE_P(Codings, TSLArchiveFailure,
                         ::testing::Values(TSLArchive::CodingText, TSLArchive::CodingBinary),
                         [](const auto& p) { return p.param == TSLArchive::CodingText ? "Text" : "Binary"; });

// Whether text holds part, for EXPECT_PRED2, which prints both on failure.
bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_P(TSLArchiveFailure, ANewArchiveHasNoFailure) {
    TSLArchive& fresh = Open("");
    EXPECT_FALSE(fresh.Failed());
    EXPECT_EQ(fresh.GetFailure(), TSLFailure::None);
    EXPECT_EQ(fresh.GetFailureMessage(), "");
}

TEST_P(TSLArchiveFailure, EndOfStreamNamesTheValueItCutOff) {
    const std::string seven = Coded().Int(7).bytes;
    TSLArchive& cut = Open(seven + seven.substr(0, 1));
    std::int32_t value = 0;
    SLReadInt(cut, &value);
    SLReadInt(cut, &value);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(cut.GetFailure(), TSLFailure::EndOfStream);
    EXPECT_PRED2(Holds, Message(), ("the stream ended inside a 32-bit signed integer"));
    // The text reader has taken the byte that was there; a binary read takes
    // nothing when the whole value is not there.
    const std::size_t end = Text() ? seven.size() + 1 : seven.size();
    EXPECT_PRED2(Holds, Message(), ("at byte " + std::to_string(end) + ", top level"));

    const std::string name = Coded().Str("TSL").bytes;
    TString text;
    SLReadString(Open(name.substr(0, name.size() - 1)), &text);
    EXPECT_EQ(archive->GetFailure(), TSLFailure::EndOfStream);
    EXPECT_PRED2(Holds, Message(), ("string"));
}

TEST_P(TSLArchiveFailure, MalformedNumberGivesTheStartOfItsLine) {
    if (!Text()) GTEST_SKIP() << "binary numbers are raw bytes: any four bytes are a number";
    TSLArchive& lines = Open("12\n  x7\n");
    std::uint32_t size = 0;
    SLReadSize(lines, &size);
    SLReadSize(lines, &size);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(lines.GetFailure(), TSLFailure::MalformedNumber);
    EXPECT_PRED2(Holds, Message(),
                 ("a text line where a size belongs holds no number (at byte 3, top level)"));
}

TEST_P(TSLArchiveFailure, CountBeyondStreamGivesTheCountAndTheBytesLeft) {
    TSLArchive& shortOne = Open(Coded().Byte(1).Byte(2).bytes);
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(SLReadBytes(shortOne, 1000, &bytes));
    EXPECT_EQ(shortOne.GetFailure(), TSLFailure::CountBeyondStream);
    EXPECT_PRED2(Holds, Message(), ("a count of 1000 bytes"));
    EXPECT_PRED2(Holds, Message(), (std::to_string(Coded().Byte(1).Byte(2).bytes.size()) + " are left"));
}

TEST_P(TSLArchiveFailure, WriteFailedWhenTheStreamRefusesBytes) {
    TSLRefCarry inner;
    TSLRefCarry outer;
    outer.reference = &inner;
    TShortStream full(Coded().Int(3).Str("TSLRefCarry").bytes.size() + 1);
    TSLArchive saving(&full, GetParam());
    TKavSLRoot* root = &outer;
    EXPECT_FALSE(SLSaveObject(saving, &root));
    EXPECT_EQ(saving.GetFailure(), TSLFailure::WriteFailed);
    EXPECT_PRED2(Holds, saving.GetFailureMessage(), ("the stream refused a 32-bit signed integer"));
}

TEST_P(TSLArchiveFailure, BadTagGivesTheTagAndItsPlaceInTheGraph) {
    const std::string owner = OwnerOf(2).Int(4).bytes;
    ExpectLoadFails(owner + Coded().Int(5).bytes, TSLFailure::BadTag);
    EXPECT_PRED2(Holds, Message(), ("a reference record with the tag 5"));
    EXPECT_PRED2(Holds, Message(), ("(at byte " + std::to_string(owner.size()) + ", inside TSLTestOwner)"));

    // Nested deeper than the message lists: the innermost classes and the depth.
    std::string deep;
    for (std::uint32_t i = 1; i <= 6; ++i) deep += OwnerOf(1, i).bytes;
    ExpectLoadFails(deep + Coded().Int(0).bytes, TSLFailure::BadTag);
    EXPECT_PRED2(Holds, Message(),
                 ("inside ... > TSLTestOwner > TSLTestOwner > TSLTestOwner > TSLTestOwner, "
                  "nesting depth 6)"));
}

TEST_P(TSLArchiveFailure, UnknownClassIdGivesTheId) {
    ExpectLoadFails(OwnerOf(1).Int(2).Int(99).Int(2).bytes, TSLFailure::UnknownClassId);
    EXPECT_PRED2(Holds, Message(), ("class id 99, which no earlier record of the archive named"));
}

TEST_P(TSLArchiveFailure, BadClassIdGivesTheClassAndTheId) {
    ExpectLoadFails(OwnerOf(1).Int(3).Str("TSLRefCarry").Int(-3).Int(2).Int(4).bytes, TSLFailure::BadClassId);
    EXPECT_PRED2(Holds, Message(), ("class \"TSLRefCarry\" is named with the id -3"));
}

TEST_P(TSLArchiveFailure, UnknownClassNameGivesTheNameAndHowToRegisterIt) {
    ExpectLoadFails(Coded().Int(3).Str("TNotRegistered").Int(40).Int(1).bytes, TSLFailure::UnknownClassName);
    EXPECT_PRED2(Holds, Message(), ("class \"TNotRegistered\" is not registered in this process"));
    EXPECT_PRED2(Holds, Message(), ("ClassRecord() accessor (SLRegisterClass)"));
    EXPECT_PRED2(Holds, Message(), ("framework/startup.cpp"));

    // A hostile name is cut short and its unprintable bytes spelled out.
    ExpectLoadFails(Coded().Int(3).Str(std::string("\x01\x7f") + std::string(100, 'n')).Int(40).Int(1).bytes,
                    TSLFailure::UnknownClassName);
    EXPECT_PRED2(Holds, Message(), ("class \"\\x01\\x7f" + std::string(62, 'n') + "...\" is not registered"));
}

TEST_P(TSLArchiveFailure, UnknownIdentityGivesTheIdentity) {
    ExpectLoadFails(OwnerOf(1).Int(1).Int(77).bytes, TSLFailure::UnknownIdentity);
    EXPECT_PRED2(Holds, Message(), ("a back-reference to identity 77, which no earlier record"));
}

TEST_P(TSLArchiveFailure, DuplicateIdentityGivesTheIdentityAndTheClass) {
    const std::int32_t carry = TSLRefCarry::ClassRecord()->Id;
    ExpectLoadFails(OwnerOf(1).Int(3).Str("TSLRefCarry").Int(carry).Int(1).Int(4).bytes,
                    TSLFailure::DuplicateIdentity);
    EXPECT_PRED2(Holds, Message(), ("a new object of class \"TSLRefCarry\" under identity 1"));
}

TEST_P(TSLArchiveFailure, TypeMismatchGivesTheClassTheReferenceCannotHold) {
    TSLRefCarry* carrier = nullptr;
    EXPECT_FALSE(SLLoadObject(Open(Coded().Int(3).Str("TSLTestOwner").Int(5).Int(1).Int(0).bytes), &carrier));
    EXPECT_EQ(archive->GetFailure(), TSLFailure::TypeMismatch);
    EXPECT_PRED2(Holds, Message(), ("an object of class \"TSLTestOwner\", which the reference cannot hold"));

    // A back-reference to an object of the wrong class: a bare root, then a
    // carrier that names it.
    TSLArchive& twice = Open(Coded().Int(3).Str("TKavSLRoot").Int(1).Int(1).Int(1).Int(1).bytes);
    TKavSLRoot* bare = nullptr;
    ASSERT_TRUE(SLLoadObject(twice, &bare));
    EXPECT_FALSE(SLLoadObject(twice, &carrier));
    EXPECT_EQ(twice.GetFailure(), TSLFailure::TypeMismatch);
    EXPECT_PRED2(
        Holds, Message(),
        ("a back-reference to identity 1, a bare TKavSLRoot, where the reference cannot hold that class"));
    twice.DiscardLoadedObjects();
}

TEST_P(TSLArchiveFailure, FactoryFailedGivesTheClass) {
    ExpectLoadFails(Coded().Int(3).Str("TSLTestNoObject").Int(3).Int(1).bytes, TSLFailure::FactoryFailed);
    EXPECT_PRED2(Holds, Message(), ("the factory of class \"TSLTestNoObject\" made no object"));
}

TEST_P(TSLArchiveFailure, DepthLimitGivesTheLimitBothWays) {
    std::vector<TSLRefCarry> chain(5);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) chain[i].reference = &chain[i + 1];
    TMemoryStream out;
    TSLArchive saving(&out, GetParam());
    saving.SetMaxDepth(3);
    TSLRefCarry* first = &chain[0];
    EXPECT_FALSE(SLSaveObject(saving, &first));
    EXPECT_EQ(saving.GetFailure(), TSLFailure::DepthLimit);
    EXPECT_PRED2(Holds, saving.GetFailureMessage(), ("objects nest deeper than the archive's limit of 3"));
    EXPECT_PRED2(Holds, saving.GetFailureMessage(), ("inside TSLRefCarry > TSLRefCarry > TSLRefCarry"));

    const std::vector<unsigned char> whole = KavTest::SaveGraph(first, GetParam());
    TSLArchive& loading = Open(std::string(whole.begin(), whole.end()));
    loading.SetMaxDepth(2);
    TKavSLRoot* ref = nullptr;
    EXPECT_FALSE(SLLoadObject(loading, &ref));
    EXPECT_EQ(loading.GetFailure(), TSLFailure::DepthLimit);
    EXPECT_PRED2(Holds, Message(), ("limit of 2"));
}

TEST_P(TSLArchiveFailure, UnsaveableObjectsSayWhy) {
    TKavSLRoot bare;
    TMemoryStream out;
    TSLArchive saving(&out, GetParam());
    TKavSLRoot* root = &bare;
    EXPECT_FALSE(SLSaveObject(saving, &root));
    EXPECT_EQ(saving.GetFailure(), TSLFailure::Unsaveable);
    EXPECT_EQ(saving.GetFailureMessage(),
              "an object without a class record (a bare TKavSLRoot) has no class name to save (at byte 0, "
              "top level)");
    EXPECT_EQ(out.Size(), 0u);
}

TEST_P(TSLArchiveFailure, ObjectRefusedGivesTheClassAndWhatItRefused) {
    // A string table whose second entry claims id 5.
    const std::string table =
        Coded().Int(3).Str("TStringID").Int(11).Int(1).Int(2).Int(0).Str("").Int(5).Str("x").Int(0).bytes;
    ExpectLoadFails(table, TSLFailure::ObjectRefused);
    EXPECT_PRED2(Holds, Message(), ("TStringID: entry 1 has the id 5; every entry's id is its position"));
    EXPECT_PRED2(Holds, Message(), ("inside TStringID)"));
}

TEST_P(TSLArchiveFailure, CannotCodeWithoutAStreamOrAKnownCoding) {
    TSLArchive noStream(nullptr, GetParam());
    TKavSLRoot* ref = nullptr;
    EXPECT_FALSE(SLLoadObject(noStream, &ref));
    EXPECT_EQ(noStream.GetFailure(), TSLFailure::CannotCode);
    EXPECT_EQ(noStream.GetFailureMessage(),
              "an archive without a stream has no reference to load (top level)");

    TMemoryStream in;
    TSLArchive unknown(&in, GetParam() + 2);
    EXPECT_FALSE(SLLoadObject(unknown, &ref));
    EXPECT_EQ(unknown.GetFailure(), TSLFailure::CannotCode);
    EXPECT_PRED2(Holds, unknown.GetFailureMessage(), ("Coding " + std::to_string(GetParam() + 2)));
}

TEST_P(TSLArchiveFailure, TheFirstFailureIsKept) {
    // The unknown class fails the inner load; the owner's load and the outer
    // call that then fail with it do not replace the reason.
    ExpectLoadFails(OwnerOf(2).Int(3).Str("TNotRegistered").Int(40).Int(2).bytes,
                    TSLFailure::UnknownClassName);
    const std::string first = Message();
    archive->Fail(TSLFailure::ObjectRefused, "a later reason");
    EXPECT_EQ(archive->GetFailure(), TSLFailure::UnknownClassName);
    EXPECT_EQ(Message(), first);
    EXPECT_PRED2(Holds, first, ("inside TSLTestOwner"));
}

}  // namespace
