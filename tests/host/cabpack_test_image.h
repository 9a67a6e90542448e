// Small hand-made PE32 and PE32+ images for the packager's host tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/byte_order.h"
#include "format/pe.h"

namespace {

// Places in the image: the PE header at 0x40; the section table follows the optional header,
// which is 16 bytes longer in PE32+, as are the data directories' offsets in it.
constexpr uint32_t Pe = 0x40, FileHeader = Pe + PeSignatureSize, Opt = FileHeader + PeFileHeader::Size;

struct ImageFormat {
  uint16_t Machine, Magic, OptionalSize;
  uint32_t Directories;  // offset of the first data directory in the optional header
};
constexpr ImageFormat Pe32{PeMachineI386, PeMagic32, 224, PeOptional::DirectoryCount32 + 4},
    Pe32Plus{PeMachineAmd64, PeMagic32Plus, 240, PeOptional::DirectoryCount32Plus + 4};

// A section header's field, and a data directory's.
inline size_t SectionField(int section, size_t field, const ImageFormat& format = Pe32) {
  return Opt + format.OptionalSize + size_t(section) * PeSection::Size + field;
}
inline size_t DirectoryField(uint32_t directory, size_t field, const ImageFormat& format = Pe32) {
  return Opt + format.Directories + directory * PeDirectory::EntrySize + field;
}

// Little-endian fields written into `b`, which grows to hold them.
inline void Put16(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2, '\0');
  Set16(b, at, v);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, '\0');
  Set32(b, at, v);
}

// The parts of a resource tree, written where a test puts them: a directory's header, its entry
// i, a data entry.
inline void PutResourceDirectory(std::string& s, uint32_t at, uint32_t named, uint32_t ids) {
  Put16(s, at + PeResourceDirectory::NamedEntries, named);
  Put16(s, at + PeResourceDirectory::IdEntries, ids);
}
inline void PutResourceEntry(std::string& s, uint32_t directory, uint32_t i, uint32_t nameOrId, uint32_t target) {
  const uint32_t at = directory + PeResourceDirectory::Size + i * PeResourceEntry::Size;
  Put32(s, at + PeResourceEntry::NameOrId, nameOrId);
  Put32(s, at + PeResourceEntry::Target, target);
}
inline void PutResourceData(std::string& s, uint32_t at, uint32_t rva, uint32_t size, uint32_t codePage = 0) {
  Put32(s, at + PeResourceData::Rva, rva);
  Put32(s, at + PeResourceData::Size, size);
  Put32(s, at + PeResourceData::CodePage, codePage);
}

// A resource section at `rva` of `types` types from #firstType on, each with the names #first to
// #last in one language, all sharing one data entry of `dataSize` bytes.
inline std::string WideResourceTree(uint32_t rva, uint32_t firstType, uint32_t types, uint32_t first, uint32_t last,
                                    uint32_t dataSize = 4) {
  const uint32_t names = last - first + 1, typeDirectories = PeResourceDirectory::Size + types * PeResourceEntry::Size;
  const uint32_t nameDirectorySize = PeResourceDirectory::Size + names * PeResourceEntry::Size;
  const uint32_t languages = typeDirectories + types * nameDirectorySize, languageSize = PeResourceDirectory::Size + PeResourceEntry::Size;
  const uint32_t dataEntry = languages + types * names * languageSize, data = dataEntry + PeResourceData::EntrySize;
  std::string s(data + dataSize, '\0');
  PutResourceDirectory(s, 0, 0, types);
  for (uint32_t t = 0; t < types; ++t) {
    const uint32_t nameDirectory = typeDirectories + t * nameDirectorySize;
    PutResourceEntry(s, 0, t, firstType + t, PeResourceHigh | nameDirectory);
    PutResourceDirectory(s, nameDirectory, 0, names);
    for (uint32_t n = 0; n < names; ++n) {
      const uint32_t language = languages + (t * names + n) * languageSize;
      PutResourceEntry(s, nameDirectory, n, first + n, PeResourceHigh | language);
      PutResourceDirectory(s, language, 0, 1);
      PutResourceEntry(s, language, 0, 0x409, dataEntry);
    }
  }
  PutResourceData(s, dataEntry, rva + data, dataSize);
  return s;
}

struct TestSection {
  std::string Name, Data;
};

// A GUI program's image: the sections one after the other from RVA 0x1000, file data from
// `headers`. A section named ".rsrc" becomes the resource directory, one named ".reloc" the
// relocations.
inline std::string MakeImage(const std::vector<TestSection>& sections, uint32_t headers = 0x200,
                             const ImageFormat& format = Pe32) {
  std::string b(headers, '\0');
  b.replace(PeDos::Magic, 2, "MZ");
  Put32(b, PeDos::NewHeader, Pe);
  b.replace(Pe, 4, std::string("PE\0\0", 4));
  Put16(b, FileHeader + PeFileHeader::Machine, format.Machine);
  Put16(b, FileHeader + PeFileHeader::SectionCount, uint32_t(sections.size()));
  Put16(b, FileHeader + PeFileHeader::OptionalHeaderSize, format.OptionalSize);
  Put16(b, FileHeader + PeFileHeader::Characteristics, 0x102);  // executable, 32-bit machine
  Put16(b, Opt + PeOptional::Magic, format.Magic);
  Put32(b, Opt + PeOptional::SectionAlignment, 0x1000);
  Put32(b, Opt + PeOptional::FileAlignment, 0x200);
  Put32(b, Opt + PeOptional::SizeOfHeaders, headers);
  Put16(b, Opt + PeOptional::Subsystem, PeSubsystemGui);
  Put32(b, Opt + format.Directories - 4, 16);
  uint32_t rva = 0x1000;
  for (size_t i = 0; i < sections.size(); ++i) {
    const TestSection& s = sections[i];
    uint32_t raw = uint32_t(b.size());
    uint32_t rawSize = (uint32_t(s.Data.size()) + 0x1FF) & ~0x1FFu;
    b.replace(SectionField(int(i), PeSection::Name, format), s.Name.size(), s.Name);
    Put32(b, SectionField(int(i), PeSection::VirtualSize, format), uint32_t(s.Data.size()));
    Put32(b, SectionField(int(i), PeSection::VirtualAddress, format), rva);
    Put32(b, SectionField(int(i), PeSection::RawSize, format), rawSize);
    Put32(b, SectionField(int(i), PeSection::RawPointer, format), raw);
    Put32(b, SectionField(int(i), PeSection::Characteristics, format), PeSectionInitializedData | PeSectionReadable);
    if (s.Name == ".rsrc" || s.Name == ".reloc") {
      uint32_t directory = s.Name == ".rsrc" ? PeDirectory::Resource : PeDirectory::BaseRelocation;
      Put32(b, DirectoryField(directory, PeDirectory::Rva, format), rva);
      Put32(b, DirectoryField(directory, PeDirectory::Size, format), uint32_t(s.Data.size()));
    }
    b += s.Data;
    b.resize(raw + rawSize, '\0');
    rva += (uint32_t(s.Data.size()) + 0xFFF) & ~0xFFFu;
  }
  Put32(b, Opt + PeOptional::SizeOfImage, rva);
  return b;
}

}  // namespace
