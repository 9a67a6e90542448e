#include "packager/pe_image.h"

#include <algorithm>
#include <cstdio>

#include "format/byte_order.h"
#include "format/pe.h"
#include "packager/file_span.h"

namespace {

constexpr uint32_t HeadReadSize = 0x10000;  // enough for the headers of any usual image

size_t DirectoryCountField(RunnerArch arch) {
  return arch == RunnerArch::X64 ? PeOptional::DirectoryCount32Plus : PeOptional::DirectoryCount32;
}

// The name of a machine that cabpack does not pack, for its message.
std::string MachineName(uint32_t machine) {
  switch (machine) {
    case PeMachineArm64: return "an ARM64";
    case PeMachineArm: return "an ARM";
    case PeMachineIa64: return "an Itanium";
    default: {
      char text[40];
      std::snprintf(text, sizeof text, "a machine 0x%04X", machine);
      return text;
    }
  }
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

uint64_t AlignUp(uint64_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

const char* ArchName(RunnerArch arch) { return arch == RunnerArch::X64 ? "x64" : "x86"; }
const char* ArchFormatName(RunnerArch arch) { return arch == RunnerArch::X64 ? "PE32+" : "PE32"; }

bool ParseArch(const std::string& name, RunnerArch& arch) {
  for (RunnerArch a : {RunnerArch::X86, RunnerArch::X64})
    if (name == ArchName(a)) return arch = a, true;
  return false;
}

size_t SectionHeaderAt(const PeImage& image, int i) { return image.SectionTable + size_t(i) * PeSection::Size; }

PeSectionPlace SectionAt(const PeImage& image, int i) {
  size_t at = SectionHeaderAt(image, i);
  return {Get32(image.Head, at + PeSection::VirtualSize), Get32(image.Head, at + PeSection::VirtualAddress),
          Get32(image.Head, at + PeSection::RawSize), Get32(image.Head, at + PeSection::RawPointer)};
}

uint32_t DirectoryCount(const PeImage& image) {
  return Get32(image.Head, image.OptionalHeader + DirectoryCountField(image.Arch));
}

size_t DirectoryAt(const PeImage& image, uint32_t index) {
  return image.OptionalHeader + DirectoryCountField(image.Arch) + 4 + index * PeDirectory::EntrySize;
}

bool RvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, uint64_t& offset) {
  for (int i = 0; i < image.SectionCount; ++i) {
    PeSectionPlace s = SectionAt(image, i);
    if (rva >= s.VirtualAddress && uint64_t(rva) + size <= uint64_t(s.VirtualAddress) + s.RawSize) {
      offset = s.RawPointer + uint64_t(rva - s.VirtualAddress);
      return offset + size <= image.FileSize;
    }
  }
  return false;
}

bool ReadPeImage(const std::filesystem::path& file, PeImage& image, std::string& error) {
  image = PeImage();
  image.File = file;
  FileSpan whole;
  std::string bytes;
  if (!WholeFileSpan(file, whole) || !ReadSpan(whole, HeadReadSize, bytes)) {
    error = "it cannot be read";
    return false;
  }
  image.FileSize = whole.Size;
  error = "not a Windows program (PE)";
  if (bytes.size() < PeDos::Size || bytes.compare(PeDos::Magic, 2, "MZ") != 0) return false;
  uint32_t pe = Get32(bytes, PeDos::NewHeader);
  if (uint64_t(pe) + PeSignatureSize + PeFileHeader::Size > bytes.size() ||
      bytes.compare(pe, PeSignatureSize, std::string("PE\0\0", 4)) != 0)
    return false;
  image.FileHeader = pe + PeSignatureSize;
  image.OptionalHeader = image.FileHeader + PeFileHeader::Size;
  uint32_t machine = Get16(bytes, image.FileHeader + PeFileHeader::Machine);
  uint32_t optionalSize = Get16(bytes, image.FileHeader + PeFileHeader::OptionalHeaderSize);
  if (machine != PeMachineI386 && machine != PeMachineAmd64) {
    error = MachineName(machine) + " program: cabpack packs x86 (PE32) and x64 (PE32+) runners";
    return false;
  }
  image.Arch = machine == PeMachineAmd64 ? RunnerArch::X64 : RunnerArch::X86;
  size_t directories = DirectoryCountField(image.Arch) + 4;
  error = std::string("not a valid ") + ArchName(image.Arch) + " program (" + ArchFormatName(image.Arch) + ")";
  if (optionalSize < directories || uint64_t(image.OptionalHeader) + optionalSize > bytes.size() ||
      Get16(bytes, image.OptionalHeader + PeOptional::Magic) != (image.Arch == RunnerArch::X64 ? PeMagic32Plus : PeMagic32))
    return false;
  image.Head = bytes;
  if (uint64_t(DirectoryCount(image)) * PeDirectory::EntrySize + directories > optionalSize ||
      DirectoryCount(image) <= PeDirectory::Security) {
    error = "its header has no resource or signature directory";
    return false;
  }
  image.SectionCount = uint16_t(Get16(bytes, image.FileHeader + PeFileHeader::SectionCount));
  image.SectionTable = image.OptionalHeader + optionalSize;
  uint64_t tableEnd = SectionHeaderAt(image, image.SectionCount);
  if (image.SectionCount == 0 || tableEnd > bytes.size()) {
    error = "its section table is damaged";
    return false;
  }
  if (!IsPowerOfTwo(Get32(bytes, image.OptionalHeader + PeOptional::SectionAlignment)) ||
      !IsPowerOfTwo(Get32(bytes, image.OptionalHeader + PeOptional::FileAlignment))) {
    error = "its section alignment is damaged";
    return false;
  }
  // The head runs up to the first section's data; the rest is copied from the file when written.
  uint64_t firstData = Get32(bytes, image.OptionalHeader + PeOptional::SizeOfHeaders);
  for (int i = 0; i < image.SectionCount; ++i) {
    PeSectionPlace s = SectionAt(image, i);
    if (uint64_t(s.RawPointer) + s.RawSize > image.FileSize) {
      error = "it is cut short: a section lies beyond its end";
      return false;
    }
    if (s.RawSize > 0) firstData = std::min<uint64_t>(firstData, s.RawPointer);
  }
  image.Head.resize(size_t(std::max(tableEnd, std::min<uint64_t>(firstData, bytes.size()))));
  error.clear();
  return true;
}

uint32_t ProgramSubsystem(const std::filesystem::path& file) {
  FileSpan whole;
  std::string b;
  if (!WholeFileSpan(file, whole) || !ReadSpan(whole, HeadReadSize, b) || b.size() < PeDos::Size ||
      b.compare(PeDos::Magic, 2, "MZ") != 0)
    return 0;
  uint64_t header = uint64_t(Get32(b, PeDos::NewHeader)) + PeSignatureSize, optional = header + PeFileHeader::Size;
  if (optional + PeOptional::Subsystem + 2 > b.size() ||
      b.compare(size_t(header - PeSignatureSize), PeSignatureSize, std::string("PE\0\0", 4)) != 0 ||
      Get16(b, size_t(header + PeFileHeader::OptionalHeaderSize)) < PeOptional::Subsystem + 2 ||
      (Get16(b, size_t(header + PeFileHeader::Characteristics)) & PeFileIsDll))
    return 0;
  return Get16(b, size_t(optional + PeOptional::Subsystem));
}

bool CheckRunnerImage(const PeImage& image, std::string& error) {
  uint32_t characteristics = Get16(image.Head, image.FileHeader + PeFileHeader::Characteristics);
  uint32_t subsystem = Get16(image.Head, image.OptionalHeader + PeOptional::Subsystem);
  if (characteristics & PeFileIsDll)
    error = "a DLL, not a runner program";
  else if (subsystem == PeSubsystemConsole)
    error = "a console program; a runner is a GUI program";
  else if (subsystem != PeSubsystemGui)
    error = "not a GUI program (subsystem " + std::to_string(subsystem) + "); a runner is one";
  else
    return true;
  return false;
}
