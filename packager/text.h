// Text helpers the packager shares: ASCII case as the runner compares names, UTF-8, what --list
// shows of the texts a package holds, and a Windows command line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ASCII letters in upper case, as the runner compares names.
std::string Upper(std::string s);

// A count and its noun, plural unless the count is one: "1 file", "2 files".
std::string Counted(uint64_t count, const std::string& noun);

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

// `text` from a package as --list shows it, in UTF-8: characters as they are (well-formed UTF-8
// when `utf8`, else ASCII only); every other byte, and the bytes of the characters that could
// drive a terminal or make one text look like another (C0 and C1 controls, DEL, bidirectional
// overrides, isolates and marks, line and paragraph separators), as <XX>, its value.
std::string ShownText(const std::string& text, bool utf8);

// The command line (UTF-8) that hands `words` to a program whose C runtime splits it again
// (CommandLineToArgvW's rules): a word with a blank, a tab or a quote, or an empty one, goes in
// quotes, with a backslash before each quote in it and the backslashes before a quote doubled.
// Nothing else is special to that parser, so no word can split or run into the next.
std::string WindowsCommandLine(const std::vector<std::string>& words);
