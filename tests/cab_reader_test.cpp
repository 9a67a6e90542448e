// The cabinet reader with the real cabinet.dll: the quick check and the expansion of cabinets made
// by our writer, read from memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "cabinet/cab_reader.h"
#include "cabinet/raw_file.h"
#include "packager/lzx_encoder.h"
#include "sys/paths.h"
#include "sys/system.h"
#include "tests/cab_test_support.h"

namespace {

TEST(Reader, TakesCabinetDllFromTheSystemFolder) {
  TCabReader reader;
  ASSERT_NE(reader.Context, nullptr);
  EXPECT_EQ(reader.TotalBytes, 0);
  EXPECT_EQ(reader.DoneBytes, 0);
  EXPECT_EQ(reader.LaunchFileName, "");
  EXPECT_FALSE(reader.OnProgress);
  char path[MAX_PATH] = "";
  GetModuleFileNameA(GetModuleHandleA("cabinet.dll"), path, MAX_PATH);
  EXPECT_TRUE(EqualsIgnoringCase(path, WithTrailingBackslash(SystemFolder()) + "cabinet.dll")) << path;
}

TEST(CheckCabinet, GivesTheSumOfTheFileSizesOrZero) {
  TempFolder folder;
  const std::vector<CabFile> three = {MakeCabFile("a", std::string(10, 'a')), MakeCabFile("d\\b", ""),
                                      MakeCabFile("c", std::string(70000, 'c'))};
  ASSERT_EQ(MakeCabinet(folder / "three.cab", three), "");
  ASSERT_EQ(MakeCabinet(folder / "reserved.cab", three, CabCompression::None, 200), "");
  ASSERT_EQ(MakeCabinet(folder / "none.cab", {}), "");
  ASSERT_EQ(MakeCabinet(folder / "empty.cab", {MakeCabFile("a", ""), MakeCabFile("b", "")}), "");
  const std::string cab = ReadWholeFile(folder / "three.cab");
  const TCabLayout layout = LayoutOf(cab);
  ASSERT_EQ(layout.Entries.size(), 3u);
  WriteTextFile(folder / "header-cut-short.cab", cab.substr(0, CfHeader::Size - 1));
  WriteTextFile(folder / "wrong-signature.cab", "MSCG" + cab.substr(4));
  // Only the header and the file table are read: the data may be missing.
  WriteTextFile(folder / "data-missing.cab", cab.substr(0, layout.Entries[2] + CfFile::Name + 2));
  WriteTextFile(folder / "last-entry-cut-in-its-fields.cab", cab.substr(0, layout.Entries[2] + CfFile::Name - 1));
  WriteTextFile(folder / "last-entry-cut-in-its-name.cab", cab.substr(0, layout.Entries[2] + CfFile::Name));
  std::string wrapped = cab;
  Set32(wrapped, layout.Entries[0] + CfFile::Size, 0x7FFFFFF0);
  Set32(wrapped, layout.Entries[2] + CfFile::Size, 0x10);  // 2^31 exactly
  WriteTextFile(folder / "sizes-add-up-to-2GB.cab", wrapped);
  std::string beyond = cab;
  Set32(beyond, CfHeader::FilesOffset, 0x00100000);
  WriteTextFile(folder / "file-table-past-the-end.cab", beyond);
  // 0xFFFFFFFF is also the value with which the move reports its failure.
  std::string unreachable = cab;
  Set32(unreachable, CfHeader::FilesOffset, 0xFFFFFFFF);
  WriteTextFile(folder / "file-table-at-4GB.cab", unreachable);
  // A file whose folder index points past the cabinet's only folder, or into another cabinet.
  std::string folderPastEnd = cab, continued = cab;
  Set16(folderPastEnd, layout.Entries[2] + CfFile::FolderIndex, 1);
  Set16(continued, layout.Entries[0] + CfFile::FolderIndex, 0xFFFD);
  WriteTextFile(folder / "folder-index-past-end.cab", folderPastEnd);
  WriteTextFile(folder / "folder-continued-from-before.cab", continued);

  const struct {
    const char* Name;
    int32_t Expected;
  } cases[] = {
      {"missing.cab", 0},     {"header-cut-short.cab", 0},       {"wrong-signature.cab", 0},    {"none.cab", 0},
      {"empty.cab", 0},       {"three.cab", 70010},   {"reserved.cab", 70010}, {"data-missing.cab", 70010},
      {"last-entry-cut-in-its-fields.cab", 10},  {"last-entry-cut-in-its-name.cab", 10},   {"sizes-add-up-to-2GB.cab", INT32_MIN}, {"file-table-past-the-end.cab", 0},
      {"file-table-at-4GB.cab", 0}, {"folder-index-past-end.cab", 0}, {"folder-continued-from-before.cab", 0},
  };
  for (const auto& c : cases) {
    TCabReader reader;
    ASSERT_NE(reader.Context, nullptr);
    EXPECT_EQ(reader.CheckCabinet(CabinetBytes(folder / c.Name)), c.Expected) << c.Name;
    EXPECT_EQ(reader.TotalBytes, c.Expected) << c.Name;
  }
}

TEST(CheckCabinet, ResetsTheTotal) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "a.cab", {MakeCabFile("a", "12345")}), "");
  TCabReader reader;
  EXPECT_EQ(reader.CheckCabinet(CabinetBytes(folder / "a.cab")), 5);
  EXPECT_EQ(reader.CheckCabinet(CabinetBytes(folder / "missing.cab")), 0);
  EXPECT_EQ(reader.TotalBytes, 0);
  EXPECT_EQ(reader.CheckCabinet(CabinetBytes(folder / "a.cab")), 5);
}

