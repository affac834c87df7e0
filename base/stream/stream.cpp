#include "base/stream/stream.h"

#include <cstring>
#include <vector>

namespace KavV3Base {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "typed transfers have fixed widths");

int TStream::WriteLine(const TString& s) {
    const char lineFeed = '\n';
    const char* text = s.CStr();
    if (text == nullptr) {
        Write(&lineFeed, 1);
        return 1;
    }
    const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(text));
    Write(text, n);
    Write(&lineFeed, 1);
    return static_cast<int>(n + 1);
}

int TStream::WriteString(const TString& s) {
    const char* text = s.CStr();
    if (text == nullptr) {
        const char nul = 0;
        Write(&nul, 1);
        return 1;
    }
    // The text and its NUL leave in one block.
    const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(text));
    Write(text, n + 1);
    return static_cast<int>(n + 1);
}

namespace {

// The bytes gathered so far as the text of a string: no storage when none
// were gathered, as appending nothing to an empty string leaves it.
TString TextOf(const std::vector<char>& bytes) {
    return bytes.empty() ? TString() : TString::FromBytes(bytes.data(), bytes.size());
}

}  // namespace

// Both readers gather the bytes first and make the string once, so a text of
// n bytes costs n reads and one allocation of the string, not one per byte.
int TStream::ReadLine(TString& s) {
    std::vector<char> bytes;
    int count = 0;
    char c = 0;
    while (Read(&c, 1) == 1 && c != '\n') {
        // A NUL inside a line adds nothing to the text but counts as read.
        if (c != 0) bytes.push_back(c);
        ++count;
    }
    s = TextOf(bytes);
    return count;
}

int TStream::ReadString(TString& s) {
    std::vector<char> bytes;
    int count = 0;
    char c = 0;
    while (Read(&c, 1) == 1) {
        ++count;
        if (c == 0) break;
        bytes.push_back(c);
    }
    s = TextOf(bytes);
    return count;
}

int TStream::WriteInt(const std::int32_t& value) { return Write(&value, sizeof value); }
int TStream::WriteShort(const std::int16_t& value) { return Write(&value, sizeof value); }
int TStream::WriteChar(const char& value) { return Write(&value, sizeof value); }
int TStream::WriteUInt(const std::uint32_t& value) { return Write(&value, sizeof value); }
int TStream::WriteUShort(const std::uint16_t& value) { return Write(&value, sizeof value); }
int TStream::WriteUChar(const unsigned char& value) { return Write(&value, sizeof value); }
int TStream::WriteFloat(const float& value) { return Write(&value, sizeof value); }
int TStream::WriteDouble(const double& value) { return Write(&value, sizeof value); }
int TStream::WriteSize(const std::uint32_t& value) { return Write(&value, sizeof value); }
int TStream::WriteLong(const std::int32_t& value) { return Write(&value, sizeof value); }
int TStream::WriteInt64(const std::int64_t& value) { return Write(&value, sizeof value); }

int TStream::ReadInt(std::int32_t& value) { return Read(&value, sizeof value); }
int TStream::ReadShort(std::int16_t& value) { return Read(&value, sizeof value); }
int TStream::ReadChar(char& value) { return Read(&value, sizeof value); }
int TStream::ReadUInt(std::uint32_t& value) { return Read(&value, sizeof value); }
int TStream::ReadUShort(std::uint16_t& value) { return Read(&value, sizeof value); }
int TStream::ReadUChar(unsigned char& value) { return Read(&value, sizeof value); }
int TStream::ReadFloat(float& value) { return Read(&value, sizeof value); }
int TStream::ReadDouble(double& value) { return Read(&value, sizeof value); }
int TStream::ReadSize(std::uint32_t& value) { return Read(&value, sizeof value); }
int TStream::ReadLong(std::int32_t& value) { return Read(&value, sizeof value); }
int TStream::ReadInt64(std::int64_t& value) { return Read(&value, sizeof value); }

}  // namespace KavV3Base
