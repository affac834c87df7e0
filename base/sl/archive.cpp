#include "base/sl/archive.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "base/contract.h"
#include "base/sl/kav_sl.h"
#include "base/stream/text_output.h"

namespace KavV3Base {

// --- TSLArchive ------------------------------------------------------------

TSLArchive::TSLArchive(TStream* stream, std::int32_t coding, std::int32_t referenceMode)
    : Coding(coding), ReferenceMode(referenceMode), Stream(stream) {}

TSLArchive::~TSLArchive() = default;

bool TSLArchive::CanCode() const {
    return !Failed() && Stream != nullptr && (Coding == CodingText || Coding == CodingBinary);
}

bool TSLArchive::RemainingBytes(std::uint32_t* remaining) const {
    if (Stream == nullptr) return false;
    const std::int32_t position = Stream->Tell();
    if (position < 0) return false;
    const std::uint32_t size = Stream->Size();
    if (size < static_cast<std::uint32_t>(position)) return false;
    *remaining = size - static_cast<std::uint32_t>(position);
    return true;
}

void TSLArchive::Fail(TSLFailure cause, std::string_view what) {
    if (Failed()) return;
    Fail(cause, what, Stream != nullptr ? Stream->Tell() : -1);
}

void TSLArchive::Fail(TSLFailure cause, std::string_view what, std::int64_t offset) {
    KAV_CONTRACT(cause != TSLFailure::None, "TSLArchive::Fail needs a cause");
    if (Failed()) return;
    failure = cause;
    failureMessage.assign(what);
    failureMessage += " (";
    failureMessage += Location(offset);
    failureMessage += ')';
}

std::string TSLArchive::Location(std::int64_t offset) const {
    std::string where;
    if (offset >= 0) where = "at byte " + std::to_string(offset) + ", ";
    if (nesting.empty()) return where + "top level";
    // The innermost few objects say where; a deep path would drown the message.
    constexpr std::size_t kShown = 4;
    where += "inside ";
    const std::size_t first = nesting.size() > kShown ? nesting.size() - kShown : 0;
    if (first > 0) where += "... > ";
    for (std::size_t i = first; i < nesting.size(); ++i) {
        if (i > first) where += " > ";
        where.append(nesting[i]->CStr() != nullptr ? nesting[i]->CStr() : "");
    }
    if (first > 0) where += ", nesting depth " + std::to_string(nesting.size());
    return where;
}

void TSLArchive::SetMaxDepth(int limit) {
    KAV_CONTRACT(limit >= 0, "TSLArchive::SetMaxDepth(%d): a nesting limit cannot be negative", limit);
    maxDepth = limit;
}

TKavSLRoot* TSLArchive::LoadedObject(std::size_t index) const {
    KAV_CONTRACT(index < loaded.size(), "TSLArchive::LoadedObject(%lu) beyond the %lu objects loaded",
                 static_cast<unsigned long>(index), static_cast<unsigned long>(loaded.size()));
    return loaded[index];
}

void TSLArchive::DiscardLoadedObjects() {
    KAV_CONTRACT(nesting.empty(), "TSLArchive::DiscardLoadedObjects during a load: its objects are in use");
    DiscardLoadedFrom(0);
}

void TSLArchive::DiscardLoadedFrom(std::size_t mark) {
    if (mark >= loaded.size()) return;
    // Every object first lets go of the others, so that no destructor below
    // reaches an object that is already gone or deletes one a second time.
    for (std::size_t i = mark; i < loaded.size(); ++i) loaded[i]->SLDiscardLinks();
    for (std::size_t i = mark; i < loaded.size(); ++i) {
        Objects.Remove(loaded[i]);
        delete loaded[i];
    }
    loaded.resize(mark);
}

// --- The coding of each value type ----------------------------------------------

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string EndedInside(const char* kind) { return std::string("the stream ended inside a ") + kind; }

// One row per number coder pair: the value type, what a failure message calls
// it, the stream's typed transfer of its width (binary coding), and its
// printf format and parse (text coding). Text numbers are parsed as 64-bit
// values, signed or unsigned, and cut to the low bits of the value type.
struct TIntCoding {
    using TValue = std::int32_t;
    static constexpr const char* Kind = "32-bit signed integer";
    static constexpr int (TStream::*StreamWrite)(const TValue&) = &TStream::WriteInt;
    static constexpr int (TStream::*StreamRead)(TValue&) = &TStream::ReadInt;
    static constexpr bool Signed = true;
    static int Format(char* buffer, TValue value) {
        return FormatString(buffer, "%d\n", static_cast<int>(value));
    }
};

struct TUIntCoding {
    using TValue = std::uint32_t;
    static constexpr const char* Kind = "32-bit unsigned integer";
    static constexpr int (TStream::*StreamWrite)(const TValue&) = &TStream::WriteUInt;
    static constexpr int (TStream::*StreamRead)(TValue&) = &TStream::ReadUInt;
    static constexpr bool Signed = false;
    static int Format(char* buffer, TValue value) {
        return FormatString(buffer, "%u\n", static_cast<unsigned>(value));
    }
};

struct TByteCoding {
    using TValue = std::uint8_t;
    static constexpr const char* Kind = "byte";
    static constexpr int (TStream::*StreamWrite)(const TValue&) = &TStream::WriteUChar;
    static constexpr int (TStream::*StreamRead)(TValue&) = &TStream::ReadUChar;
    static constexpr bool Signed = false;
    static int Format(char* buffer, TValue value) {
        return FormatString(buffer, "%u\n", static_cast<unsigned>(value));
    }
};

struct TSizeCoding {
    using TValue = std::uint32_t;
    static constexpr const char* Kind = "size";
    static constexpr int (TStream::*StreamWrite)(const TValue&) = &TStream::WriteSize;
    static constexpr int (TStream::*StreamRead)(TValue&) = &TStream::ReadSize;
    static constexpr bool Signed = false;
    static int Format(char* buffer, TValue value) {
        return FormatString(buffer, "%" PRIu64 "\n", static_cast<std::uint64_t>(value));
    }
};

// Strings have a row of their own: they are not numbers in either coding.
struct TStringCoding {
    using TValue = TString;
};

}  // namespace

