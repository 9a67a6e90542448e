// File, folder, path and number-text helpers on 8-bit strings in the system code page.
// Every failure is a result (false, -1, an error code or an empty text), never an exception.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

using TFileName = std::string;

// One folder enumeration; SearchHandle is INVALID_HANDLE_VALUE while closed.
struct TSearchRec {
  uint32_t EntryTime = 0;  // local DOS date (high word) and time (low word)
  int64_t EntrySize = 0;
  uint32_t EntryAttributes = 0;
  TFileName EntryName;
  uint32_t SkipMask = 0;
  HANDLE SearchHandle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA PlatformData{};
};

bool IsExistingFolder(const std::string& path);
bool IsExistingFile(const std::string& path);
int32_t ReadAttributes(const std::string& path);
int32_t WriteAttributes(const std::string& path, uint32_t attributes);

int LastIndexOfAny(const std::string& set, const std::string& text);
std::string FolderOfPath(const std::string& path);
std::string NameOfPath(const std::string& path);
std::string ExtensionOfPath(const std::string& path);
std::string FullPathOf(const std::string& path);
std::string WithoutTrailingBackslash(const std::string& path);
std::string WithTrailingBackslash(const std::string& path);
std::string ReplaceExtension(const std::string& path, const std::string& extension);

bool MakeFolder(const std::string& path);
bool MakeFolderChain(const std::string& path);
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);

std::string DecimalText(int32_t n);
std::string HexText(uint32_t n, int digits);

int32_t ScanFirst(const std::string& pattern, uint32_t mask, TSearchRec& rec);
int32_t ScanNext(TSearchRec& rec);
void ScanClose(TSearchRec& rec);

bool DeleteFolderTree(const std::string& folder);
void DeleteFolderIfPresent(const std::string& folder);
void DeleteFileIfPresent(const std::string& file);
