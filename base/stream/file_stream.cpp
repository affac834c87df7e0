#include "base/stream/file_stream.h"

#include <climits>

namespace KavV3Base {

TFileStream::~TFileStream()
{
    // Not through the virtual table: a derived part is already gone here.
    TFileStream::Close();
}

int TFileStream::Seek(std::int32_t position)
{
    if (file == nullptr)
        return -1;
    return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int32_t TFileStream::Tell()
{
    if (file == nullptr)
        return -1;
    const long position = std::ftell(file);
    if (position < 0 || position > INT32_MAX)
        return -1;
    return static_cast<std::int32_t>(position);
}

int TFileStream::Read(void* buffer, std::uint32_t size)
{
    if (file == nullptr || size == 0)
        return 0;
    return std::fread(buffer, size, 1, file) == 1 ? 1 : 0;
}

int TFileStream::Write(const void* buffer, std::uint32_t size)
{
    if (file == nullptr || size == 0)
        return 0;
    return std::fwrite(buffer, size, 1, file) == 1 ? 1 : 0;
}

std::uint32_t TFileStream::Size()
{
    if (file == nullptr)
        return 0;
    const long position = std::ftell(file);
    if (position < 0)
        return 0;
    long length = 0;
    if (std::fseek(file, 0, SEEK_END) == 0)
        length = std::ftell(file);
    std::fseek(file, position, SEEK_SET);
    return length < 0 ? 0 : static_cast<std::uint32_t>(length);
}

bool TFileStream::Open(const char* name, int mode)
{
    Close();
    const char* modeText = nullptr;
    switch (mode) {
    case ModeRead:
        modeText = "rb";
        break;
    case ModeWrite:
        modeText = "wb";
        break;
    case ModeAppend:
        modeText = "ab";
        break;
    default:
        return false;
    }
    if (name == nullptr || name[0] == 0)
        return false;
    file = std::fopen(name, modeText);
    return file != nullptr;
}

void TFileStream::Close()
{
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void TFileStream::SetUserValue(const std::int32_t& value)
{
    userValue = value;
}

bool TFileStream::Flush()
{
    if (file == nullptr)
        return false;
    const bool flushed = std::fflush(file) == 0;
    return flushed && std::ferror(file) == 0;
}

} // namespace KavV3Base
