// Expands a cabinet file into a folder through cabinet.dll's decompression interface (FDI).
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

// Called once per file before it is written, with the reader's ProgressContext; setting cancel
// ends the expansion.
using TProgressHook = void (*)(void* context, const std::string& targetPath, int32_t doneBytes, int32_t totalBytes,
                               bool& cancel);

// 0, or the system error code of the last failed file operation (-1: a folder could not be made;
// ERROR_CRC: the files do not match the package's digests).
extern int32_t CabLastError;

class TCabReader : public TObject {
 public:
  TCabReader();
  ~TCabReader() override;
  int32_t CheckCabinet(const std::string& cabinetPath);
  bool Expand(const std::string& cabinetPath, const std::string& destinationFolder);

  HFDI Context;  // null when cabinet.dll or its context is not available
  std::string DestFolder;
  std::string LaunchFileName;
  ERF ErrorRecord;
  int32_t TotalBytes;
  int32_t DoneBytes;
  unsigned FinishedFiles = 0;  // files written whole during the last Expand
  // The destination and each folder below it that the files go into, with their handles: held
  // open during Expand, so that none of them can be replaced by a link meanwhile.
  std::vector<std::pair<std::string, HANDLE>> HeldFolders;
  // While a file that was there already is written: the new file that will replace it.
  std::string Replacement;
  // The SHA-256 of each file in the cabinet's order, 32 bytes each, or null: every file written
  // is checked against its own before it is kept, and a package's files must match them in number.
  const uint8_t* Digests = nullptr;
  size_t DigestCount = 0;
  HCRYPTPROV HashProvider = 0;  // during Expand, where there are digests
  unsigned StartedFiles = 0;    // with digests: files begun in the last Expand, the next digest index
  // A file whose bytes did not match its digest (ERROR_CRC), or whose name flagged as UTF-8 has no
  // spelling in the system's code page (ERROR_NO_UNICODE_TRANSLATION; this one as stored).
  std::string RefusedFile;
  std::string FileName;  // the file being written, as the system's code page spells it
  TProgressHook OnProgress = nullptr;  // null = not bound
  void* ProgressContext = nullptr;
};
