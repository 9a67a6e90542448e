#include "ui/display_text.h"

bool SystemUsesCodePage932() { return GetACP() == 932; }

std::wstring WideFromCodePage(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], length);
  return wide;
}
