// Operating-system queries: comparison, rights, version, language, folders, temporary file.
// None of them fails visibly: each gives false, "ENU" or an empty text when it cannot answer.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "sys/paths.h"

// Looks up an optional function by name; null when the module lacks it.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b);
bool StartsWithIgnoringCase(const std::string& prefix, const std::string& text);
std::string WithoutTrailingBlanks(const std::string& text);
bool IsUserAdministrator();
std::string SystemLanguageAbbreviation();
std::string CommonDataFolder();
// The run's work folder: a new empty private folder "_cab<number>.tmp", made and held through its
// handle, the last of chain (the folders above it are held before it, so that none of them can be
// renamed while the run uses it). It is made in the maker's folder where that is trusted; else in
// the common application-data folder, where every user may add folders but none may rename or
// delete another's, so that what the elevated run makes there stays its own; else in the temp
// folder. Empty, with nothing held, when none of them serves.
std::string CreateWorkFolder(std::vector<THeldFolder>& chain);
std::string SystemFolder();
std::string CurrentFolder();

// Keeps DLLs loaded by name to the system folder, where systems offer that.
void RestrictDllSearchToSystemFolder();
