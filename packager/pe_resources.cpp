// The resource tree is read into a flat list of items and written back as a fresh section laid
// out the way resource compilers do it: all directories, then the names, the data entries and
// the data. Nothing of the old section is reused, so stale bytes never survive a repack.
#include "packager/pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "packager/byte_order.h"

namespace {

constexpr uint32_t SectionHeaderSize = 40;
constexpr uint32_t ResourceDirectory = 2;
constexpr uint32_t SecurityDirectory = 4;
constexpr uint32_t RelocationDirectory = 5;
constexpr uint32_t ResourceCharacteristics = 0x40000040;  // initialized data, readable
constexpr uint32_t HeadReadSize = 0x10000;                // enough for the headers of any usual image
constexpr uint64_t ImageLimit = 0x7FFFFFFF;

uint64_t AlignUp(uint64_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

struct Section {
  uint32_t VirtualSize, VirtualAddress, RawSize, RawPointer;
};

Section SectionAt(const PeImage& image, int i) {
  size_t at = image.SectionTable + size_t(i) * SectionHeaderSize;
  return {Get32(image.Head, at + 8), Get32(image.Head, at + 12), Get32(image.Head, at + 16),
          Get32(image.Head, at + 20)};
}

// The optional header's fields that both formats keep at the same place.
constexpr uint32_t OptSizeOfInitializedData = 8, OptSectionAlignment = 32, OptFileAlignment = 36,
                   OptSizeOfImage = 56, OptSizeOfHeaders = 60, OptCheckSum = 64, OptSubsystem = 68;
// Where the directory count lies: PE32+ has no BaseOfData but 8-byte stack and heap sizes.
uint32_t DirectoryCountField(RunnerArch arch) { return arch == RunnerArch::X64 ? 108 : 92; }

constexpr uint16_t MagicPe32 = 0x10B, MagicPe32Plus = 0x20B;
constexpr uint16_t FileIsDll = 0x2000;
constexpr uint16_t SubsystemGui = 2, SubsystemConsole = 3;

uint32_t DirectoryCount(const PeImage& image) {
  return Get32(image.Head, image.OptionalHeader + DirectoryCountField(image.Arch));
}
size_t DirectoryAt(const PeImage& image, uint32_t index) {
  return image.OptionalHeader + DirectoryCountField(image.Arch) + 4 + index * 8;
}

// The name of a machine that cabpack does not pack, for its message.
std::string MachineName(uint32_t machine) {
  switch (machine) {
    case 0xAA64: return "an ARM64";
    case 0x01C4: return "an ARM";
    case 0x0200: return "an Itanium";
    default: {
      char text[40];
      std::snprintf(text, sizeof text, "a machine 0x%04X", machine);
      return text;
    }
  }
}

// Whether section i holds the base relocations and nothing else that a directory points at.
bool IsRelocationSection(const PeImage& image, int i) {
  Section s = SectionAt(image, i);
  uint64_t end = uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize);
  if (DirectoryCount(image) <= RelocationDirectory ||
      Get32(image.Head, DirectoryAt(image, RelocationDirectory)) != s.VirtualAddress)
    return false;
  for (uint32_t d = 0; d < std::min<uint32_t>(DirectoryCount(image), 16); ++d) {
    uint32_t rva = Get32(image.Head, DirectoryAt(image, d));
    if (d != RelocationDirectory && d != SecurityDirectory && rva >= s.VirtualAddress && rva < end) return false;
  }
  return true;
}

// File offset of `size` bytes at `rva`, or false when they do not lie within one section's file data.
bool RvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, uint64_t& offset) {
  for (int i = 0; i < image.SectionCount; ++i) {
    Section s = SectionAt(image, i);
    if (rva >= s.VirtualAddress && uint64_t(rva) + size <= uint64_t(s.VirtualAddress) + s.RawSize) {
      offset = s.RawPointer + uint64_t(rva - s.VirtualAddress);
      return offset + size <= image.FileSize;
    }
  }
  return false;
}

