// The Microsoft cabinet format as the runner reads it and the packager writes it: every on-disk
// field named once, by its byte offset in its record. All numbers are little-endian.
// The records keep the format's names: CFHEADER, CFFOLDER, CFFILE, CFDATA.
// Portable: no platform headers.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t CabSignature = 0x4643534D;  // "MSCF"

// The header (CFHEADER), then, with CabFlagReservePresent, the reserve sizes and the reserved
// bytes, then the previous and next cabinet's names when the set flags say so.
namespace CfHeader {
constexpr size_t Signature = 0;
constexpr size_t CabinetSize = 8;   // 32 bits: the whole cabinet
constexpr size_t FilesOffset = 16;  // 32 bits: where the file table starts
constexpr size_t VersionMinor = 24;
constexpr size_t VersionMajor = 25;
constexpr size_t FolderCount = 26;  // 16 bits
constexpr size_t FileCount = 28;    // 16 bits
constexpr size_t Flags = 30;        // 16 bits: CabFlag...
constexpr size_t SetId = 32;
constexpr size_t SetIndex = 34;
constexpr size_t Size = 36;
// Present with CabFlagReservePresent.
constexpr size_t ReservedHeaderBytes = 36;  // 16 bits
constexpr size_t ReservedFolderBytes = 38;  // 8 bits
constexpr size_t ReservedBlockBytes = 39;   // 8 bits
constexpr size_t SizeWithReserve = 40;      // the reserved header bytes follow
}  // namespace CfHeader

constexpr uint16_t CabFlagPreviousCabinet = 0x0001;
constexpr uint16_t CabFlagNextCabinet = 0x0002;
constexpr uint16_t CabFlagReservePresent = 0x0004;

// A folder (CFFOLDER): one compressed stream.
namespace CfFolder {
constexpr size_t DataOffset = 0;   // 32 bits: the first data block
constexpr size_t BlockCount = 4;   // 16 bits
constexpr size_t Compression = 6;  // 16 bits: CabCompress..., with the LZX window
constexpr size_t Size = 8;         // then the reserved folder bytes
}  // namespace CfFolder

// The compression field: the method in the low four bits, LZX's window bits in bits 8-12.
constexpr uint16_t CabCompressMask = 0x000F;
constexpr uint16_t CabCompressNone = 0, CabCompressMszip = 1, CabCompressQuantum = 2, CabCompressLzx = 3;
constexpr unsigned CabLzxMinWindowBits = 15, CabLzxMaxWindowBits = 21;  // windows of 32 KB to 2 MB
constexpr unsigned CabLzxWindowShift = 8;
constexpr uint16_t CabLzxWindowMask = 0x1F;
constexpr uint16_t CabLzxCompression(unsigned windowBits) { return uint16_t(CabCompressLzx | windowBits << CabLzxWindowShift); }
constexpr unsigned CabLzxWindowBits(uint16_t compression) { return (compression >> CabLzxWindowShift) & CabLzxWindowMask; }

// A file (CFFILE), followed by its zero-ended name.
namespace CfFile {
constexpr size_t Size = 0;          // 32 bits: uncompressed
constexpr size_t FolderOffset = 4;  // 32 bits: where it starts in its folder's stream
constexpr size_t FolderIndex = 8;   // 16 bits
constexpr size_t Date = 10;
constexpr size_t Time = 12;
constexpr size_t Attributes = 14;   // 16 bits: CabAttribute... and the FAT attributes
constexpr size_t Name = 16;
}  // namespace CfFile

// The FAT attributes are kept; these two are the cabinet's own.
constexpr uint16_t CabAttributeRunAfterExtraction = 0x0040;  // the program the runner starts
constexpr uint16_t CabAttributeNameIsUtf8 = 0x0080;

// A data block (CFDATA): checksum, sizes, then the reserved block bytes and the data.
namespace CfData {
constexpr size_t Checksum = 0;            // 32 bits, over everything after it
constexpr size_t CompressedSize = 4;      // 16 bits
constexpr size_t UncompressedSize = 6;    // 16 bits
constexpr size_t Size = 8;
}  // namespace CfData

constexpr uint32_t CabBlockSize = 32768;         // uncompressed bytes per data block
constexpr uint32_t CabFolderLimit = 0x7FFF8000;  // the largest uncompressed folder
