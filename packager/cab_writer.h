// Writes a Microsoft cabinet (MS-CAB) with one folder, stored, MSZIP- or LZX-compressed.
// Portable C++17 with zlib; used by the packager and by the tests to make cabinets.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "format/cabinet.h"
#include "packager/lzx_encoder.h"
#include "packager/sha256.h"

enum class CabCompression { None, Mszip, Lzx };

struct CabFile {
  std::string Name;            // stored name, folder parts separated by '\'
  std::string SourcePath;      // file to read the data from (streamed; UTF-8), or empty to use Data
  std::string Data;            // the data when SourcePath is empty
  uint16_t Date = 0, Time = 0; // MS-DOS date and time
  uint16_t Attributes = 0;     // 0x01 read-only, 0x02 hidden, 0x04 system, 0x20 archive, 0x40 run after extraction
};

struct CabOptions {
  CabCompression Compression = CabCompression::Mszip;
  unsigned LzxWindowBits = CabLzxMaxWindowBits;  // LZX window of 2^15 to 2^21 bytes
  LzxParse LzxParsing = LzxParse::Lazy;          // LZX: how frames are parsed
  uint16_t ReservedHeaderBytes = 0;  // optional per-cabinet reserved area, filled with zeros
  // Told the bytes read so far after each data block; returning false stops the writing.
  std::function<bool(uint64_t done)> Progress;
  // Given, it receives each file's SHA-256, in the files' order, from the bytes packed.
  std::vector<Sha256Digest>* Digests = nullptr;
};

// Writes one self-contained cabinet with a single folder. Same inputs give the same bytes.
// File names are UTF-8; they are opened through the wide functions on Windows, whatever the
// system's code page.
// On failure returns false, sets error to a readable sentence and leaves no output file behind.
bool WriteCabinet(const std::vector<CabFile>& files, const CabOptions& options, const std::string& outputPath,
                  std::string& error);
