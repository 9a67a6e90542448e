// Japanese texts are kept in code page 932; on a system with another ANSI code page they are
// shown through the wide window functions, converted here.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>

bool SystemUsesCodePage932();
std::wstring WideFromCodePage(const std::string& text, UINT codePage);

struct TCodePageText {
  const std::string& Text;
  UINT CodePage;
};
// The pieces, each converted from its own code page, one after the other.
std::wstring WideFromCodePages(std::initializer_list<TCodePageText> pieces);