// Walks the tree in the file with small reads; data up to LargeResourceData is read in.
class TTreeReader {
 public:
  TTreeReader(const PeImage& image, uint64_t base, uint32_t size)
      : Image(image), In(image.File, std::ios::binary), Base(base), Size(size) {}

  bool Read(std::vector<ResourceItem>& items, std::string& error) {
    ResourceItem item;
    if (!Directory(0, 0, item, items)) {
      error = "its resource section is damaged";
      return false;
    }
    return true;
  }

 private:
  // `count` bytes at `at` within the tree's part of the section.
  bool Bytes(uint32_t at, uint32_t count, std::string& out) {
    if (uint64_t(at) + count > Size) return false;
    out.assign(count, '\0');
    return bool(In.seekg(std::streamoff(Base + at)) && In.read(&out[0], count));
  }

  bool Key(uint32_t field, ResourceKey& key) {
    key = ResourceKey();
    if (!(field & 0x80000000)) {
      key.Id = uint16_t(field);
      return true;
    }
    uint32_t at = field & 0x7FFFFFFF;
    std::string length, text;
    if (!Bytes(at, 2, length) || !Bytes(at + 2, 2 * Get16(length, 0), text)) return false;
    key.Named = true;
    for (size_t i = 0; i < text.size(); i += 2) key.Text += char16_t(Get16(text, i));
    return true;
  }

  bool Directory(uint32_t at, int level, ResourceItem& item, std::vector<ResourceItem>& items) {
    std::string head, entries;
    if (level > 2 || ++Visited > 100000 || !Bytes(at, 16, head)) return false;
    uint32_t count = Get16(head, 12) + Get16(head, 14);
    if (!Bytes(at + 16, 8 * count, entries)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t nameField = Get32(entries, 8 * i), target = Get32(entries, 8 * i + 4);
      ResourceKey key;
      if (!Key(nameField, key)) return false;
      if (level == 0) item.Type = key;
      if (level == 1) item.Name = key;
      if (level == 2) item.Language = key.Id;
      bool isDirectory = (target & 0x80000000) != 0;
      if (isDirectory != (level < 2)) return false;
      if (isDirectory) {
        if (!Directory(target & 0x7FFFFFFF, level + 1, item, items)) return false;
      } else if (!Data(target, item, items)) {
        return false;
      }
    }
    return true;
  }

  bool Data(uint32_t at, ResourceItem& item, std::vector<ResourceItem>& items) {
    std::string entry;
    if (!Bytes(at, 16, entry)) return false;
    uint32_t rva = Get32(entry, 0), size = Get32(entry, 4);
    uint64_t offset = 0;
    if (size > 0 && !RvaToOffset(Image, rva, size, offset)) return false;
    item.CodePage = Get32(entry, 8);
    item.Place = {Image.File, offset, size};
    item.Held = size < LargeResourceData;
    item.Data.assign(item.Held ? size : 0, '\0');
    if (item.Held && size > 0 && !(In.seekg(std::streamoff(offset)) && In.read(&item.Data[0], size))) return false;
    items.push_back(item);
    return true;
  }

  const PeImage& Image;
  std::ifstream In;
  uint64_t Base;
  uint32_t Size;
  int Visited = 0;
};

