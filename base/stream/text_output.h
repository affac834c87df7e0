// Console output, bounded formatting and whole-file text writing.
#pragma once

#include "base/stream/framework_string.h"

#if defined(__GNUC__)
#define KAV_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KAV_PRINTF_FORMAT(formatIndex, firstArg)
#endif

namespace KavV3Base {

// Size of the buffer that FormatString fills, its terminating NUL included.
inline constexpr int FormatBufferSize = 256;

// Writes text unchanged to standard output, adding no line end; a null
// pointer writes nothing. Console writes are serialised by the C runtime, one
// call at a time.
void PrintText(const char* text);

// Formats the arguments by the printf rules into buffer, which must hold
// FormatBufferSize bytes. A result that does not fit is cut short; the buffer
// always ends in a NUL. Returns the number of characters stored, without the
// NUL (0 on an encoding error, with an empty text stored).
int FormatString(char* buffer, const char* format, ...) KAV_PRINTF_FORMAT(2, 3);

// Creates or replaces the named file with the text before its first NUL,
// with no terminator. False (errno telling why) when the name is empty or a
// directory, the file cannot be created, or the text could not be written,
// flushed and closed in full; the file is then as it was before the call.
// The text goes to a temporary file beside it first (see TFileReplacement).
[[nodiscard]] bool WriteTextFile(const TString& name, const TString& text);

}  // namespace KavV3Base
