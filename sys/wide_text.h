// Texts at the platform's edge. Inside, paths and names are UTF-8 and the runner's own texts are
// ASCII or code page 932 (Japanese); the platform takes UTF-16, converted here. Nothing is ever
// converted with best fit: a character that a code page cannot spell is never replaced by a
// lookalike (a fullwidth quote never becomes a quote), unless asked for to see what another
// program would.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>

std::wstring WideFromCodePage(const std::string& text, UINT codePage);

struct TCodePageText {
  const std::string& Text;
  UINT CodePage;
};
// The pieces, each converted from its own code page, one after the other.
std::wstring WideFromCodePages(std::initializer_list<TCodePageText> pieces);

// A UTF-8 path or name as the wide functions take it; empty for text that is not UTF-8.
std::wstring WidePath(const std::string& path);
std::string Utf8FromWide(const wchar_t* text, size_t length);
inline std::string Utf8FromWide(const std::wstring& text) { return Utf8FromWide(text.data(), text.size()); }
std::string Utf8FromCodePage(const std::string& text, UINT codePage);

// The UTF-8 text in the system's code page; false when that lacks a character, spelled "?" then,
// or when the text is not UTF-8.
bool SpellInSystemCodePage(const std::string& text, std::string& spelled);
// The text as the system's ANSI functions spell it, with best fit: what a program of the system's
// code page sees of a name.
std::string AsAnsiFunctionsSpellIt(const std::wstring& text);
