// A Windows program's headers as the packager reads them: an x86 (PE32) or x64 (PE32+) image,
// its sections and data directories. Portable C++17; images are read from files in pieces.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

// The architectures a runner is built for; the x86 one is the default.
enum class RunnerArch { X86, X64 };
const char* ArchName(RunnerArch arch);         // "x86", "x64"
const char* ArchFormatName(RunnerArch arch);   // "PE32", "PE32+"
bool ParseArch(const std::string& name, RunnerArch& arch);

// A checked PE32 or PE32+ file: its headers (up to the first section's data) in memory, the rest
// in the file.
struct PeImage {
  std::filesystem::path File;
  uint64_t FileSize = 0;
  std::string Head;
  RunnerArch Arch = RunnerArch::X86;
  uint32_t FileHeader = 0;      // file offset of the file (COFF) header
  uint32_t OptionalHeader = 0;  // file offset of the optional header
  uint32_t SectionTable = 0;
  uint16_t SectionCount = 0;
};

// Reads an x86 or x64 program's headers; any other machine (ARM64, Itanium, ...) is refused.
bool ReadPeImage(const std::filesystem::path& file, PeImage& image, std::string& error);
// Whether the image can be a runner: a GUI program, not a DLL or a console program.
bool CheckRunnerImage(const PeImage& image, std::string& error);
// The subsystem a program's header names (PeSubsystemGui, PeSubsystemConsole, ...), whatever its
// machine; 0 for a DLL or a file that is no program.
uint32_t ProgramSubsystem(const std::filesystem::path& file);

struct PeSectionPlace {
  uint32_t VirtualSize, VirtualAddress, RawSize, RawPointer;
};
size_t SectionHeaderAt(const PeImage& image, int i);  // offset in Head
PeSectionPlace SectionAt(const PeImage& image, int i);
uint32_t DirectoryCount(const PeImage& image);
size_t DirectoryAt(const PeImage& image, uint32_t index);  // offset in Head
// File offset of `size` bytes at `rva`, or false when they do not lie within one section's file data.
bool RvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, uint64_t& offset);

uint64_t AlignUp(uint64_t v, uint32_t alignment);
