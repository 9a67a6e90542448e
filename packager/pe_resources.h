// Reads the resources of a PE image of an x86 (PE32) or x64 (PE32+) program and rebuilds its
// resource section, with no help from Windows. Portable C++17; used by the packager. Images are
// read from and written to files in pieces: a package of any size needs little memory.
#pragma once
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "packager/file_span.h"

// A resource type or name: a number, or a text (UTF-16) when Named.
struct ResourceKey {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Text;
};

// Data of this size and more stays in its file when resources are read.
constexpr uint32_t LargeResourceData = 1 << 20;

struct ResourceItem {
  ResourceKey Type, Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  std::string Data;  // the bytes, when Held
  FileSpan Place;    // where the bytes lie in a file, for data read from one or not Held
  bool Held = true;  // false for large data, which is copied from Place when written
  uint64_t Size() const { return Held ? Data.size() : Place.Size; }
};

constexpr uint16_t RtRcData = 10;

ResourceKey ResourceId(uint16_t id);
ResourceKey ResourceName(const std::string& asciiName);
std::string ResourceKeyText(const ResourceKey& key);  // "#10", "CAB"; non-ASCII as '?'
bool SameResourceKey(const ResourceKey& a, const ResourceKey& b);

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
  uint32_t OptionalHeader = 0;  // file offset of the optional header
  uint32_t SectionTable = 0;
  uint16_t SectionCount = 0;
};

// Reads an x86 or x64 program's headers; any other machine (ARM64, Itanium, ...) is refused.
bool ReadPeImage(const std::filesystem::path& file, PeImage& image, std::string& error);
// Whether the image can be a runner: a GUI program, not a DLL or a console program.
bool CheckRunnerImage(const PeImage& image, std::string& error);
bool ReadResources(const PeImage& image, std::vector<ResourceItem>& items, std::string& error);

// Writes the image with `items` as its whole resource tree to `out`, which must be able to seek
// back (for the checksum). A resource section that ends the file is replaced in place;
// otherwise a new one is added after the last section. Data not held goes last in the section.
// An Authenticode signature is dropped: it could not stay valid.
bool RebuildResources(const PeImage& image, const std::vector<ResourceItem>& items, std::ostream& out,
                      std::string& error);

// Replaces (all languages of) or adds the raw-data resource `name`, held or copied from a file.
void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const std::string& data);
void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const FileSpan& place);
void RemoveRcData(std::vector<ResourceItem>& items, const std::string& name);
const ResourceItem* FindRcData(const std::vector<ResourceItem>& items, const std::string& name);
