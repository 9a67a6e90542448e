#include "ui/display_text.h"

bool SystemUsesCodePage932() { return GetACP() == 932; }

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
