#include "base/stream/framework_string.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace KavV3Base {

namespace {

// Length of the text in an array that might not hold a NUL at all.
std::size_t TextLength(const std::vector<char>& chars) {
    const void* nul = chars.empty() ? nullptr : std::memchr(chars.data(), 0, chars.size());
    return nul == nullptr ? chars.size()
                          : static_cast<std::size_t>(static_cast<const char*>(nul) - chars.data());
}

}  // namespace

TString::TString(const char* text) : trimmed(1) {
    if (text != nullptr) AssignText(text, std::strlen(text));
}

TString::TString(char c) : trimmed(1) {
    const char text[2] = {c, 0};
    AssignText(text, c == 0 ? 0 : 1);
}

TString::TString(std::int32_t n) : trimmed(1) {
    char buffer[256];
    const int length = std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(n));
    AssignText(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

TString::TString(const TString& s) : trimmed(1) {
    if (!s.chars.empty()) AssignText(s.chars.data(), TextLength(s.chars));
}

TString::TString(TString&& s) noexcept : trimmed(1), chars(std::move(s.chars)) {
    s.chars.clear();
    s.trimmed = 1;
    // Like the copy: the text and one NUL. Shrinking a vector never throws.
    if (!chars.empty()) Normalise();
}

TString& TString::operator=(TString&& s) noexcept {
    if (this == &s) return *this = static_cast<const TString&>(s);
    if (s.chars.empty()) {
        chars.clear();
        trimmed = 0;
    } else {
        chars = std::move(s.chars);
        Normalise();
    }
    s.chars.clear();
    s.trimmed = 1;
    return *this;
}

TString TString::FromBytes(const char* bytes, std::size_t count) {
    TString result;
    result.AssignText(bytes, count);
    if (count > 0 && std::memchr(bytes, 0, count) != nullptr) result.trimmed = 0;
    return result;
}

TString& TString::operator=(const TString& s) {
    if (this == &s) {
        // Assigning a string to itself still leaves the text trimmed.
        if (!chars.empty())
            Normalise();
        else
            trimmed = 0;
        return *this;
    }
    if (s.chars.empty()) {
        chars.resize(0);
        trimmed = 0;
    } else {
        AssignText(s.chars.data(), TextLength(s.chars));
    }
    return *this;
}

void TString::AssignText(const char* text, std::size_t length) {
    chars.resize(length + 1);
    if (length > 0) std::memcpy(chars.data(), text, length);
    chars[length] = 0;
    trimmed = 1;
}

void TString::Normalise() {
    const std::size_t p = TextLength(chars);
    chars.resize(p + 1);
    chars[p] = 0;
    trimmed = 1;
}

TString& TString::Append(const TString& s) {
    if (this == &s) {
        // Appending to itself: the normalisation below could change the source.
        const TString copy(s);
        return Append(copy);
    }
    const std::size_t n = s.chars.size();
    if (chars.empty() || trimmed == 0) Normalise();
    if (n <= 1) return *this;
    const std::size_t b = chars.size() - 1;
    const std::size_t c = TextLength(s.chars);
    chars.resize(b + c + 1);
    if (c > 0) std::memcpy(chars.data() + b, s.chars.data(), c);
    chars[b + c] = 0;
    return *this;
}

const char* TString::CStr() const { return chars.empty() ? nullptr : chars.data(); }

std::size_t TString::Length() const { return TextLength(chars); }

bool operator==(const TString& a, const TString& b) {
    const std::size_t length = a.Length();
    return length == b.Length() && (length == 0 || std::memcmp(a.chars.data(), b.chars.data(), length) == 0);
}

TString operator+(const TString& a, const TString& b) {
    TString result;
    result.Append(a);
    result.Append(b);
    return result;
}

}  // namespace KavV3Base