// Names sort before numbers; names by upper-cased text, as the loader searches them.
bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.Named != b.Named) return a.Named;
  if (!a.Named) return a.Id < b.Id;
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  return std::lexicographical_compare(a.Text.begin(), a.Text.end(), b.Text.begin(), b.Text.end(),
                                      [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

struct KeyOrder {
  bool operator()(const ResourceKey& a, const ResourceKey& b) const { return KeyLess(a, b); }
};

// Where data that is not held goes in the section, to be copied there from its file.
struct PlacedData {
  uint64_t At;
  const ResourceItem* Item;
};

// Lays out the tree at `sectionRva`: the returned bytes hold everything up to the end of the held
// data; the data not held follows at the places in `placed`, the section ending at `size`.
std::string WriteTree(const std::vector<ResourceItem>& items, uint32_t sectionRva, std::vector<PlacedData>& placed,
                      uint64_t& size) {
  using Languages = std::map<uint16_t, const ResourceItem*>;
  using Names = std::map<ResourceKey, Languages, KeyOrder>;
  std::map<ResourceKey, Names, KeyOrder> tree;
  for (const ResourceItem& item : items) tree[item.Type][item.Name][item.Language] = &item;

  auto directorySize = [](size_t entries) { return uint32_t(16 + 8 * entries); };
  // First pass: offsets of every directory, then names, data entries and data.
  uint32_t end = directorySize(tree.size());
  for (const auto& type : tree) {
    end += directorySize(type.second.size());
    for (const auto& name : type.second) end += directorySize(name.second.size());
  }
  std::map<std::u16string, uint32_t> nameAt;
  auto placeName = [&](const ResourceKey& key) {
    if (key.Named && !nameAt.count(key.Text)) {
      nameAt[key.Text] = end;
      end += uint32_t(2 + 2 * key.Text.size());
    }
  };
  for (const auto& type : tree) {
    placeName(type.first);
    for (const auto& name : type.second) placeName(name.first);
  }
  end = uint32_t(AlignUp(end, 4));
  uint32_t dataEntries = end;
  end += uint32_t(16 * items.size());
  std::string out(end, '\0');

  uint32_t nextDirectory = 0, nextEntry = dataEntries;
  auto writeDirectory = [&](size_t named, size_t total) {
    uint32_t at = nextDirectory;
    Set16(out, at + 12, uint32_t(named));
    Set16(out, at + 14, uint32_t(total - named));
    nextDirectory += directorySize(total);
    return at;
  };
  auto keyField = [&](const ResourceKey& key) { return key.Named ? (0x80000000 | nameAt[key.Text]) : key.Id; };
  auto countNamed = [](const auto& map) {
    return size_t(std::count_if(map.begin(), map.end(), [](const auto& e) { return e.first.Named; }));
  };

  // Breadth-first, so each directory's children follow it in order.
  uint32_t root = writeDirectory(countNamed(tree), tree.size());
  std::vector<std::pair<uint32_t, const Names*>> typeDirs;
  uint32_t i = 0;
  for (const auto& type : tree) {
    uint32_t dir = writeDirectory(countNamed(type.second), type.second.size());
    Set32(out, root + 16 + 8 * i, keyField(type.first));
    Set32(out, root + 20 + 8 * i, 0x80000000 | dir);
    typeDirs.push_back({dir, &type.second});
    ++i;
  }
  for (const auto& typeDir : typeDirs) {
    i = 0;
    for (const auto& name : *typeDir.second) {
      uint32_t dir = writeDirectory(0, name.second.size());
      Set32(out, typeDir.first + 16 + 8 * i, keyField(name.first));
      Set32(out, typeDir.first + 20 + 8 * i, 0x80000000 | dir);
      uint32_t j = 0;
      for (const auto& language : name.second) {
        Set32(out, dir + 16 + 8 * j, language.first);
        Set32(out, dir + 20 + 8 * j, nextEntry);
        const ResourceItem& item = *language.second;
        Set32(out, nextEntry + 4, uint32_t(item.Size()));
        Set32(out, nextEntry + 8, item.CodePage);
        if (item.Held) {
          out.resize(AlignUp(out.size(), 8), '\0');
          Set32(out, nextEntry, uint32_t(sectionRva + out.size()));
          out += item.Data;
        } else {
          placed.push_back({nextEntry, &item});
        }
        nextEntry += 16;
        ++j;
      }
      ++i;
    }
  }
  for (const auto& name : nameAt) {
    Set16(out, name.second, uint32_t(name.first.size()));
    for (size_t k = 0; k < name.first.size(); ++k) Set16(out, name.second + 2 + 2 * k, name.first[k]);
  }
  size = out.size();
  for (PlacedData& p : placed) {
    uint32_t entry = uint32_t(p.At);
    p.At = AlignUp(size, 8);
    Set32(out, entry, uint32_t(sectionRva + p.At));
    size = p.At + p.Item->Size();
  }
  return out;
}

// Writes the image front to back, keeping the usual PE checksum as it goes: 16-bit words added
// with the carries folded back in, plus the length. The checksum field is written as zero.
class TImageOutput {
 public:
  explicit TImageOutput(std::ostream& out) : Out(out) {}

  void Write(const std::string& bytes) {
    Add(bytes.data(), bytes.size());
    Out.write(bytes.data(), std::streamsize(bytes.size()));
  }
  void ZerosTo(uint64_t end) {
    static const char zeros[4096] = {};
    while (Written < end) {
      size_t count = size_t(std::min<uint64_t>(end - Written, sizeof zeros));
      Add(zeros, count);
      Out.write(zeros, std::streamsize(count));
    }
  }
  bool Copy(const FileSpan& span) {
    return CopySpan(span, Out, [this](const char* data, size_t count) { Add(data, count); });
  }
  uint64_t Size() const { return Written; }
  uint32_t Checksum() const {
    uint64_t sum = Sum;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + Written);
  }

 private:
  void Add(const char* data, size_t count) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    if (count > 0 && (Written & 1)) Sum += uint32_t(p[i++]) << 8;
    for (; i + 1 < count; i += 2) Sum += p[i] | uint32_t(p[i + 1]) << 8;
    if (i < count) Sum += p[i];
    Written += count;
  }

  std::ostream& Out;
  uint64_t Written = 0, Sum = 0;
};

}  // namespace

