#include "ui/display_text.h"

bool SystemUsesCodePage932() { return GetACP() == 932; }

std::wstring WideFromCodePage(const std::string& text, UINT codePage) {
  std::wstring wide;
  AppendWide(wide, text, codePage);
  return wide;
}

void AppendWide(std::wstring& wide, const std::string& text, UINT codePage) {
  if (text.empty()) return;
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return;
  size_t end = wide.size();
  wide.resize(end + static_cast<size_t>(length));
  MultiByteToWideChar(codePage, 0, text.data(), size, &wide[end], length);
}