struct ExpandCase {
  const char* What;
  CabCompression Compression;
  uint16_t Reserved;
  unsigned LzxWindowBits = 21;
};

class ExpandFormats : public ::testing::TestWithParam<ExpandCase> {};

// Our writer's cabinets, read by cabinet.dll itself, come out byte for byte.
TEST_P(ExpandFormats, EveryFileComesOutByteForByte) {
  TempFolder folder;
  std::string random(200000, '\0');
  uint32_t x = 12345;
  for (char& c : random) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  std::string prose;
  for (int i = 0; prose.size() < 100000; ++i) prose += "entry " + std::to_string(i % 977) + "\r\n";
  const std::vector<CabFile> files = {
      MakeCabFile("setup.exe", prose, 0x60), MakeCabFile("data\\random.bin", random),
      MakeCabFile("data\\deep\\er\\empty.txt", ""), MakeCabFile("one.txt", "1"),
      MakeCabFile("blocks.bin", std::string(65536, 'z'))};
  ASSERT_EQ(MakeCabinet(folder / "p.cab", files, GetParam().Compression, GetParam().Reserved, GetParam().LzxWindowBits),
            "");
  TCabReader reader;
  ASSERT_GT(reader.CheckCabinet(CabinetBytes(folder / "p.cab")), 0);
  std::vector<std::string> announced;
  reader.OnProgress = [](void* announced, const std::string& target, int32_t, int32_t, bool&) {
    static_cast<std::vector<std::string>*>(announced)->push_back(target);
  };
  reader.ProgressContext = &announced;
  EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "p.cab"), folder / "out"));
  EXPECT_EQ(CabLastError, 0);
  ASSERT_EQ(announced.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(announced[i], folder / ("out\\" + files[i].Name));
    EXPECT_EQ(ReadWholeFile(announced[i]), files[i].Data) << files[i].Name;
  }
  EXPECT_EQ(reader.DoneBytes, reader.TotalBytes);
  EXPECT_EQ(reader.LaunchFileName, "setup.exe");
}

INSTANTIATE_TEST_SUITE_P(Cabinet, ExpandFormats,
                         ::testing::Values(ExpandCase{"stored", CabCompression::None, 0},
                                           ExpandCase{"mszip", CabCompression::Mszip, 0},
                                           ExpandCase{"stored reserved", CabCompression::None, 32},
                                           ExpandCase{"mszip reserved", CabCompression::Mszip, 1},
                                           ExpandCase{"lzx 2^15", CabCompression::Lzx, 0, 15},
                                           ExpandCase{"lzx 2^21 reserved", CabCompression::Lzx, 4, 21}));

// Random folders from a fixed seed, LZX of every window size and MSZIP with its history across
// blocks, expanded by cabinet.dll: copies from near and far, runs, x86 calls and noise, split
// into files at random places, so that blocks end inside files.
TEST(Expand, RandomLzxAndMszipFoldersComeOutByteForByte) {
  TempFolder folder;
  uint32_t seed = 20261207;
  auto next = [&seed]() { return (seed = seed * 1103515245 + 12345) >> 8; };
  for (int round = 0; round < 14; ++round) {
    std::string data;
    const size_t size = 1 + next() % 300000;
    while (data.size() < size) {
      const size_t piece = 1 + next() % 5000;
      switch (next() % 5) {
        case 0: for (size_t i = 0; i < piece; ++i) data += static_cast<char>(next()); break;
        case 1: data.append(piece, static_cast<char>(next())); break;
        case 2: for (size_t i = 0; i < piece / 5; ++i) data += "\xE8" + std::to_string(next()).substr(0, next() % 5); break;
        default:
          if (!data.empty()) {
            const size_t from = next() % data.size();
            data += data.substr(from, std::min(piece, data.size() - from));
          }
      }
    }
    std::vector<CabFile> files;
    for (size_t at = 0, i = 0; at < data.size() || files.empty(); ++i) {
      const size_t take = std::min(data.size() - at, size_t(next() % 90000));
      files.push_back(MakeCabFile("r" + std::to_string(i), data.substr(at, take), i == 0 ? 0x60 : 0x20));
      at += take;
    }
    const unsigned window = 15 + round % 7;
    const CabCompression compression = round % 7 == 6 ? CabCompression::Mszip : CabCompression::Lzx;
    SCOPED_TRACE("round " + std::to_string(round) + ", window 2^" + std::to_string(window));
    ASSERT_EQ(MakeCabinet(folder / "r.cab", files, compression, 0, window), "");
    TCabReader reader;
    ASSERT_GT(reader.CheckCabinet(CabinetBytes(folder / "r.cab")), 0);
    ASSERT_TRUE(reader.Expand(CabinetBytes(folder / "r.cab"), folder / "out"));
    for (const CabFile& file : files) EXPECT_EQ(ReadWholeFile(folder / ("out\\" + file.Name)), file.Data) << file.Name;
    DeleteFolderIfPresent(folder / "out");
  }
}

