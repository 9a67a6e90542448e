// File, folder and path helpers on 8-bit strings in the system code page.
// Every failure is a result (false, -1, an error code or an empty text), never an exception.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

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
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);

int32_t ScanFirst(const std::string& pattern, uint32_t mask, TSearchRec& rec);
int32_t ScanNext(TSearchRec& rec);
void ScanClose(TSearchRec& rec);

// True when path's name is a junction or symbolic link (or a reparse point of unknown kind); other
// reparse points, such as cloud files, are the file itself. Read by the name, where Wine shows links.
bool IsLinkByName(const std::string& path);
// The same, read on an open handle, which cannot change under the check.
bool IsLinkOnHandle(HANDLE handle);
// True for a file (not a folder) with this one name and no link, read on a handle opened on a
// link itself: nothing written through it reaches another file.
bool IsPlainFile(HANDLE file);

// Opens folder as itself, never through a link at its name, and holds it so that it can be
// neither renamed, deleted nor replaced while the handle is open; INVALID_HANDLE_VALUE when it is
// not a folder or is a link (by its name and on the handle).
HANDLE HoldFolder(const std::string& folder);
// Makes what is missing of the full path and holds each folder below its drive or share down to
// it, appending the handles to held; false when one of them is a link or not a folder or cannot be
// made. made tells whether the last one was made here.
bool HoldFolderChain(const std::string& path, std::vector<HANDLE>& held, bool& made);
void ReleaseFolders(std::vector<HANDLE>& held);

bool DeleteFolderTree(const std::string& folder);
void DeleteFolderIfPresent(const std::string& folder);
void DeleteFileIfPresent(const std::string& file);
