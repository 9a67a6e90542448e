#include "sys/wide_text.h"

std::wstring WideFromCodePage(const std::string& text, UINT codePage) { return WideFromCodePages({{text, codePage}}); }

// Measured first and converted into place: a wide string that grows brings more library code.
std::wstring WideFromCodePages(std::initializer_list<TCodePageText> pieces) {
  size_t total = 0;
  for (const TCodePageText& piece : pieces) {
    total += static_cast<size_t>(
        MultiByteToWideChar(piece.CodePage, 0, piece.Text.data(), static_cast<int>(piece.Text.size()), nullptr, 0));
  }
  std::wstring wide(total, L'\0');
  size_t end = 0;
  for (const TCodePageText& piece : pieces) {
    // A length of 0 would ask for the length again.
    if (end == total) break;
    end += static_cast<size_t>(MultiByteToWideChar(piece.CodePage, 0, piece.Text.data(),
                                                   static_cast<int>(piece.Text.size()), &wide[end],
                                                   static_cast<int>(total - end)));
  }
  return wide;
}

std::wstring WidePath(const std::string& path) {
  int size = static_cast<int>(path.size());
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, &wide[0], length);
  return wide;
}

namespace {

// The wide text in codePage: without best fit, "?" for a character that has no spelling there,
// and then false; or, with bestFit, as the ANSI functions spell it.
bool SpellIn(UINT codePage, const wchar_t* text, size_t length, std::string& spelled, bool bestFit = false) {
  BOOL lost = FALSE;
  // UTF-8 spells everything and takes no question about losses.
  bool exact = codePage != CP_UTF8 && !bestFit;
  BOOL* losses = exact ? &lost : nullptr;
  DWORD flags = exact ? WC_NO_BEST_FIT_CHARS : 0;
  int size = static_cast<int>(length);
  const char* unknown = exact ? "?" : nullptr;
  int bytes = WideCharToMultiByte(codePage, flags, text, size, nullptr, 0, unknown, losses);
  spelled.assign(static_cast<size_t>(bytes), '\0');
  if (bytes > 0) WideCharToMultiByte(codePage, flags, text, size, &spelled[0], bytes, unknown, losses);
  return (bytes > 0 || length == 0) && !lost;
}

}  // namespace

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  std::string utf8;
  SpellIn(CP_UTF8, text, length, utf8);
  return utf8;
}

std::string Utf8FromCodePage(const std::string& text, UINT codePage) {
  return Utf8FromWide(WideFromCodePage(text, codePage));
}

// A system whose code page is UTF-8 spells everything (asked about losses, it fails the call).
bool SpellInSystemCodePage(const std::string& text, std::string& spelled) {
  std::wstring wide = WidePath(text);
  if (wide.empty() && !text.empty()) return false;  // not UTF-8
  return SpellIn(GetACP() == CP_UTF8 ? CP_UTF8 : CP_ACP, wide.data(), wide.size(), spelled);
}

std::string AsAnsiFunctionsSpellIt(const std::wstring& text) {
  std::string spelled;
  SpellIn(CP_ACP, text.data(), text.size(), spelled, true);
  return spelled;
}
