#include "base/stream/text_output.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "base/stream/file_replacement.h"

namespace KavV3Base {

void PrintText(const char* text) {
    if (text != nullptr) std::fputs(text, stdout);
}

int FormatString(char* buffer, const char* format, ...) {
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

bool WriteTextFile(const TString& name, const TString& text) {
    const std::size_t length = text.Length();
    if (length > UINT32_MAX) return false;
    // Written beside the file and put in its place once whole: a failed
    // write leaves an earlier file as it was and no partial one.
    TFileReplacement file;
    if (!file.Begin(name.CStr())) return false;
    if (length > 0 && file.Stream().Write(text.CStr(), static_cast<std::uint32_t>(length)) != 1) {
        file.Abandon();
        return false;
    }
    return file.Commit();
}

}  // namespace KavV3Base
