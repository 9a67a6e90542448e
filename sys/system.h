// Operating-system queries: comparison, rights, version, language, folders, temporary file.
// None of them fails visibly: each gives false, "ENU" or an empty text when it cannot answer.
#pragma once
#include <windows.h>
#include <string>

// Looks up an optional function by name; null when the module lacks it.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b);
bool StartsWithIgnoringCase(const std::string& prefix, const std::string& text);
std::string WithoutTrailingBlanks(const std::string& text);
bool IsUserAdministrator();
bool IsNt6OrLater();
std::string SystemLanguageAbbreviation();
std::string CommonDataFolder();
// A new empty file with private rights, in the maker's folder or else the temp folder; with file
// given, it is handed over open for writing. With withExtractFolder, the empty private folder
// "_<its name>" beside it is made too.
std::string CreateCabinetTempFile(HANDLE* file = nullptr, bool withExtractFolder = false);
std::string SystemFolder();
std::string CurrentFolder();

// Keeps DLLs loaded by name to the system folder, where systems offer that.
void RestrictDllSearchToSystemFolder();
