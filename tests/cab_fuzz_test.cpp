// Damaged cabinets, made deterministically from a few good ones: the reader must neither crash
// nor hang nor write outside the destination, and whatever does not come out whole must fail.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <random>

#include "cabinet/cab_reader.h"
#include "sys/paths.h"
#include "tests/cab_test_support.h"

namespace {

struct TEntry {
  uint32_t Size;
  std::string Name;
};

// The file table where cabinet.dll reads it, right behind the folder entries (it does not
// follow the header's table offset); false when it is cut off.
bool ReadTable(const std::string& cab, std::vector<TEntry>& entries) {
  if (cab.size() < CfHeader::Size) return false;
  const unsigned flags = Get16(cab, CfHeader::Flags);
  const unsigned folders = Get16(cab, CfHeader::FolderCount);
  const unsigned count = Get16(cab, CfHeader::FileCount);
  size_t at = CfHeader::Size, folderReserve = 0;
  if (flags & CabFlagReservePresent) {
    if (cab.size() < CfHeader::SizeWithReserve) return false;
    at = CfHeader::SizeWithReserve + Get16(cab, CfHeader::ReservedHeaderBytes);
    folderReserve = uint8_t(cab[CfHeader::ReservedFolderBytes]);
  }
  const int setNames = ((flags & CabFlagPreviousCabinet) ? 2 : 0) + ((flags & CabFlagNextCabinet) ? 2 : 0);
  for (int name = 0; name < setNames; ++name) {
    size_t end = cab.find('\0', at);
    if (end == std::string::npos) return false;
    at = end + 1;
  }
  at += folders * (CfFolder::Size + folderReserve);
  for (unsigned i = 0; i < count; ++i) {
    if (at + CfFile::Name > cab.size()) return false;
    size_t end = cab.find('\0', at + CfFile::Name);
    if (end == std::string::npos) return false;
    // The name as the runner makes it: flagged as UTF-8, as stored; else in the system's code page.
    std::string name = cab.substr(at + CfFile::Name, end - at - CfFile::Name);
    if (!(Get16(cab, at + CfFile::Attributes) & CabAttributeNameIsUtf8)) name = Utf8FromCodePage(name, CP_ACP);
    entries.push_back({Get32(cab, at + CfFile::Size), name});
    at = end + 1;
  }
  return true;
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  TSearchRec rec;
  for (int32_t r = ScanFirst(folder + "\\*", 0x3F, rec); r == 0; r = ScanNext(rec))
    if (rec.EntryName != "." && rec.EntryName != "..") names.push_back(rec.EntryName);
  ScanClose(rec);
  std::sort(names.begin(), names.end());
  return names;
}

// A UTF-8 name in capitals, as Windows compares names.
std::string Upper(const std::string& text) {
  std::wstring wide = WidePath(text);
  CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return Utf8FromWide(wide);
}

struct TVariant {
  std::string What;
  std::string Bytes;
};

// Cuts at many offsets, and flips bytes in the header, the folder entry, the file table and the data.
std::vector<TVariant> DamagedVariants(const std::string& name, const std::string& cab, std::mt19937& random) {
  std::vector<TVariant> variants;
  const TCabLayout layout = LayoutOf(cab);
  const size_t tableStart = Get32(cab, CfHeader::FilesOffset), dataStart = Get32(cab, layout.FolderOffset + CfFolder::DataOffset);
  for (size_t cut = 0; cut < cab.size(); cut += (cut < dataStart + 16 ? 1 : 97))
    variants.push_back({name + " cut at " + std::to_string(cut), cab.substr(0, cut)});
  const struct {
    const char* Region;
    size_t From, To;
    int Count;
  } regions[] = {{"header", 0, layout.FolderOffset, 60},
                 {"folder entry", layout.FolderOffset, tableStart, 40},
                 {"file table", tableStart, dataStart, 80},
                 {"data", dataStart, cab.size(), 80}};
  for (const auto& region : regions) {
    std::uniform_int_distribution<size_t> where(region.From, region.To - 1);
    std::uniform_int_distribution<int> bits(1, 255), howMany(1, 3);
    for (int i = 0; i < region.Count; ++i) {
      std::string bytes = cab;
      std::string what = name + " " + region.Region;
      for (int n = howMany(random); n > 0; --n) {
        size_t at = where(random);
        int mask = bits(random);
        bytes[at] = static_cast<char>(bytes[at] ^ mask);
        what += " " + std::to_string(at) + "^" + std::to_string(mask);
      }
      variants.push_back({what, bytes});
    }
  }
  return variants;
}

TEST(DamagedCabinetFuzz, NoCrashNoEscapeAndIncompleteMeansFailure) {
  TempFolder folder;
  std::string prose;
  for (int i = 0; prose.size() < 40000; ++i) prose += "row " + std::to_string(i * 13 % 701) + ";";
  std::string noise(9000, '\0');
  std::mt19937 random(20240607);
  for (char& c : noise) c = static_cast<char>(random());
  const struct {
    const char* Name;
    std::vector<CabFile> Files;
    CabCompression Compression;
    uint16_t Reserved;
  } bases[] = {
      {"stored", {MakeCabFile("a.txt", prose.substr(0, 5000)), MakeCabFile("sub\\b.bin", noise), MakeCabFile("e", "")},
       CabCompression::None, 0},
      {"mszip", {MakeCabFile("setup.exe", prose, 0x60), MakeCabFile("d\\n.bin", noise)}, CabCompression::Mszip, 0},
      {"reserved", {MakeCabFile("x\\y\\z.txt", prose.substr(0, 3000), 0x21)}, CabCompression::Mszip, 8},
  };

  int variants = 0, extracted = 0;
  for (const auto& base : bases) {
    ASSERT_EQ(MakeCabinet(folder / "base.cab", base.Files, base.Compression, base.Reserved), "");
    const std::string cab = ReadWholeFile(folder / "base.cab");
    DeleteFileA((folder / "base.cab").c_str());
    for (const TVariant& variant : DamagedVariants(base.Name, cab, random)) {
      const std::string box = folder / "box";
      CreateDirectoryA(box.c_str(), nullptr);
      ASSERT_TRUE(WriteTextFile(box + "\\d.cab", variant.Bytes));
      bool expanded = false;
      {
        TCabReader reader;  // gone before the folder is deleted: it holds the flagged file
        reader.CheckCabinet(CabinetBytes(box + "\\d.cab"));
        expanded = reader.Expand(CabinetBytes(box + "\\d.cab"), box + "\\out");
      }
      ++variants;

      const std::vector<std::string> expectedBox = {"d.cab", "out"}, onlyCab = {"d.cab"};
      std::vector<std::string> inBox = NamesIn(box);
      EXPECT_TRUE(inBox == expectedBox || inBox == onlyCab) << variant.What;
      EXPECT_EQ(NamesIn(folder.Path), std::vector<std::string>{"box"}) << variant.What;
      if (expanded) {
        ++extracted;
        // Complete: every file of the table is there, at its size (the last one of a name wins).
        std::vector<TEntry> entries;
        ASSERT_TRUE(ReadTable(variant.Bytes, entries)) << variant.What;
        std::map<std::string, uint32_t> sizes;
        for (const TEntry& entry : entries) sizes[Upper(entry.Name)] = entry.Size;
        for (const auto& [name, size] : sizes) {
          std::string got = ReadWholeFile(box + "\\out\\" + name);
          EXPECT_TRUE(IsExistingFile(box + "\\out\\" + name)) << variant.What << ": " << name;
          EXPECT_EQ(got.size(), size) << variant.What << ": " << name;
        }
      }
      DeleteFolderIfPresent(box);
      ASSERT_FALSE(IsExistingFolder(box)) << variant.What;
    }
  }
  EXPECT_GE(variants, 1000);
  EXPECT_GT(extracted, 0);  // some damage is harmless (a date, a name), and then it extracts
  std::printf("%d damaged variants, %d extracted completely\n", variants, extracted);
}

}  // namespace
