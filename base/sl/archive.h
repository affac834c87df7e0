// KavV3Base::TSLArchive, the context of one save or load, and the archive's value coders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "base/sl/class_registry.h"
#include "base/sl/object_table.h"
#include "base/stream/framework_string.h"
#include "base/stream/stream.h"

namespace KavV3Base {

class TKavSLRoot;

// Why an archive failed. An archive keeps the first failure it meets, with a
// message that says what was wrong and where (see TSLArchive::Fail).
enum class TSLFailure : std::int32_t {
    None = 0,
    EndOfStream,        // the stream ended inside a value
    MalformedNumber,    // a text line that holds no number
    CountBeyondStream,  // a count of values that the rest of the stream cannot hold
    WriteFailed,        // the stream refused bytes of a value being saved
    BadTag,             // a reference record whose tag is not 1 to 4
    UnknownClassId,     // a class id that no earlier record of the archive named
    BadClassId,         // a class named with an id below 1
    UnknownClassName,   // a class name that the process has not registered
    UnknownIdentity,    // a back-reference to an identity the archive has not met
    DuplicateIdentity,  // a new object under an identity the archive has met
    TypeMismatch,       // an object of a class the reference cannot hold
    FactoryFailed,      // the class's factory made no object (no memory)
    DepthLimit,         // objects nested deeper than the archive allows
    Unsaveable,         // an object without a class name, or no identity left for one
    ObjectRefused,      // a class found its own fields impossible, or could not save them
    CannotCode,         // a load from an archive without a stream or with a Coding other than 0 or 1
};

// The context that every Save and Load of a serializable object receives.
// It binds a stream, says whether values travel as text lines (Coding 0) or
// as raw little-endian binary (Coding 1), and holds the tables the object
// graph coder needs. With any other Coding every value coder does nothing.
// An archive has no header: it is exactly the sequence of values written.
//
// One archive serves either one save or one load (Objects is keyed by the
// saved objects while saving and by identities while loading), and it is
// driven by one thread; different archives may be used on different threads
// at once. Using an archive's object graph calls in both directions is a
// broken contract and stops the program.
//
// Failure: a load that meets a malformed archive (a number or string cut off
// by the end of the stream, an empty or non-numeric text line, an unknown
// tag, class or identity, a failed factory), a write the stream refuses, and
// a save that is refused mark the archive as failed. From then on every
// coder does nothing, and the object graph calls return false. The load that
// failed has deleted the objects it created and left its reference null.
// GetFailure and GetFailureMessage tell why: the first failure is kept, and
// later ones, which usually follow from it, are not recorded.
class TSLArchive {
public:
    enum : std::int32_t { CodingText = 0, CodingBinary = 1 };
    // ReferenceInline: referenced objects travel inline (SLSaveObject /
    // SLLoadObject); any other value: classes that support it code only the
    // referenced object's identity.
    enum : std::int32_t { ReferenceIdentity = 0, ReferenceInline = 1 };
    // Deepest nesting of objects inside objects that one archive saves or
    // loads; deeper graphs fail instead of exhausting the stack.
    static constexpr int DefaultMaxDepth = 1000;

    // stream is not owned and must outlive the archive.
    TSLArchive(TStream* stream, std::int32_t coding, std::int32_t referenceMode = ReferenceInline);
    // Leaves the objects its loads created alone: they belong to whoever holds
    // the references (see DiscardLoadedObjects).
    ~TSLArchive();
    TSLArchive(const TSLArchive&) = delete;
    TSLArchive& operator=(const TSLArchive&) = delete;

    std::int32_t Coding;
    std::int32_t ReferenceMode;
    TStream* Stream;
    TSLObjectTable Objects;  // identity <-> object of every object met so far
    TKavSLRegister Classes;  // name <-> id of every class met so far; no factories

    bool Failed() const { return failure != TSLFailure::None; }
    // The cause of the first failure; None while the archive has not failed.
    TSLFailure GetFailure() const { return failure; }
    // What the first failure was, in words, with the byte position of the
    // stream where it was found (where the stream can tell) and the classes
    // of the objects being saved or loaded around it, outermost first:
    // "... (at byte 23, inside TTree > TTree)". Empty while not failed.
    const std::string& GetFailureMessage() const { return failureMessage; }
    // Marks the archive as failed, for a Save or Load that finds its data
    // impossible: what says why, in words. The position is the stream's
    // current one, or offset where given (the start of the value at fault).
    // Nothing changes when the archive has failed already.
    void Fail(TSLFailure cause, std::string_view what);
    void Fail(TSLFailure cause, std::string_view what, std::int64_t offset);
    // True when a coder would move a value: Coding 0 or 1, a stream, not failed.
    bool CanCode() const;
    // The bytes between the stream's position and its end, when the stream can
    // tell (false otherwise). Lets readers refuse counts the stream cannot hold.
    [[nodiscard]] bool RemainingBytes(std::uint32_t* remaining) const;

    int GetMaxDepth() const { return maxDepth; }
    // limit must not be negative.
    void SetMaxDepth(int limit);

