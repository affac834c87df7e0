#include "base/stream/text_output.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "base/stream/file_stream.h"

namespace KavV3Base {

void PrintText(const char* text)
{
    if (text != nullptr)
        std::fputs(text, stdout);
}

int FormatString(char* buffer, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, FormatBufferSize, format, arguments);
    va_end(arguments);
    if (length < 0) {
        buffer[0] = 0;
        return 0;
    }
    return length < FormatBufferSize ? length : FormatBufferSize - 1;
}

bool WriteTextFile(const TString& name, const TString& text)
{
    TFileStream stream;
    if (!stream.Open(name.CStr(), TFileStream::ModeWrite))
        return false;
    const std::size_t length = text.Length();
    bool written = length <= UINT32_MAX;
    if (written && length > 0)
        written = stream.Write(text.CStr(), static_cast<std::uint32_t>(length)) == 1;
    // A full disk may only show when the buffer reaches the file.
    written = stream.Flush() && written;
    stream.Close();
    return written;
}

} // namespace KavV3Base
