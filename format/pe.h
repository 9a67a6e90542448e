// The parts of the PE format (Windows programs, PE32 and PE32+) that the packager reads and
// rewrites: every field named once, by its byte offset in its record. Little-endian throughout.
// Portable: no platform headers.
#pragma once
#include <cstddef>
#include <cstdint>

// The DOS header: "MZ", and where the PE signature ("PE\0\0") lies.
namespace PeDos {
constexpr size_t Magic = 0;
constexpr size_t NewHeader = 0x3C;  // 32 bits
constexpr size_t Size = 0x40;
}  // namespace PeDos
constexpr size_t PeSignatureSize = 4;

// The file header (COFF), right after the signature.
namespace PeFileHeader {
constexpr size_t Machine = 0;
constexpr size_t SectionCount = 2;
constexpr size_t TimeDateStamp = 4;
constexpr size_t OptionalHeaderSize = 16;
constexpr size_t Characteristics = 18;
constexpr size_t Size = 20;  // the optional header follows
}  // namespace PeFileHeader

constexpr uint16_t PeMachineI386 = 0x014C, PeMachineAmd64 = 0x8664, PeMachineArm = 0x01C4, PeMachineArm64 = 0xAA64,
                   PeMachineIa64 = 0x0200;
constexpr uint16_t PeFileIsDll = 0x2000;

// The optional header. Up to Subsystem both formats keep the same places; PE32+ has no
// BaseOfData but 8-byte stack and heap sizes, which moves the data directories.
namespace PeOptional {
constexpr size_t Magic = 0;
constexpr size_t SizeOfInitializedData = 8;
constexpr size_t SectionAlignment = 32;
constexpr size_t FileAlignment = 36;
constexpr size_t SizeOfImage = 56;
constexpr size_t SizeOfHeaders = 60;
constexpr size_t CheckSum = 64;
constexpr size_t Subsystem = 68;
constexpr size_t DirectoryCount32 = 92;       // PE32
constexpr size_t DirectoryCount32Plus = 108;  // PE32+; the directories follow the count
}  // namespace PeOptional

constexpr uint16_t PeMagic32 = 0x10B, PeMagic32Plus = 0x20B;
constexpr uint16_t PeSubsystemGui = 2, PeSubsystemConsole = 3;

// A data directory entry, and the ones the packager touches.
namespace PeDirectory {
constexpr size_t Rva = 0;   // a file offset for the security directory
constexpr size_t Size = 4;
constexpr size_t EntrySize = 8;
constexpr uint32_t Resource = 2, Security = 4, BaseRelocation = 5;
}  // namespace PeDirectory

// A section header.
namespace PeSection {
constexpr size_t Name = 0;  // 8 bytes
constexpr size_t VirtualSize = 8;
constexpr size_t VirtualAddress = 12;
constexpr size_t RawSize = 16;
constexpr size_t RawPointer = 20;
constexpr size_t Relocations = 24;  // pointers and counts up to Characteristics: zero in images
constexpr size_t Characteristics = 36;
constexpr size_t Size = 40;
}  // namespace PeSection

// An entry of the certificate table the security directory names (WIN_CERTIFICATE), at a file
// offset, 8-byte aligned; Authenticode puts a PKCS#7 SignedData there.
namespace PeCertificate {
constexpr size_t Length = 0;  // 32 bits, this header included
constexpr size_t Revision = 4;
constexpr size_t Type = 6;
constexpr size_t Data = 8;
}  // namespace PeCertificate
constexpr uint16_t PeCertificatePkcsSignedData = 2;

constexpr uint32_t PeSectionInitializedData = 0x00000040, PeSectionReadable = 0x40000000;

// The resource tree: directories of entries, then data entries.
namespace PeResourceDirectory {
constexpr size_t NamedEntries = 12;  // 16 bits
constexpr size_t IdEntries = 14;     // 16 bits
constexpr size_t Size = 16;          // the entries follow, named ones first
}  // namespace PeResourceDirectory
namespace PeResourceEntry {
constexpr size_t NameOrId = 0;  // with PeResourceHigh: the offset of a counted UTF-16 name
constexpr size_t Target = 4;    // with PeResourceHigh: a directory; else a data entry
constexpr size_t Size = 8;
}  // namespace PeResourceEntry
constexpr uint32_t PeResourceHigh = 0x80000000;
namespace PeResourceData {
constexpr size_t Rva = 0;
constexpr size_t Size = 4;
constexpr size_t CodePage = 8;
constexpr size_t EntrySize = 16;
}  // namespace PeResourceData

constexpr uint16_t PeResourceIcon = 3, PeResourceRcData = 10, PeResourceGroupIcon = 14, PeResourceVersion = 16,
                   PeResourceManifest = 24;
