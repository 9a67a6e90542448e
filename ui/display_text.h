// Japanese texts are kept in code page 932; on a system with another ANSI code page they are
// shown through the wide window functions, converted here.
#pragma once
#include <windows.h>
#include <string>

bool SystemUsesCodePage932();
std::wstring WideFromCodePage(const std::string& text, UINT codePage);
void AppendWide(std::wstring& wide, const std::string& text, UINT codePage);