// The coders' access to the archive's failure record and read buffers. Write
// and Read make the one choice between the binary and the text coding that
// every coder pair shares; the rows above supply the rest.
class TSLValueCoder {
public:
    template <class TRow>
    static void Write(TSLArchive& archive, const typename TRow::TValue& value) {
        if (!archive.CanCode()) return;
        if (archive.Coding == TSLArchive::CodingBinary)
            WriteBinary<TRow>(archive, value);
        else
            WriteText<TRow>(archive, value);
    }

    template <class TRow>
    static void Read(TSLArchive& archive, typename TRow::TValue* value) {
        if (!archive.CanCode()) return;
        if (archive.Coding == TSLArchive::CodingBinary)
            ReadBinary<TRow>(archive, value);
        else
            ReadText<TRow>(archive, value);
    }

private:
    static void Wrote(TSLArchive& archive, int result, const char* kind) {
        if (result != 1) archive.Fail(TSLFailure::WriteFailed, std::string("the stream refused a ") + kind);
    }

    static void WriteBytes(TSLArchive& archive, const char* bytes, std::size_t count, const char* kind) {
        if (count > UINT32_MAX) {
            archive.Fail(TSLFailure::Unsaveable, std::string("a ") + kind + " of " + std::to_string(count) +
                                                     " bytes is too long for a stream");
            return;
        }
        Wrote(archive, archive.Stream->Write(bytes, static_cast<std::uint32_t>(count)), kind);
    }

    template <class TRow>
    static void WriteBinary(TSLArchive& archive, const typename TRow::TValue& value) {
        Wrote(archive, (archive.Stream->*TRow::StreamWrite)(value), TRow::Kind);
    }

    template <class TRow>
    static void ReadBinary(TSLArchive& archive, typename TRow::TValue* value) {
        typename TRow::TValue readValue{};
        if ((archive.Stream->*TRow::StreamRead)(readValue) == 1)
            *value = readValue;
        else
            archive.Fail(TSLFailure::EndOfStream, EndedInside(TRow::Kind));
    }

    // Every number occupies one line of its own.
    template <class TRow>
    static void WriteText(TSLArchive& archive, const typename TRow::TValue& value) {
        char buffer[FormatBufferSize];
        const int length = TRow::Format(buffer, value);
        if (length > 0) WriteBytes(archive, buffer, static_cast<std::size_t>(length), TRow::Kind);
    }

