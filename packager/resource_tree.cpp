// Resources are read from the image's tree into a flat list of items, and laid out afresh the
// way resource compilers do it: all directories, then the names, the data entries and the data.
// Nothing of the old section is reused, so stale bytes never survive a repack.
#include "packager/resource_tree.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "format/byte_order.h"
#include "format/pe.h"
#include "packager/text.h"

namespace {

// Names sort before numbers; names by upper-cased text, as the loader compares them: ASCII
// letters, and the two letters outside ASCII whose capitals are ASCII (dotless i, long s).
bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.Named != b.Named) return a.Named;
  if (!a.Named) return a.Id < b.Id;
  auto upper = [](char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c == u'\u0131' ? u'I' : c == u'\u017F' ? u'S' : c;
  };
  return std::lexicographical_compare(a.Text.begin(), a.Text.end(), b.Text.begin(), b.Text.end(),
                                      [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

// A runner has a few dozen resources; these bounds keep a hostile tree from taking the memory.
constexpr uint32_t MaxResourceEntries = 1 << 18;      // in all directories together
constexpr uint64_t MaxHeldResourceBytes = 64 << 20;   // names and the data read in

// Walks the tree in the file with small reads; data up to LargeResourceData is read in. The tree
// is read as the loader reads it: the first NamedEntries entries of a directory are names, the
// rest numbers, each part sorted for a binary search; what the loader would not find is damage.
class TTreeReader {
 public:
  TTreeReader(const PeImage& image, uint64_t base, uint32_t size)
      : Image(image), In(image.File, std::ios::binary), Base(base), Size(size) {}

  bool Read(std::vector<ResourceItem>& items, std::string& error) {
    ResourceItem item;
    if (!Directory(0, 0, item, items)) {
      error = Problem.empty() ? "its resource section is damaged" : Problem;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& problem) {
    Problem = problem;
    return false;
  }

  // Counts bytes read into memory against the bound.
  bool Hold(uint64_t bytes) {
    if (bytes > HeldLeft)
      return Fail("its resources hold over " + std::to_string(MaxHeldResourceBytes >> 20) +
                  " MB besides large data; a runner's hold a few hundred KB");
    HeldLeft -= bytes;
    return true;
  }

  // `count` bytes at `at` within the tree's part of the section.
  bool Bytes(uint32_t at, uint32_t count, std::string& out) {
    if (uint64_t(at) + count > Size) return false;
    out.assign(count, '\0');
    return bool(In.seekg(std::streamoff(Base + at)) && In.read(&out[0], count));
  }

  bool Key(uint32_t field, ResourceKey& key) {
    key = ResourceKey();
    if (!(field & PeResourceHigh)) {
      key.Id = uint16_t(field);
      return true;
    }
    uint32_t at = field & ~PeResourceHigh;
    std::string length, text;
    if (!Bytes(at, 2, length) || !Hold(2 * Get16(length, 0)) || !Bytes(at + 2, 2 * Get16(length, 0), text)) return false;
    key.Named = true;
    for (size_t i = 0; i < text.size(); i += 2) key.Text += char16_t(Get16(text, i));
    return true;
  }

  bool Directory(uint32_t at, int level, ResourceItem& item, std::vector<ResourceItem>& items) {
    std::string head, entries;
    if (level > 2 || !Bytes(at, PeResourceDirectory::Size, head)) return false;
    // Directories that share a child, or lead back to one another, would multiply the items.
    if (!Seen.insert(at).second) return Fail("its resource section is damaged: a directory is reached twice");
    uint32_t named = Get16(head, PeResourceDirectory::NamedEntries);
    uint32_t count = named + Get16(head, PeResourceDirectory::IdEntries);
    if (count > EntriesLeft)
      return Fail("its resource section has over " + std::to_string(MaxResourceEntries) +
                  " entries; a runner has a few dozen");
    EntriesLeft -= count;
    if (!Bytes(at + PeResourceDirectory::Size, PeResourceEntry::Size * count, entries)) return false;
    ResourceKey previous;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = PeResourceEntry::Size * i;
      uint32_t nameField = Get32(entries, entry + PeResourceEntry::NameOrId), target = Get32(entries, entry + PeResourceEntry::Target);
      ResourceKey key;
      if (((nameField & PeResourceHigh) != 0) != (i < named) || !Key(nameField, key)) return false;
      if (level == 2 && key.Named) return false;  // languages are numbers
      if (i != 0 && !KeyLess(previous, key))
        return Fail(KeyLess(key, previous)
                        ? "its resource section is damaged: a directory's entries are out of order"
                        : "its resource section holds " + ResourceKeyText(previous) + " and " + ResourceKeyText(key) +
                              " in one directory, which Windows takes for one name");
      previous = key;
      if (level == 0) item.Type = key;
      if (level == 1) item.Name = key;
      if (level == 2) item.Language = key.Id;
      bool isDirectory = (target & PeResourceHigh) != 0;
      if (isDirectory != (level < 2)) return false;
      if (isDirectory) {
        if (!Directory(target & ~PeResourceHigh, level + 1, item, items)) return false;
      } else if (!Data(target, item, items)) {
        return false;
      }
    }
    return true;
  }

  bool Data(uint32_t at, ResourceItem& item, std::vector<ResourceItem>& items) {
    std::string entry;
    if (!Bytes(at, PeResourceData::EntrySize, entry)) return false;
    uint32_t rva = Get32(entry, PeResourceData::Rva), size = Get32(entry, PeResourceData::Size);
    uint64_t offset = 0;
    if (size > 0 && !RvaToOffset(Image, rva, size, offset)) return false;
    item.CodePage = Get32(entry, PeResourceData::CodePage);
    item.Place = {Image.File, offset, size};
    item.Held = size < LargeResourceData;
    if (item.Held && !Hold(size)) return false;
    item.Data.assign(item.Held ? size : 0, '\0');
    if (item.Held && size > 0 && !(In.seekg(std::streamoff(offset)) && In.read(&item.Data[0], size))) return false;
    items.push_back(item);
    return true;
  }

  const PeImage& Image;
  std::ifstream In;
  uint64_t Base;
  uint32_t Size;
  std::set<uint32_t> Seen;
  uint32_t EntriesLeft = MaxResourceEntries;
  uint64_t HeldLeft = MaxHeldResourceBytes;
  std::string Problem;  // a message more precise than "damaged"
};

struct KeyOrder {
  bool operator()(const ResourceKey& a, const ResourceKey& b) const { return KeyLess(a, b); }
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
  return key.Named ? ShownText(Utf16To8(key.Text), true) : "#" + std::to_string(key.Id);
}

bool SameResourceKey(const ResourceKey& a, const ResourceKey& b) { return !KeyLess(a, b) && !KeyLess(b, a); }

bool ReadResources(const PeImage& image, std::vector<ResourceItem>& items, std::string& error) {
  items.clear();
  size_t dir = DirectoryAt(image, PeDirectory::Resource);
  uint32_t rva = Get32(image.Head, dir + PeDirectory::Rva), size = Get32(image.Head, dir + PeDirectory::Size);
  if (rva == 0 && size == 0) return true;
  // The size on record may run past the section's file data (the zero fill); read what is there.
  for (int i = 0; i < image.SectionCount; ++i) {
    PeSectionPlace s = SectionAt(image, i);
    if (rva < s.VirtualAddress || rva - s.VirtualAddress >= s.RawSize) continue;
    uint32_t have = std::min(size, s.RawSize - (rva - s.VirtualAddress));
    return TTreeReader(image, s.RawPointer + uint64_t(rva - s.VirtualAddress), have).Read(items, error);
  }
  error = "its resource directory lies outside its sections";
  return false;
}

// Lays out the tree at `sectionRva`: the returned bytes hold everything up to the end of the held
// data; the data not held follows at the places in `placed`, the section ending at `size`.
std::string LayOutResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva,
                                  std::vector<PlacedData>& placed, uint64_t& size) {
  using Languages = std::map<uint16_t, const ResourceItem*>;
  using Names = std::map<ResourceKey, Languages, KeyOrder>;
  std::map<ResourceKey, Names, KeyOrder> tree;
  for (const ResourceItem& item : items) tree[item.Type][item.Name][item.Language] = &item;

  auto directorySize = [](size_t entries) { return uint32_t(PeResourceDirectory::Size + PeResourceEntry::Size * entries); };
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
  end += uint32_t(PeResourceData::EntrySize * items.size());
  std::string out(end, '\0');

  uint32_t nextDirectory = 0, nextEntry = dataEntries;
  auto writeDirectory = [&](size_t named, size_t total) {
    uint32_t at = nextDirectory;
    Set16(out, at + PeResourceDirectory::NamedEntries, uint32_t(named));
    Set16(out, at + PeResourceDirectory::IdEntries, uint32_t(total - named));
    nextDirectory += directorySize(total);
    return at;
  };
  auto keyField = [&](const ResourceKey& key) { return key.Named ? (PeResourceHigh | nameAt[key.Text]) : key.Id; };
  // Entry i of the directory at `dir`.
  auto setEntry = [&](uint32_t dir, uint32_t i, uint32_t nameOrId, uint32_t target) {
    const size_t at = dir + PeResourceDirectory::Size + PeResourceEntry::Size * i;
    Set32(out, at + PeResourceEntry::NameOrId, nameOrId);
    Set32(out, at + PeResourceEntry::Target, target);
  };
  auto countNamed = [](const auto& map) {
    return size_t(std::count_if(map.begin(), map.end(), [](const auto& e) { return e.first.Named; }));
  };

  // Breadth-first, so each directory's children follow it in order.
  uint32_t root = writeDirectory(countNamed(tree), tree.size());
  std::vector<std::pair<uint32_t, const Names*>> typeDirs;
  uint32_t i = 0;
  for (const auto& type : tree) {
    uint32_t dir = writeDirectory(countNamed(type.second), type.second.size());
    setEntry(root, i, keyField(type.first), PeResourceHigh | dir);
    typeDirs.push_back({dir, &type.second});
    ++i;
  }
  for (const auto& typeDir : typeDirs) {
    i = 0;
    for (const auto& name : *typeDir.second) {
      uint32_t dir = writeDirectory(0, name.second.size());
      setEntry(typeDir.first, i, keyField(name.first), PeResourceHigh | dir);
      uint32_t j = 0;
      for (const auto& language : name.second) {
        setEntry(dir, j, language.first, nextEntry);
        const ResourceItem& item = *language.second;
        Set32(out, nextEntry + PeResourceData::Size, uint32_t(item.Size()));
        Set32(out, nextEntry + PeResourceData::CodePage, item.CodePage);
        if (item.Held) {
          out.resize(AlignUp(out.size(), 8), '\0');
          Set32(out, nextEntry + PeResourceData::Rva, uint32_t(sectionRva + out.size()));
          out += item.Data;
        } else {
          placed.push_back({nextEntry, &item});
        }
        nextEntry += PeResourceData::EntrySize;
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
    Set32(out, entry + PeResourceData::Rva, uint32_t(sectionRva + p.At));
    size = p.At + p.Item->Size();
  }
  return out;
}

namespace {

// The loader finds the raw-data resource `name` under any case of its name, in any language.
bool IsRcDataNamed(const ResourceItem& item, const std::string& name) {
  return SameResourceKey(item.Type, ResourceId(PeResourceRcData)) && SameResourceKey(item.Name, ResourceName(name));
}

}  // namespace

void RemoveRcData(std::vector<ResourceItem>& items, const std::string& name) {
  items.erase(std::remove_if(items.begin(), items.end(), [&](const ResourceItem& i) { return IsRcDataNamed(i, name); }),
              items.end());
}

void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const std::string& data) {
  RemoveRcData(items, name);
  ResourceItem item;
  item.Type = ResourceId(PeResourceRcData);
  item.Name = ResourceName(name);
  item.Data = data;
  items.push_back(item);
}

void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const FileSpan& place) {
  PutRcData(items, name, std::string());
  items.back().Place = place;
  items.back().Held = false;
}

std::vector<const ResourceItem*> RcDataCopies(const std::vector<ResourceItem>& items, const std::string& name) {
  std::vector<const ResourceItem*> copies;
  for (const ResourceItem& item : items)
    if (IsRcDataNamed(item, name)) copies.push_back(&item);
  return copies;
}

const ResourceItem* FindRcData(const std::vector<ResourceItem>& items, const std::string& name) {
  std::vector<const ResourceItem*> copies = RcDataCopies(items, name);
  return copies.empty() ? nullptr : copies[0];
}