    // Objects created by this archive's loads and not discarded, in creation
    // order (a failed load removes its own).
    std::size_t LoadedObjectCount() const { return loaded.size(); }
    // index must be below LoadedObjectCount().
    TKavSLRoot* LoadedObject(std::size_t index) const;
    // Deletes every object this archive's loads created, each exactly once:
    // first every one of them drops its links (SLDiscardLinks), then each is
    // deleted. For callers that want to throw a whole loaded graph away without
    // knowing its shape; afterwards every reference into it dangles and must
    // be dropped by the caller. Not from inside a load (a phase operation of
    // an object being loaded), whose objects are still in use.
    void DiscardLoadedObjects();

private:
    friend class TSLGraphCoder;
    friend class TSLValueCoder;

    // Which way the object graph calls have used the archive so far.
    enum class TDirection { Unused, Saving, Loading };

    void DiscardLoadedFrom(std::size_t mark);
    // Where a failure was found, for its message.
    std::string Location(std::int64_t offset) const;

    TSLFailure failure = TSLFailure::None;
    std::string failureMessage;
    TDirection direction = TDirection::Unused;
    // The class names of the objects being saved or loaded, outermost first;
    // its size is the nesting depth.
    std::vector<const TString*> nesting;
    int maxDepth = DefaultMaxDepth;
    std::vector<TKavSLRoot*> loaded;
    // Objects that SLSaveObjectIdentity gave an identity and SLSaveObject has
    // not written yet: a later inline save writes them in full.
    std::unordered_set<const TKavSLRoot*> namedOnly;
    // Where SLReadString gathers a string before it replaces the target (a
    // read that fails leaves the target alone). Kept with the archive, so
    // that a load of many strings reuses one buffer instead of making one per
    // string.
    TString readString;    // binary coding
    std::string readText;  // text coding
};

// Value coders. Each writes or reads one value in the archive's coding:
//
//   coder pair                  text line          binary
//   SLWriteInt / SLReadInt      "%d"               4 bytes, signed
//   SLWriteUInt / SLReadUInt    "%u"               4 bytes, unsigned
//   SLWriteByte / SLReadByte    "%u" (0...255)     1 byte
//   SLWriteSize / SLReadSize    unsigned decimal   4 bytes, unsigned count
//   SLWriteString / ...         quoted, escaped    the characters and a NUL
//
// Text numbers are read like scanf reads them (leading white space skipped,
// digits up to the first other character, out-of-range values wrapped to the
// target's width as the C library does: a byte line "300" gives 44). A text
// string is a double quote, the text with every backslash doubled and every
// double quote preceded by a backslash, a double quote and a line feed.
//
// A writer whose bytes the stream refuses fails the archive (WriteFailed). A
// reader that meets the end of the stream or a malformed line leaves the
// target unchanged and fails the archive (EndOfStream, MalformedNumber). On a
// failed archive, or with a Coding other than 0 or 1, every coder does
// nothing.
void SLWriteInt(TSLArchive& archive, const std::int32_t* value);
void SLReadInt(TSLArchive& archive, std::int32_t* value);
void SLWriteUInt(TSLArchive& archive, const std::uint32_t* value);
void SLReadUInt(TSLArchive& archive, std::uint32_t* value);
void SLWriteByte(TSLArchive& archive, const std::uint8_t* value);
void SLReadByte(TSLArchive& archive, std::uint8_t* value);
void SLWriteSize(TSLArchive& archive, const std::uint32_t* value);
void SLReadSize(TSLArchive& archive, std::uint32_t* value);
void SLWriteString(TSLArchive& archive, const TString* value);
void SLReadString(TSLArchive& archive, TString* value);

// count bytes, each with SLWriteByte.
void SLWriteBytes(TSLArchive& archive, const std::uint8_t* bytes, std::uint32_t count);
// count bytes, each with SLReadByte, appended to *bytes. The vector grows as
// bytes arrive, and a count that the rest of the stream cannot hold fails at
// once, so a hostile count allocates nothing. False (archive failed, *bytes
// unspecified) when the bytes are not all there.
[[nodiscard]] bool SLReadBytes(TSLArchive& archive, std::uint32_t count, std::vector<std::uint8_t>* bytes);

// An aligned byte vector (TAlgnVec<unsigned char>): its size with SLWriteSize,
// then each byte with SLWriteByte.
template <class TVec>
void SLWriteAlgnVec(TSLArchive& archive, const TVec* vec) {
    static_assert(sizeof(*vec->Data()) == 1, "byte vectors only");
    const std::uint32_t count = vec->Size();
    SLWriteSize(archive, &count);
    SLWriteBytes(archive, reinterpret_cast<const std::uint8_t*>(vec->Data()), count);
}

// Reads what SLWriteAlgnVec wrote: the vector is resized to the count and
// every byte replaced. On failure the vector is left as it was.
template <class TVec>
void SLReadAlgnVec(TSLArchive& archive, TVec* vec) {
    static_assert(sizeof(*vec->Data()) == 1, "byte vectors only");
    if (!archive.CanCode()) return;
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    std::vector<std::uint8_t> bytes;
    if (archive.Failed() || !SLReadBytes(archive, count, &bytes)) return;
    vec->Resize(count);
    if (count > 0) std::memcpy(vec->Data(), bytes.data(), count);
}

}  // namespace KavV3Base