    template <class TRow>
    static void ReadText(TSLArchive& archive, typename TRow::TValue* value) {
        using TBits = std::make_unsigned_t<typename TRow::TValue>;
        std::uint64_t bits = 0;
        if (ReadTextNumber(archive, TRow::Signed, TRow::Kind, &bits))
            *value = static_cast<typename TRow::TValue>(static_cast<TBits>(bits));
    }

    static bool ReadTextByte(TSLArchive& archive, char* byte, const char* kind) {
        if (archive.Stream->Read(byte, 1) == 1) return true;
        archive.Fail(TSLFailure::EndOfStream, EndedInside(kind));
        return false;
    }

    static bool ReadTextNumber(TSLArchive& archive, bool isSigned, const char* kind, std::uint64_t* bits);
};

// Reads one text line, up to and including its line feed, and parses the
// number at its start the way the C library's scanf conversions do on a
// 64-bit platform: white space skipped, an optional sign, then digits up to
// the first other character; whatever follows on the line is consumed and
// ignored. The line is parsed as it arrives, byte by byte, and never stored.
// A signed parse saturates at the limits of a 64-bit signed value, an
// unsigned one at 2^64 - 1 and wraps a negated value; the caller keeps the
// low bits it needs. Fails the archive when the stream ends before the line
// feed or no digit follows the white space and sign.
bool TSLValueCoder::ReadTextNumber(TSLArchive& archive, bool isSigned, const char* kind,
                                   std::uint64_t* bits) {
    enum TState { Leading, Signed, Digits, Done, Malformed };
    TState state = Leading;
    bool negative = false;
    bool overflow = false;
    std::uint64_t magnitude = 0;
    std::int64_t lineLength = 0;  // bytes of the line read, its line feed included
    char c = 0;
    for (;;) {
        if (!ReadTextByte(archive, &c, kind)) return false;
        ++lineLength;
        if (c == '\n') break;
        const bool digit = c >= '0' && c <= '9';
        switch (state) {
            case Leading:
                if (IsSpace(c)) break;
                if (c == '+' || c == '-') {
                    negative = c == '-';
                    state = Signed;
                    break;
                }
                state = Malformed;
                [[fallthrough]];
            case Signed:
                state = digit ? Digits : Malformed;
                if (!digit) break;
                [[fallthrough]];
            case Digits:
                if (!digit) {
                    state = Done;
                    break;
                }
                if (const auto value = static_cast<std::uint64_t>(c - '0');
                    magnitude > (UINT64_MAX - value) / 10)
                    overflow = true;
                else
                    magnitude = magnitude * 10 + value;
                break;
            case Done:
            case Malformed:
                break;
        }
    }
    if (state != Digits && state != Done) {
        const std::int32_t end = archive.Stream->Tell();
        archive.Fail(TSLFailure::MalformedNumber,
                     std::string("a text line where a ") + kind + " belongs holds no number",
                     end >= 0 ? end - lineLength : -1);
        return false;
    }

    constexpr std::uint64_t kSignedLimit = static_cast<std::uint64_t>(INT64_MAX);
    if (isSigned) {
        if (!negative)
            *bits = overflow || magnitude > kSignedLimit ? kSignedLimit : magnitude;
        else
            *bits = overflow || magnitude > kSignedLimit + 1 ? kSignedLimit + 1 : 0 - magnitude;
    } else {
        *bits = overflow ? UINT64_MAX : negative ? 0 - magnitude : magnitude;
    }
    return true;
}

// Binary: the characters and one NUL, the bytes TStream::WriteString writes,
// passed in one Write whose result tells whether the stream took them.
template <>
void TSLValueCoder::WriteBinary<TStringCoding>(TSLArchive& archive, const TString& value) {
    const char* text = value.CStr();
    WriteBytes(archive, text != nullptr ? text : "", value.Length() + 1, "string");
}

template <>
void TSLValueCoder::ReadBinary<TStringCoding>(TSLArchive& archive, TString* value) {
    TString& readValue = archive.readString;
    const int consumed = archive.Stream->ReadString(readValue);
    // Without a NUL among the bytes consumed the stream ended first.
    if (consumed < 0 || static_cast<std::size_t>(consumed) == readValue.Length()) {
        archive.Fail(TSLFailure::EndOfStream, "the stream ended inside a string, before its NUL");
        return;
    }
    *value = readValue;
}

