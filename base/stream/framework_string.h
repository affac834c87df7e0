// KavV3Base::TString, the framework's growable NUL-terminated text value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KavV3Base {

// A text held in a byte array as the text, a NUL and possibly further bytes.
// The text is the bytes before the first NUL; a string whose array holds no
// bytes at all has no storage and its C text is null.
//
// `trimmed` is 1 while the array is known to end right after the text's NUL;
// every construction from a C text and every append leave it so. Assigning an
// empty string clears it, and the next append normalises the array again.
//
// Not thread-safe: a value is used by one thread at a time.
class TString {
public:
    // From a C text; null gives a string without storage. Implicit so that a
    // literal can be passed wherever the framework takes a text.
    TString(const char* text = nullptr);
    // From one byte: the one-character text, or an empty text held in a
    // one-byte array when the byte is NUL.
    explicit TString(char c);
    // The decimal form of n, as "%d" writes it.
    explicit TString(std::int32_t n);
    // Copies the text only, so the copy is trimmed whatever the source was.
    TString(const TString& s);
    // The same result as the copy, taking the source's array instead of
    // copying it; the source is left without storage.
    TString(TString&& s) noexcept;
    // A non-empty source gives its text and one NUL, trimmed. An empty source
    // (no storage) leaves this string with a zero-length array, untrimmed.
    TString& operator=(const TString& s);
    // The same result as the copy assignment, taking the source's array; the
    // source is left without storage.
    TString& operator=(TString&& s) noexcept;
    ~TString() = default;

    // The count bytes as given, followed by a NUL. Unlike the construction
    // from a C text the bytes may hold NULs; the text then ends at the first
    // of them and the string is left untrimmed.
    static TString FromBytes(const char* bytes, std::size_t count);

    // Appends the text of s; the result holds exactly the joined text and one
    // NUL and is trimmed. Appending a string without storage, or with a
    // single-byte array, only normalises this string.
    TString& Append(const TString& s);
    TString& operator+=(const TString& s) { return Append(s); }

    // The text as a C string, or null when the string has no storage.
    const char* CStr() const;

    // Bytes of the text before its first NUL.
    std::size_t Length() const;
    // Bytes in the array: the text, its NUL and anything after it.
    std::size_t ArraySize() const { return chars.size(); }
    bool IsTrimmed() const { return trimmed != 0; }
    // True when the string has no storage (its C text is null). A string may
    // also hold an empty text in a one-byte array; Length() is 0 for both.
    bool IsEmpty() const { return chars.empty(); }
    // Read access to the whole array, for callers that store or hash it.
    const std::vector<char>& Chars() const { return chars; }

    // Texts compare equal when their bytes before the first NUL are equal; a
    // string without storage has the same text as "".
    friend bool operator==(const TString& a, const TString& b);

private:
    // Makes the array hold exactly the text and one NUL and sets `trimmed`.
    void Normalise();
    void AssignText(const char* text, std::size_t length);

    std::int32_t trimmed;
    std::vector<char> chars;
};

// A new string holding the text of a followed by the text of b.
TString operator+(const TString& a, const TString& b);

}  // namespace KavV3Base
