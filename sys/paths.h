// File, folder and path helpers on paths in UTF-8, handed to the platform's wide functions, so that
// any name Windows can hold works whatever the system's code page. Path operations test single
// bytes, which in UTF-8 never stand inside another character.
// Every failure is a result (false, -1, an error code or an empty text), never an exception.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

using TFileName = std::string;

// One folder enumeration; SearchHandle is INVALID_HANDLE_VALUE while closed.
struct TSearchRec {
  int64_t EntrySize = 0;
  uint32_t EntryAttributes = 0;
  TFileName EntryName;
  uint32_t SkipMask = 0;
  HANDLE SearchHandle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW PlatformData{};
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

// CreateFileW on the path.
HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                SECURITY_ATTRIBUTES* security = nullptr);
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

// True when path names the file or folder open as file (the same volume and file index).
bool IsSameFile(HANDLE file, const std::string& path);

// Opens folder as itself, never through a link at its name, and holds it so that it can be
// neither renamed, deleted nor replaced while the handle is open; INVALID_HANDLE_VALUE when it is
// not a folder or is a link (by its name and on the handle). Programs may still work in it.
HANDLE HoldFolder(const std::string& folder);
// What a held folder's handle may do: list and enter it. A handle that only reads attributes
// counts in no one's sharing; with these rights its share mode, which leaves out deletion, binds
// every later opener: nobody can rename or delete the folder while it is held.
constexpr DWORD HeldFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// A folder held open, and whether the run made it.
struct THeldFolder {
  std::string Path;
  HANDLE Handle;
  bool Made;
};
// Makes what is missing of the full path and holds each folder below its drive or share down to
// it, appending them to chain; false when one of them is a link or not a folder or cannot be made.
bool HoldFolderChain(const std::string& path, std::vector<THeldFolder>& chain);
void ReleaseFolders(std::vector<THeldFolder>& chain);
// Removes, deepest first, what the run made of the chain while the folders above stay held: the
// last folder with everything in it, the made ones above it when they are empty. Releases the chain.
void DeleteMadeFolders(std::vector<THeldFolder>& chain);

// Creates or opens name (a relative path) below the folder open as parent, by that handle, so
// that no rename or link at the folder's own name can send it elsewhere. disposition and options
// as the native call takes them (FILE_CREATE, FILE_DIRECTORY_FILE, ...); security for what it
// creates. INVALID_HANDLE_VALUE, with the system's error code, on failure.
HANDLE OpenBelow(HANDLE parent, const std::string& name, DWORD access, DWORD share, DWORD disposition, DWORD options,
                 PSECURITY_DESCRIPTOR security = nullptr);

bool DeleteFolderTree(const std::string& folder);
void DeleteFolderIfPresent(const std::string& folder);
void DeleteFileIfPresent(const std::string& file);
