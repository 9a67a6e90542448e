// Expands a cabinet into a folder through cabinet.dll's decompression interface (FDI). The cabinet
// is read from memory (the package's own resource) through the library's file callbacks: it never
// lies on disk, where another user could swap it between its writing and its reading.
// One reader at a time: the file callbacks report into the module-wide CabLastError.
#pragma once
#include <windows.h>
#include <fdi.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sys/object.h"
#include "sys/paths.h"

// Called once per file before it is written, with the reader's ProgressContext; setting cancel
// ends the expansion.
using TProgressHook = void (*)(void* context, const std::string& targetPath, int32_t doneBytes, int32_t totalBytes,
                               bool& cancel);

// A cabinet's bytes in memory.
struct TCabinetImage {
  const uint8_t* Data = nullptr;
  uint32_t Size = 0;
};

// 0, or the system error code of the last failed file operation (-1: a folder could not be made;
// ERROR_CRC: the files do not match the package's digests).
extern int32_t CabLastError;

class TCabReader : public TObject {
 public:
  TCabReader();
  ~TCabReader() override;
  int32_t CheckCabinet(const TCabinetImage& cabinet);
  // With heldDestination, the folder is the caller's, made and held already (it stays held);
  // otherwise it is made if need be and held for the expansion.
  bool Expand(const TCabinetImage& cabinet, const std::string& destinationFolder,
              HANDLE heldDestination = INVALID_HANDLE_VALUE);

  HFDI Context;  // null when cabinet.dll or its context is not available
  std::string DestFolder;
  std::string LaunchFileName;
  // The flagged file, open for reading and shared for reading only, from the end of its writing
  // (and its digest's check) until whoever takes the handle closes it: nobody can change, rename
  // or delete it meanwhile. INVALID_HANDLE_VALUE when no file was flagged or it replaced another.
  HANDLE LaunchFileHold = INVALID_HANDLE_VALUE;
  ERF ErrorRecord;
  int32_t TotalBytes;
  int32_t DoneBytes;
  unsigned FinishedFiles = 0;  // files written whole during the last Expand
  // The destination and each folder below it that the files go into, with their handles: held
  // open during Expand, so that none of them can be replaced by a link meanwhile.
  std::vector<THeldFolder> HeldFolders;
  // While a file that was there already is written: the new file that will replace it.
  std::string Replacement;
  // The SHA-256 of each file in the cabinet's order, 32 bytes each, or null: every file written
  // is checked against its own before it is kept, and a package's files must match them in number.
  const uint8_t* Digests = nullptr;
  size_t DigestCount = 0;
  HCRYPTPROV HashProvider = 0;  // during Expand, where there are digests
  unsigned StartedFiles = 0;    // with digests: files begun in the last Expand, the next digest index
  // A file whose bytes did not match its digest (ERROR_CRC), whose name flagged as UTF-8 is none or
  // would be another path to a program of the system's code page (ERROR_NO_UNICODE_TRANSLATION; as
  // stored), or whose name leads out of the destination or to a device (ERROR_INVALID_NAME).
  std::string RefusedFile;
  std::string FileName;  // the file being written, in UTF-8
  TProgressHook OnProgress = nullptr;  // null = not bound
  void* ProgressContext = nullptr;
};
