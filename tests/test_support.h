// Small helpers for tests that work with real files under Wine. Paths are UTF-8, as the runner's.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "sys/paths.h"
#include "sys/wide_text.h"

// A fresh folder under the temp folder, removed with everything in it afterwards.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    static int counter = 0;
    Path = std::string(base) + "cabrun_test_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
    DeleteFolderIfPresent(Path);
    CreateDirectoryA(Path.c_str(), nullptr);
  }
  ~TempFolder() { DeleteFolderIfPresent(Path); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string operator/(const std::string& name) const { return Path + "\\" + name; }
  std::string Path;
};

// Makes path and whatever is missing above it.
inline bool MakeFolders(const std::string& path) {
  std::vector<THeldFolder> held;
  bool ok = HoldFolderChain(FullPathOf(path), held);
  ReleaseFolders(held);
  return ok;
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == text.size();
}

inline std::string ReadWholeFile(const std::string& path) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string text(GetFileSize(h, nullptr), '\0');
  DWORD read = 0;
  if (!text.empty()) ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
  CloseHandle(h);
  text.resize(read);
  return text;
}

// Every file and folder under folder, by path relative to it; true for a folder.
inline void ListTree(const std::string& folder, std::map<std::string, bool>& entries, const std::string& prefix = "") {
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(WidePath(folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = Utf8FromWide(entry.cFileName);
    if (name == "." || name == "..") continue;
    bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    entries[prefix + name] = isFolder;
    if (isFolder) ListTree(folder + "\\" + name, entries, prefix + name + "\\");
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}