// What cabextract and 7-Zip read back on the host (tests/host/cab_writer_test.cpp), cabinet.dll
// reads back too: at every window, a match at the farthest distance the encoder uses after the
// window has wrapped, and the eight first of Wine's 64-bit DLLs up to 2 MB; with the lazy parse
// at every window, with the near-optimal one at the smallest and the largest.
TEST(Expand, FarthestMatchesAndProgramsAtEveryWindow) {
  const std::string dlls = "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows\\";
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((dlls + "*.dll").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no Wine DLLs in " << dlls;
  do
    if (entry.nFileSizeHigh == 0 && entry.nFileSizeLow <= (2u << 20)) names.push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  names.resize(std::min<size_t>(names.size(), 8));
  TempFolder folder;
  uint32_t seed = 7;
  auto noise = [&seed](size_t count) {
    std::string data(count, '\0');
    for (char& c : data) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    return data;
  };
  for (unsigned bits = CabLzxMinWindowBits; bits <= CabLzxMaxWindowBits; ++bits)
  for (LzxParse parse : {LzxParse::Lazy, LzxParse::Optimal}) {
    if (parse == LzxParse::Optimal && bits != CabLzxMinWindowBits && bits != CabLzxMaxWindowBits) continue;
    const std::string piece = noise(300);
    std::string distant = noise(size_t(1) << bits) + piece;
    for (int i = 0; distant.size() < (size_t(1) << bits) + LzxMaxDistance(bits); ++i) distant += "line " + std::to_string(i) + "\r\n";
    distant.resize((size_t(1) << bits) + LzxMaxDistance(bits));
    std::vector<CabFile> files = {MakeCabFile("far.bin", distant + piece, 0x60)};
    for (const std::string& name : names) files.push_back(MakeCabFile(name, ReadWholeFile(dlls + name)));
    SCOPED_TRACE("window 2^" + std::to_string(bits) + (parse == LzxParse::Optimal ? ", near-optimal parse" : ""));
    ASSERT_EQ(MakeCabinet(folder / "w.cab", files, CabCompression::Lzx, 0, bits, parse), "");
    TCabReader reader;
    ASSERT_GT(reader.CheckCabinet(CabinetBytes(folder / "w.cab")), 0);
    ASSERT_TRUE(reader.Expand(CabinetBytes(folder / "w.cab"), folder / "out"));
    for (const CabFile& file : files)
      EXPECT_TRUE(ReadWholeFile(folder / ("out\\" + file.Name)) == file.Data) << file.Name << " differs";
    DeleteFolderIfPresent(folder / "out");
  }
}

TEST(Expand, DestinationEndsInOneBackslash) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "r.cab", {MakeCabFile("a.txt", "A")}), "");
  for (const std::string& dest : {folder / "one", folder / "two\\"}) {
    TCabReader reader;
    EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "r.cab"), dest)) << dest;
    EXPECT_EQ(reader.DestFolder, WithoutTrailingBackslash(dest) + "\\");
    EXPECT_EQ(ReadWholeFile(WithTrailingBackslash(dest) + "a.txt"), "A");
  }
}

TEST(Expand, NoCabinetIsADamagedOne) {
  TempFolder folder;
  TCabReader reader;
  EXPECT_FALSE(reader.Expand(CabinetBytes(folder / "missing.cab"), folder / "out"));
  EXPECT_EQ(CabLastError, ERROR_INVALID_DATA);
}

// The flagged file is named, and held from its writing (also when files follow it): nobody may
// change, rename or delete it until whoever takes the handle has started it.
TEST(Expand, FlaggedFileIsNamedAndHeld) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "plain.cab", {MakeCabFile("a.txt", "A")}), "");
  ASSERT_EQ(MakeCabinet(folder / "flagged.cab", {MakeCabFile("bin\\run.exe", "MZ", 0x40), MakeCabFile("b", "B")}), "");
  TCabReader reader;
  EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "plain.cab"), folder / "out"));
  EXPECT_EQ(reader.LaunchFileName, "");
  EXPECT_EQ(reader.LaunchFileHold, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "flagged.cab"), folder / "out"));
  EXPECT_EQ(reader.LaunchFileName, "bin\\run.exe");
  const std::string flagged = folder / "out\\bin\\run.exe";
  ASSERT_NE(reader.LaunchFileHold, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsSameFile(reader.LaunchFileHold, flagged));
  EXPECT_FALSE(DeleteFileA(flagged.c_str()));
  HANDLE writer = CreateFileA(flagged.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_EQ(ReadWholeFile(flagged), "MZ");  // readers are welcome
  EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "plain.cab"), folder / "out"));
  EXPECT_EQ(reader.LaunchFileName, "bin\\run.exe");
}

}  // namespace