// Text: a double quote, the text with every backslash doubled and every
// double quote escaped by a backslash, a double quote and a line feed.
template <>
void TSLValueCoder::WriteText<TStringCoding>(TSLArchive& archive, const TString& value) {
    const char* text = value.CStr();
    const std::size_t length = value.Length();
    std::string line;
    line.reserve(length + 3);
    line.push_back('"');
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\\' || text[i] == '"') line.push_back('\\');
        line.push_back(text[i]);
    }
    line.push_back('"');
    line.push_back('\n');
    WriteBytes(archive, line.data(), line.size(), "string");
}

template <>
void TSLValueCoder::ReadText<TStringCoding>(TSLArchive& archive, TString* value) {
    const char* kind = "quoted string";
    char c = 0;
    if (!ReadTextByte(archive, &c, kind)) return;  // the opening quote, whatever byte it is
    std::string& text = archive.readText;
    text.clear();
    for (;;) {
        if (!ReadTextByte(archive, &c, kind)) return;
        if (c == '"') break;
        if (c == '\\') {
            // The escape and the byte after it travel together; only an escaped
            // quote or backslash loses its escape.
            char escaped = 0;
            if (!ReadTextByte(archive, &escaped, kind)) return;
            if (escaped != '"' && escaped != '\\') text.push_back(c);
            text.push_back(escaped);
            continue;
        }
        text.push_back(c);
    }
    if (!ReadTextByte(archive, &c, kind)) return;  // the line feed after the closing quote
    *value = TString::FromBytes(text.data(), text.size());
}

// --- Value coders ----------------------------------------------------------------

void SLWriteInt(TSLArchive& archive, const std::int32_t* value) {
    TSLValueCoder::Write<TIntCoding>(archive, *value);
}
void SLReadInt(TSLArchive& archive, std::int32_t* value) { TSLValueCoder::Read<TIntCoding>(archive, value); }
void SLWriteUInt(TSLArchive& archive, const std::uint32_t* value) {
    TSLValueCoder::Write<TUIntCoding>(archive, *value);
}
void SLReadUInt(TSLArchive& archive, std::uint32_t* value) {
    TSLValueCoder::Read<TUIntCoding>(archive, value);
}
void SLWriteByte(TSLArchive& archive, const std::uint8_t* value) {
    TSLValueCoder::Write<TByteCoding>(archive, *value);
}
void SLReadByte(TSLArchive& archive, std::uint8_t* value) {
    TSLValueCoder::Read<TByteCoding>(archive, value);
}
void SLWriteSize(TSLArchive& archive, const std::uint32_t* value) {
    TSLValueCoder::Write<TSizeCoding>(archive, *value);
}
void SLReadSize(TSLArchive& archive, std::uint32_t* value) {
    TSLValueCoder::Read<TSizeCoding>(archive, value);
}
void SLWriteString(TSLArchive& archive, const TString* value) {
    TSLValueCoder::Write<TStringCoding>(archive, *value);
}
void SLReadString(TSLArchive& archive, TString* value) { TSLValueCoder::Read<TStringCoding>(archive, value); }

void SLWriteBytes(TSLArchive& archive, const std::uint8_t* bytes, std::uint32_t count) {
    if (!archive.CanCode()) return;
    for (std::uint32_t i = 0; i < count; ++i) SLWriteByte(archive, &bytes[i]);
}

bool SLReadBytes(TSLArchive& archive, std::uint32_t count, std::vector<std::uint8_t>* bytes) {
    if (!archive.CanCode()) return false;
    // A text byte takes at least two characters ("0" and a line feed).
    const std::uint64_t perByte = archive.Coding == TSLArchive::CodingText ? 2u : 1u;
    const std::uint64_t leastBytes = static_cast<std::uint64_t>(count) * perByte;
    std::uint32_t remaining = 0;
    if (archive.RemainingBytes(&remaining) && leastBytes > remaining) {
        archive.Fail(TSLFailure::CountBeyondStream,
                     "a count of " + std::to_string(count) + " bytes needs at least " +
                         std::to_string(leastBytes) + " bytes of stream, and " + std::to_string(remaining) +
                         " are left");
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t byte = 0;
        SLReadByte(archive, &byte);
        if (archive.Failed()) return false;
        bytes->push_back(byte);
    }
    return true;
}

}  // namespace KavV3Base
