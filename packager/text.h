// Text helpers the packager shares: ASCII case as the runner compares names, and UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ASCII letters in upper case, as the runner compares names.
std::string Upper(std::string s);

// The words as a list in a sentence: "a", "a and b", "a, b and c".
std::string Enumerated(const std::vector<std::string>& words);

// "; did you mean X?" for the name nearest to `word` (ignoring case), when one is near enough to
// be a typing mistake; "" otherwise.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& names);

// The length of the well-formed UTF-8 character at `at` (its code point in `code`), or 0 for an
// ill-formed one: a stray byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
size_t Utf8CharLength(const std::string& s, size_t at, uint32_t& code);
// Whether the bytes are well-formed UTF-8.
bool IsUtf8(const std::string& text);
// UTF-8 to UTF-16; false for ill-formed UTF-8. UTF-16 back to UTF-8.
bool Utf8To16(const std::string& in, std::u16string& out);
std::string Utf16To8(const std::u16string& in);