ResourceKey ResourceId(uint16_t id) {
  ResourceKey key;
  key.Id = id;
  return key;
}

ResourceKey ResourceName(const std::string& asciiName) {
  ResourceKey key;
  key.Named = true;
  for (char c : asciiName) key.Text += char16_t(uint8_t(c));
  return key;
}

std::string ResourceKeyText(const ResourceKey& key) {
  if (!key.Named) return "#" + std::to_string(key.Id);
  std::string text;
  for (char16_t c : key.Text) text += c >= 0x20 && c < 0x7F ? char(c) : '?';
  return text;
}

bool SameResourceKey(const ResourceKey& a, const ResourceKey& b) { return !KeyLess(a, b) && !KeyLess(b, a); }

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
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return false;
  uint32_t pe = Get32(bytes, 0x3C);
  if (uint64_t(pe) + 24 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  uint32_t machine = Get16(bytes, pe + 4), optionalSize = Get16(bytes, pe + 20);
  image.OptionalHeader = pe + 24;
  if (machine != 0x14C && machine != 0x8664) {
    error = MachineName(machine) + " program: cabpack packs x86 (PE32) and x64 (PE32+) runners";
    return false;
  }
  image.Arch = machine == 0x8664 ? RunnerArch::X64 : RunnerArch::X86;
  uint32_t directories = DirectoryCountField(image.Arch) + 4;
  error = std::string("not a valid ") + ArchName(image.Arch) + " program (" + ArchFormatName(image.Arch) + ")";
  if (optionalSize < directories || uint64_t(image.OptionalHeader) + optionalSize > bytes.size() ||
      Get16(bytes, image.OptionalHeader) != (image.Arch == RunnerArch::X64 ? MagicPe32Plus : MagicPe32))
    return false;
  image.Head = bytes;
  if (uint64_t(DirectoryCount(image)) * 8 + directories > optionalSize || DirectoryCount(image) <= SecurityDirectory) {
    error = "its header has no resource or signature directory";
    return false;
  }
  image.SectionCount = uint16_t(Get16(bytes, pe + 6));
  image.SectionTable = image.OptionalHeader + optionalSize;
  uint64_t tableEnd = uint64_t(image.SectionTable) + uint64_t(image.SectionCount) * SectionHeaderSize;
  if (image.SectionCount == 0 || tableEnd > bytes.size()) {
    error = "its section table is damaged";
    return false;
  }
  uint32_t sectionAlignment = Get32(bytes, image.OptionalHeader + OptSectionAlignment);
  uint32_t fileAlignment = Get32(bytes, image.OptionalHeader + OptFileAlignment);
  if (fileAlignment == 0 || sectionAlignment == 0 || (fileAlignment & (fileAlignment - 1)) ||
      (sectionAlignment & (sectionAlignment - 1))) {
    error = "its section alignment is damaged";
    return false;
  }
  // The head runs up to the first section's data; the rest is copied from the file when written.
  uint64_t firstData = Get32(bytes, image.OptionalHeader + OptSizeOfHeaders);
  for (int i = 0; i < image.SectionCount; ++i) {
    Section s = SectionAt(image, i);
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

bool CheckRunnerImage(const PeImage& image, std::string& error) {
  uint32_t characteristics = Get16(image.Head, image.OptionalHeader - 2);
  uint32_t subsystem = Get16(image.Head, image.OptionalHeader + OptSubsystem);
  if (characteristics & FileIsDll)
    error = "a DLL, not a runner program";
  else if (subsystem == SubsystemConsole)
    error = "a console program; a runner is a GUI program";
  else if (subsystem != SubsystemGui)
    error = "not a GUI program (subsystem " + std::to_string(subsystem) + "); a runner is one";
  else
    return true;
  return false;
}

const char* ArchName(RunnerArch arch) { return arch == RunnerArch::X64 ? "x64" : "x86"; }
const char* ArchFormatName(RunnerArch arch) { return arch == RunnerArch::X64 ? "PE32+" : "PE32"; }

bool ParseArch(const std::string& name, RunnerArch& arch) {
  for (RunnerArch a : {RunnerArch::X86, RunnerArch::X64})
    if (name == ArchName(a)) return arch = a, true;
  return false;
}

bool ReadResources(const PeImage& image, std::vector<ResourceItem>& items, std::string& error) {
  items.clear();
  size_t dir = DirectoryAt(image, ResourceDirectory);
  uint32_t rva = Get32(image.Head, dir), size = Get32(image.Head, dir + 4);
  if (rva == 0 && size == 0) return true;
  // The size on record may run past the section's file data (the zero fill); read what is there.
  for (int i = 0; i < image.SectionCount; ++i) {
    Section s = SectionAt(image, i);
    if (rva < s.VirtualAddress || rva - s.VirtualAddress >= s.RawSize) continue;
    uint32_t have = std::min(size, s.RawSize - (rva - s.VirtualAddress));
    return TTreeReader(image, s.RawPointer + uint64_t(rva - s.VirtualAddress), have).Read(items, error);
  }
  error = "its resource directory lies outside its sections";
  return false;
}

bool RebuildResources(const PeImage& image, const std::vector<ResourceItem>& items, std::ostream& out,
                      std::string& error) {
  std::string b = image.Head;
  uint64_t fileEnd = image.FileSize;  // the end of what is kept of the old file
  const uint32_t opt = image.OptionalHeader;
  const uint32_t sectionAlignment = Get32(b, opt + OptSectionAlignment), fileAlignment = Get32(b, opt + OptFileAlignment);

  // A signature cannot survive the change; it is taken off (with its bytes when it ends the file).
  size_t security = DirectoryAt(image, SecurityDirectory);
  uint32_t certificateAt = Get32(b, security), certificateSize = Get32(b, security + 4);
  if (certificateSize > 0 && uint64_t(certificateAt) + certificateSize == fileEnd && certificateAt >= b.size())
    fileEnd = certificateAt;
  Set32(b, security, 0);
  Set32(b, security + 4, 0);

  // Where the new section goes: in place of the old one when that ends the image, or when only
  // the base relocations follow it (they are moved up behind it; nothing refers to their place
  // but their directory entry). Otherwise it is added behind everything.
  size_t resource = DirectoryAt(image, ResourceDirectory);
  uint32_t oldRva = Get32(b, resource);
  int lastInMemory = 0, lastInFile = -1, old = -1, beforeLast = -1;
  uint64_t memoryEnd = 0, rawEnd = 0;
  for (int i = 0; i < image.SectionCount; ++i) {
    Section s = SectionAt(image, i);
    uint64_t end = uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize);
    if (end >= memoryEnd) beforeLast = lastInMemory, memoryEnd = end, lastInMemory = i;
    if (s.RawSize > 0 && uint64_t(s.RawPointer) + s.RawSize >= rawEnd)
      rawEnd = uint64_t(s.RawPointer) + s.RawSize, lastInFile = i;
    if (oldRva != 0 && s.VirtualAddress == oldRva) old = i;
  }
  Section last = SectionAt(image, lastInMemory);
  bool lastEndsFile = (lastInFile == lastInMemory || last.RawSize == 0) &&
                      (last.RawSize == 0 || uint64_t(last.RawPointer) + last.RawSize >= fileEnd);
  int moved = -1;  // the relocation section moved behind the new resources
  if (old >= 0 && old != lastInMemory && old == beforeLast && lastEndsFile && last.RawSize > 0 &&
      IsRelocationSection(image, lastInMemory)) {
    Section o = SectionAt(image, old);
    if (o.RawSize > 0 && AlignUp(uint64_t(o.RawPointer) + o.RawSize, fileAlignment) == last.RawPointer)
      moved = lastInMemory;
  }
  bool inPlace = old >= 0 && (old == lastInMemory ? lastEndsFile : moved >= 0);

  Section fresh{};
  size_t header = 0;
  uint32_t oldRawSize = 0;
  uint64_t keep = fileEnd;  // the old file's bytes up to here stay
  FileSpan tail;
  if (inPlace) {
    Section o = SectionAt(image, old);
    header = image.SectionTable + size_t(old) * SectionHeaderSize;
    fresh.VirtualAddress = o.VirtualAddress;
    fresh.RawPointer = o.RawSize > 0 ? o.RawPointer : uint32_t(AlignUp(fileEnd, fileAlignment));
    keep = std::min<uint64_t>(fresh.RawPointer, fileEnd);
    oldRawSize = o.RawSize;
    if (moved >= 0) tail = {image.File, last.RawPointer, last.RawSize};
  } else {
    header = image.SectionTable + size_t(image.SectionCount) * SectionHeaderSize;
    uint64_t firstData = Get32(b, opt + OptSizeOfHeaders);
    for (int i = 0; i < image.SectionCount; ++i) {
      Section s = SectionAt(image, i);
      if (s.RawSize > 0) firstData = std::min<uint64_t>(firstData, s.RawPointer);
    }
    if (header + SectionHeaderSize > std::min<uint64_t>(firstData, b.size()) ||
        b.find_first_not_of('\0', header) < header + SectionHeaderSize) {
      error = "it has no room in its header for another section";
      return false;
    }
    fresh.VirtualAddress = uint32_t(AlignUp(memoryEnd, sectionAlignment));
    fresh.RawPointer = uint32_t(AlignUp(fileEnd, fileAlignment));
    Set16(b, opt - 20 + 2, image.SectionCount + 1u);
  }
  if (keep < b.size()) {
    error = "its section table is damaged";
    return false;
  }

  std::vector<PlacedData> placed;
  uint64_t sectionSize = 0;
  std::string section = WriteTree(items, fresh.VirtualAddress, placed, sectionSize);
  uint64_t rawSize = AlignUp(sectionSize, fileAlignment);
  uint64_t imageEnd = uint64_t(fresh.VirtualAddress) + sectionSize;
  uint64_t tailRva = AlignUp(imageEnd, sectionAlignment);
  if (moved >= 0) imageEnd = tailRva + std::max(last.VirtualSize, last.RawSize);
  uint64_t imageSize = AlignUp(imageEnd, sectionAlignment);
  if (rawSize + tail.Size + fresh.RawPointer > ImageLimit || imageSize > ImageLimit) {
    error = "the package would be larger than a Windows program can be (2 GB)";
    return false;
  }
  fresh.VirtualSize = uint32_t(sectionSize);
  fresh.RawSize = uint32_t(rawSize);

  if (moved >= 0) {
    size_t at = image.SectionTable + size_t(moved) * SectionHeaderSize;
    Set32(b, at + 12, uint32_t(tailRva));
    Set32(b, at + 20, fresh.RawPointer + fresh.RawSize);
    Set32(b, DirectoryAt(image, RelocationDirectory), uint32_t(tailRva));
  }
  static const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  b.replace(header, 8, name, 8);
  Set32(b, header + 8, fresh.VirtualSize);
  Set32(b, header + 12, fresh.VirtualAddress);
  Set32(b, header + 16, fresh.RawSize);
  Set32(b, header + 20, fresh.RawPointer);
  for (size_t at = header + 24; at < header + 36; ++at) b[at] = '\0';
  Set32(b, header + 36, ResourceCharacteristics);

  Set32(b, opt + OptSizeOfInitializedData, uint32_t(Get32(b, opt + OptSizeOfInitializedData) - oldRawSize + fresh.RawSize));
  Set32(b, opt + OptSizeOfImage, uint32_t(imageSize));
  Set32(b, resource, fresh.VirtualAddress);
  Set32(b, resource + 4, fresh.VirtualSize);
  Set32(b, opt + OptCheckSum, 0);

  // Out in file order: the headers, the kept sections, the new one, the moved relocations.
  TImageOutput written(out);
  written.Write(b);
  bool copied = written.Copy({image.File, b.size(), keep - b.size()});
  written.ZerosTo(fresh.RawPointer);
  written.Write(section);
  for (const PlacedData& p : placed) {
    written.ZerosTo(fresh.RawPointer + p.At);
    copied = copied && written.Copy(p.Item->Place);
  }
  written.ZerosTo(uint64_t(fresh.RawPointer) + fresh.RawSize);
  copied = copied && written.Copy(tail);
  std::string checksum(4, '\0');
  Set32(checksum, 0, written.Checksum());
  if (!copied || !out.seekp(opt + OptCheckSum) || !out.write(checksum.data(), 4) || !out.seekp(0, std::ios::end)) {
    error = out ? "it or the data to go into it cannot be read" : "the package cannot be written";
    return false;
  }
  return true;
}

void RemoveRcData(std::vector<ResourceItem>& items, const std::string& name) {
  ResourceKey type = ResourceId(RtRcData), key = ResourceName(name);
  items.erase(std::remove_if(items.begin(), items.end(),
                             [&](const ResourceItem& i) {
                               return SameResourceKey(i.Type, type) && SameResourceKey(i.Name, key);
                             }),
              items.end());
}

void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const std::string& data) {
  RemoveRcData(items, name);
  ResourceItem item;
  item.Type = ResourceId(RtRcData);
  item.Name = ResourceName(name);
  item.Data = data;
  items.push_back(item);
}

void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const FileSpan& place) {
  PutRcData(items, name, std::string());
  items.back().Place = place;
  items.back().Held = false;
}

const ResourceItem* FindRcData(const std::vector<ResourceItem>& items, const std::string& name) {
  ResourceKey type = ResourceId(RtRcData), key = ResourceName(name);
  for (const ResourceItem& item : items)
    if (SameResourceKey(item.Type, type) && SameResourceKey(item.Name, key)) return &item;
  return nullptr;
}
