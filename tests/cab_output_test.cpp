// What each extracted file becomes: folders, contents, time stamps, attributes, progress and
// cancellation, the launch name, and the names and cabinets that are refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "cabinet/cab_output.h"
#include "cabinet/cab_reader.h"
#include "sys/paths.h"
#include "tests/cab_test_support.h"

namespace {

constexpr uint16_t Jan1st2000 = (20 << 9) | (1 << 5) | 1;
constexpr uint16_t Noon = 12 << 11;

struct HookCall {
  std::string Target;
  int32_t Done, Total;
  bool TargetExisted, FolderExisted;
};

struct HookRecord {
  std::vector<HookCall>& Calls;
  size_t CancelAt;
};

// Expands with a hook that records its calls and cancels at call number `cancelAt` (1-based).
bool ExpandRecording(TCabReader& reader, const std::string& cab, const std::string& dest,
                     std::vector<HookCall>& calls, size_t cancelAt = 0) {
  reader.CheckCabinet(CabinetBytes(cab));
  HookRecord record{calls, cancelAt};
  reader.OnProgress = [](void* context, const std::string& target, int32_t done, int32_t total, bool& cancel) {
    HookRecord& record = *static_cast<HookRecord*>(context);
    EXPECT_FALSE(cancel);
    record.Calls.push_back({target, done, total, IsExistingFile(target), IsExistingFolder(FolderOfPath(target))});
    if (record.Calls.size() == record.CancelAt) cancel = true;
  };
  reader.ProgressContext = &record;
  return reader.Expand(CabinetBytes(cab), dest);
}

TEST(ExtractionOutput, AttributesAreMaskedAndTheLastFlaggedFileIsRecorded) {
  TempFolder folder;
  const struct {
    const char* Name;
    uint16_t Stored;
    DWORD OnDisk;  // of read-only, hidden, system, archive
  } cases[] = {
      {"run.exe", 0x60, FILE_ATTRIBUTE_ARCHIVE},
      {"hidden-system.dat", 0x26, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
      {"all.dat", 0x27, 0x27},
      {"utf8-flag.txt", 0xA0, FILE_ATTRIBUTE_ARCHIVE},
      {"sub\\second-run.exe", 0x41, FILE_ATTRIBUTE_READONLY},
      {"system.dat", 0x04, FILE_ATTRIBUTE_SYSTEM},
      {"plain.txt", 0x00, 0},
  };
  std::vector<CabFile> files;
  for (const auto& c : cases) files.push_back(MakeCabFile(c.Name, c.Name, c.Stored));
  ASSERT_EQ(MakeCabinet(folder / "a.cab", files), "");
  TCabReader reader;
  ASSERT_TRUE(reader.Expand(CabinetBytes(folder / "a.cab"), folder / "out"));
  for (const auto& c : cases) {
    std::string path = folder / ("out\\" + std::string(c.Name));
    EXPECT_EQ(ReadWholeFile(path), c.Name);
    // Wine marks every file as archive, so only read-only, hidden and system tell.
    EXPECT_EQ(static_cast<DWORD>(ReadAttributes(path)) & 0x07, c.OnDisk & 0x07) << c.Name;
    if (c.OnDisk & FILE_ATTRIBUTE_ARCHIVE) {
      EXPECT_TRUE(ReadAttributes(path) & FILE_ATTRIBUTE_ARCHIVE) << c.Name;
    }
    WriteAttributes(path, FILE_ATTRIBUTE_NORMAL);
  }
  // As stored, relative to the destination, last flagged one in the cabinet's order.
  EXPECT_EQ(reader.LaunchFileName, "sub\\second-run.exe");
}

TEST(ExtractionOutput, DosTimeIsLocalTimeAndSetsCreationAndLastWrite) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "t.cab", {MakeCabFile("t.txt", "t", 0x20, Jan1st2000, Noon)}), "");
  TCabReader reader;
  ASSERT_TRUE(reader.Expand(CabinetBytes(folder / "t.cab"), folder / "out"));
  SYSTEMTIME noon = {2000, 1, 6, 1, 12, 0, 0, 0};
  FILETIME local, expected;
  ASSERT_TRUE(SystemTimeToFileTime(&noon, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  FILETIME creation, access;
  FILETIME write = WriteTimeOf(folder / "out\\t.txt", &creation, &access);
  EXPECT_EQ(CompareFileTime(&write, &expected), 0);
  EXPECT_EQ(CompareFileTime(&creation, &expected), 0);
  EXPECT_NE(CompareFileTime(&access, &expected), 0);  // left as the writing set it
}

TEST(ExtractionOutput, RejectedDateKeepsTheWritingTimeButSetsAttributes) {
  TempFolder folder;
  const uint16_t month13 = (20 << 9) | (13 << 5) | 1;
  FILETIME probe;
  ASSERT_FALSE(DosDateTimeToFileTime(month13, Noon, &probe));
  ASSERT_EQ(MakeCabinet(folder / "t.cab", {MakeCabFile("t.txt", "t", 0x22, month13, Noon)}), "");
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  before.dwLowDateTime = 0;  // file systems may round down
  TCabReader reader;
  ASSERT_TRUE(reader.Expand(CabinetBytes(folder / "t.cab"), folder / "out"));
  FILETIME write = WriteTimeOf(folder / "out\\t.txt");
  EXPECT_GE(CompareFileTime(&write, &before), 0);
  EXPECT_EQ(ReadAttributes(folder / "out\\t.txt") & 0x27, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  WriteAttributes(folder / "out\\t.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(ExtractionOutput, ExistingTargetsAreOverwrittenWholeEvenReadOnlyOrHidden) {
  TempFolder folder;
  CreateDirectoryA((folder / "out").c_str(), nullptr);
  WriteTextFile(folder / "out\\ro.txt", "an old and much longer text");
  WriteAttributes(folder / "out\\ro.txt", FILE_ATTRIBUTE_READONLY);
  WriteTextFile(folder / "out\\hidden.txt", "an old and much longer text");
  WriteAttributes(folder / "out\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(MakeCabinet(folder / "o.cab", {MakeCabFile("ro.txt", "new", 0x21), MakeCabFile("hidden.txt", "new", 0x20)}),
            "");
  for (int round = 0; round < 2; ++round) {
    TCabReader reader;
    EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "o.cab"), folder / "out")) << round;
    EXPECT_EQ(ReadWholeFile(folder / "out\\ro.txt"), "new");
    EXPECT_EQ(ReadWholeFile(folder / "out\\hidden.txt"), "new");
    EXPECT_TRUE(ReadAttributes(folder / "out\\ro.txt") & FILE_ATTRIBUTE_READONLY);  // read-only again
  }
  WriteAttributes(folder / "out\\ro.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(ExtractionOutput, HookIsCalledBeforeEachFileWithRunningTotals) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "h.cab", {MakeCabFile("a.txt", "aaaa"), MakeCabFile("sub\\empty.txt", ""),
                                           MakeCabFile("sub\\b.txt", "bb")}),
            "");
  TCabReader reader;
  std::vector<HookCall> calls;
  ASSERT_TRUE(ExpandRecording(reader, folder / "h.cab", folder / "out", calls));
  const std::string dest = folder / "out\\";
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].Target, dest + "a.txt");
  EXPECT_EQ(calls[0].Done, 4);
  EXPECT_TRUE(calls[0].FolderExisted);  // the destination is made and held before any file
  EXPECT_EQ(calls[1].Target, dest + "sub\\empty.txt");
  EXPECT_EQ(calls[1].Done, 4);
  EXPECT_FALSE(calls[1].FolderExisted);  // a folder of files comes after the announcement
  EXPECT_EQ(calls[2].Done, 6);
  EXPECT_FALSE(calls[2].TargetExisted);
  for (const HookCall& call : calls) EXPECT_EQ(call.Total, 6);
  EXPECT_EQ(ReadWholeFile(dest + "sub\\b.txt"), "bb");
}

TEST(ExtractionOutput, CancelAtTheFirstFileCreatesNothing) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "c.cab", {MakeCabFile("sub\\a.txt", "aaaaa", 0x60), MakeCabFile("b.txt", "b")}), "");
  TCabReader reader;
  std::vector<HookCall> calls;
  EXPECT_TRUE(ExpandRecording(reader, folder / "c.cab", folder / "out", calls, 1));
  EXPECT_EQ(CabLastError, 0);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(reader.DoneBytes, 5);
  EXPECT_FALSE(IsExistingFolder(folder / "out\\sub"));
  EXPECT_FALSE(IsExistingFile(folder / "out\\b.txt"));
  EXPECT_EQ(reader.LaunchFileName, "");
}

TEST(ExtractionOutput, CancelLaterKeepsTheFilesFinishedBefore) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "c.cab", {MakeCabFile("a.txt", "aa"), MakeCabFile("b.txt", "bbb"),
                                           MakeCabFile("c.txt", "c")}),
            "");
  TCabReader reader;
  std::vector<HookCall> calls;
  EXPECT_TRUE(ExpandRecording(reader, folder / "c.cab", folder / "out", calls, 2));
  EXPECT_EQ(ReadWholeFile(folder / "out\\a.txt"), "aa");
  EXPECT_FALSE(IsExistingFile(folder / "out\\b.txt"));
  EXPECT_FALSE(IsExistingFile(folder / "out\\c.txt"));
  EXPECT_EQ(reader.DoneBytes, 5);
}

TEST(ExtractionOutput, WithoutAHookEverythingIsExtracted) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "n.cab", {MakeCabFile("a.txt", "a"), MakeCabFile("b\\c.txt", "c")}), "");
  TCabReader reader;
  ASSERT_FALSE(reader.OnProgress);
  EXPECT_EQ(reader.CheckCabinet(CabinetBytes(folder / "n.cab")), 2);
  EXPECT_TRUE(reader.Expand(CabinetBytes(folder / "n.cab"), folder / "out"));
  EXPECT_EQ(reader.DoneBytes, 2);
  EXPECT_EQ(ReadWholeFile(folder / "out\\b\\c.txt"), "c");
}

TEST(ExtractionOutput, FolderOrFileThatCannotBeMadeFailsTheExpansion) {
  TempFolder folder;
  CreateDirectoryA((folder / "out").c_str(), nullptr);
  WriteTextFile(folder / "out\\blocker", "a file where a folder should be");
  CreateDirectoryA((folder / "out\\folder.txt").c_str(), nullptr);
  ASSERT_EQ(MakeCabinet(folder / "f.cab", {MakeCabFile("blocker\\x.txt", "x")}), "");
  ASSERT_EQ(MakeCabinet(folder / "g.cab", {MakeCabFile("folder.txt", "x")}), "");
  TCabReader reader;
  EXPECT_FALSE(reader.Expand(CabinetBytes(folder / "f.cab"), folder / "out"));
  EXPECT_EQ(CabLastError, -1);
  EXPECT_FALSE(reader.Expand(CabinetBytes(folder / "g.cab"), folder / "out"));
  EXPECT_EQ(CabLastError, ERROR_CANT_ACCESS_FILE);  // not a plain file: never written into
}

TEST(StoredNames, ThoseLeavingTheDestinationAreRefused) {
  const struct {
    const char* Name;
    bool Safe;
  } cases[] = {
      {"a.txt", true}, {"sub\\a.txt", true}, {"sub\\deeper\\a..b.txt", true}, {"..a", true},
      {"", false}, {"..\\a", false}, {"sub\\..\\..\\a", false}, {"sub\\..\\a", false}, {"..", false},
      {"\\a", false}, {"\\\\server\\share\\a", false}, {"C:\\a", false}, {"C:a", false}, {"a:b", false},
      {"../a", false}, {"sub/../../a", false}, {"/a", false}, {". .\\a", false}, {"...\\a", false},
      {"sub\\.\\a", false}, {"sub\\\\a", false}, {"sub\\", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeStoredName(c.Name), c.Safe) << c.Name;
}

TEST(StoredNames, AnUnsafeNameAbandonsTheCopyAndNothingLeavesTheDestination) {
  const char* names[] = {"..\\evil.txt",     "sub\\..\\..\\evil.txt", "\\evil.txt",  "\\\\localhost\\C$\\evil.txt",
                         "C:\\evil.txt",    "C:evil.txt",            "a:evil.txt",  "../evil.txt",
                         "sub/../../evil.txt", "/evil.txt",          ". .\\evil.txt", "...",
                         "CON",             "sub\\NUL.txt"};  // devices, not files in the folder
  for (const char* name : names) {
    TempFolder folder;
    CreateDirectoryA((folder / "box").c_str(), nullptr);
    ASSERT_EQ(MakeCabinet(folder / "e.cab", {MakeCabFile("first.txt", "1"), MakeCabFile(name, "evil", 0x60),
                                             MakeCabFile("after.txt", "2")}),
              "");
    TCabReader reader;
    std::vector<HookCall> calls;
    EXPECT_FALSE(ExpandRecording(reader, folder / "e.cab", folder / "box\\out", calls)) << name;
    EXPECT_EQ(CabLastError, ERROR_INVALID_NAME) << name;
    EXPECT_EQ(calls.size(), 1u) << name;
    EXPECT_EQ(ReadWholeFile(folder / "box\\out\\first.txt"), "1") << name;
    EXPECT_FALSE(IsExistingFile(folder / "box\\out\\after.txt")) << name;
    EXPECT_FALSE(IsExistingFile(folder / "box\\evil.txt")) << name;
    EXPECT_FALSE(IsExistingFile(folder / "evil.txt")) << name;
    EXPECT_FALSE(IsExistingFile("C:\\evil.txt")) << name;
    EXPECT_EQ(reader.LaunchFileName, "") << name;
  }
}

// A name flagged as UTF-8 comes out under its own name (expected, in UTF-8) on every system, or
// is refused with error, nothing of it written: not UTF-8, or a name that a program of the system's
// code page would read as another path (its ANSI functions spell names with best fit).
struct Utf8NameCase {
  const char* Stored;
  const char* Expected;  // null: refused
  int32_t Error;
};

void ExpectUtf8Names(UINT codePage, const std::vector<Utf8NameCase>& cases) {
  ASSERT_EQ(GetACP(), codePage);
  for (const auto& c : cases) {
    TempFolder folder;
    ASSERT_EQ(MakeCabinet(folder / "u.cab", {MakeCabFile("first.txt", "1"), MakeCabFile(c.Stored, "u", 0xE0),
                                             MakeCabFile("after.txt", "2")}),
              "");
    TCabReader reader;
    bool expanded = reader.Expand(CabinetBytes(folder / "u.cab"), folder / "out");
    std::map<std::string, bool> written;
    ListTree(folder / "out", written);
    if (c.Expected) {
      EXPECT_TRUE(expanded) << c.Stored << ", error " << CabLastError;
      EXPECT_EQ(ReadWholeFile(folder / ("out\\" + std::string(c.Expected))), "u") << c.Stored;
      EXPECT_EQ(reader.LaunchFileName, c.Expected) << c.Stored;
      EXPECT_EQ(written.size(), 3u + std::count(c.Expected, c.Expected + strlen(c.Expected), '\\')) << c.Stored;
    } else {
      EXPECT_FALSE(expanded) << c.Stored;
      EXPECT_EQ(CabLastError, c.Error) << c.Stored;
      EXPECT_EQ(reader.RefusedFile, c.Stored) << c.Stored;
      EXPECT_EQ(written.size(), 1u) << c.Stored;
      EXPECT_EQ(written.count("first.txt"), 1u) << c.Stored;
      EXPECT_EQ(reader.LaunchFileName, "") << c.Stored;
    }
  }
}

TEST(StoredNames, Utf8NamesInTheWesternCodePage) {
  ExpectUtf8Names(1252, {
      {"café.txt", "café.txt", 0},
      {"ré\\sumé.txt", "ré\\sumé.txt", 0},
      {"¥.txt", "¥.txt", 0},
      {"ファーム.bin", "ファーム.bin", 0},
      {"한국어.txt", "한국어.txt", 0},
      {"Ā.txt", "Ā.txt", 0},  // a program of the code page reads "A.txt": another name, no other place
      // Best fit would make this "..\\evil.txt".
      {"．．＼evil.txt", nullptr, ERROR_NO_UNICODE_TRANSLATION},
      {"caf\xE9.txt", nullptr, ERROR_NO_UNICODE_TRANSLATION},     // not UTF-8
      {"caf\xC0\xA9.txt", nullptr, ERROR_NO_UNICODE_TRANSLATION},  // overlong
      {"..\\café.txt", nullptr, ERROR_INVALID_NAME},
      {"data\\com1.log", nullptr, ERROR_INVALID_NAME},
  });
}

TEST(StoredNames, Utf8NamesInTheJapaneseSystemCodePage) {
  ExpectUtf8Names(932, {
      {"ファーム.bin", "ファーム.bin", 0},
      {"データ\\ファーム.bin", "データ\\ファーム.bin", 0},
      {"．．＼evil.txt", "．．＼evil.txt", 0},  // full-width, spelled as such: one plain name
      {"café.txt", "café.txt", 0},
      {"ソフト.exe", "ソフト.exe", 0},  // its trail byte 0x5C is no separator to the wide functions
      {"한국어.txt", "한국어.txt", 0},
      // Best fit would make "¥" a backslash.
      {"a¥..¥..¥evil.txt", nullptr, ERROR_NO_UNICODE_TRANSLATION},
      {"..\\ファーム.bin", nullptr, ERROR_INVALID_NAME},
      {"ＣＯＮ\\CON.txt", nullptr, ERROR_INVALID_NAME},
  });
}

// Damage that cabinet.dll finds by itself must not pass as a finished expansion.
TEST(DamagedCabinets, AreNotReportedAsExtracted) {
  TempFolder folder;
  std::string data;
  for (int i = 0; data.size() < 80000; ++i) data += std::to_string(i * 31 % 1009) + ",";
  const std::vector<CabFile> files = {MakeCabFile("a.txt", "small"), MakeCabFile("b.txt", data)};
  ASSERT_EQ(MakeCabinet(folder / "stored.cab", files, CabCompression::None), "");
  ASSERT_EQ(MakeCabinet(folder / "zip.cab", files, CabCompression::Mszip), "");
  const std::string stored = ReadWholeFile(folder / "stored.cab");
  const std::string zip = ReadWholeFile(folder / "zip.cab");
  const size_t storedFolder = LayoutOf(stored).FolderOffset, zipFolder = LayoutOf(zip).FolderOffset;

  struct Case {
    const char* What;
    std::string Bytes;
  };
  std::vector<Case> cases;
  std::string flipped = stored;
  flipped[stored.size() - 1000] ^= 0x01;
  cases.push_back({"stored data with a bad checksum", flipped});
  flipped = zip;
  flipped[zip.size() - 100] ^= 0x40;
  cases.push_back({"compressed data with a bad checksum", flipped});
  std::string unchecked = zip;
  Set32(unchecked, Get32(zip, zipFolder + CfFolder::DataOffset) + CfData::Checksum, 0);  // no checksum: the deflate data itself is damaged
  unchecked[Get32(zip, zipFolder + CfFolder::DataOffset) + CfData::Size + 2] ^= 0xFF;
  cases.push_back({"damaged deflate data", unchecked});
  cases.push_back({"stored, cut in its data", stored.substr(0, stored.size() - 5000)});
  cases.push_back({"compressed, cut in its data", zip.substr(0, zip.size() - 300)});
  std::string unknown = stored;
  Set16(unknown, storedFolder + CfFolder::Compression, 0x000F);
  cases.push_back({"unknown compression", unknown});
  std::string partial = stored;
  Set16(partial, LayoutOf(stored).Entries[1] + CfFile::FolderIndex, 0xFFFD);  // continued from a previous cabinet
  cases.push_back({"file continued from a previous cabinet", partial});

  for (const Case& c : cases) {
    WriteTextFile(folder / "d.cab", c.Bytes);
    TCabReader reader;
    EXPECT_FALSE(reader.Expand(CabinetBytes(folder / "d.cab"), folder / "out")) << c.What;
    EXPECT_NE(CabLastError, 0) << c.What;
    DeleteFolderIfPresent(folder / "out");
  }
}

// A cabinet that asks for the next one of a set: the copy ends there, even with that file present.
TEST(DamagedCabinets, ARequestForANextCabinetFails) {
  TempFolder folder;
  ASSERT_EQ(MakeCabinet(folder / "s.cab", {MakeCabFile("a.txt", std::string(100000, 'a'))}, CabCompression::None), "");
  std::string cab = ReadWholeFile(folder / "s.cab");
  const std::string names("next.cab\0disk 2\0", 16);
  const size_t folderOffset = LayoutOf(cab).FolderOffset;
  cab.insert(CfHeader::Size, names);
  Set16(cab, CfHeader::Flags, CabFlagNextCabinet);
  Set32(cab, CfHeader::FilesOffset, Get32(cab, CfHeader::FilesOffset) + names.size());
  Set32(cab, CfHeader::CabinetSize, Get32(cab, CfHeader::CabinetSize) + names.size());
  const size_t movedFolder = folderOffset + names.size();
  const size_t block = Get32(cab, movedFolder + CfFolder::DataOffset) + names.size();
  Set32(cab, movedFolder + CfFolder::DataOffset, block);
  Set32(cab, block + CfData::Checksum, 0);
  Set16(cab, block + CfData::UncompressedSize, 0);  // the block goes on in the next cabinet
  WriteTextFile(folder / "first.cab", cab);
  CopyFileA((folder / "s.cab").c_str(), (folder / "next.cab").c_str(), FALSE);
  TCabReader reader;
  EXPECT_FALSE(reader.Expand(CabinetBytes(folder / "first.cab"), folder / "out"));
  EXPECT_NE(CabLastError, 0);
}

TEST(Notifications, OnlyFilesAreAnsweredAndOtherCabinetsAreRefused) {
  TCabReader reader;
  const struct {
    int Kind;
    INT_PTR Result;
    int32_t Error;
  } cases[] = {
      {fdintCABINET_INFO, 0, 0},  {fdintENUMERATE, 0, 0},          {0x42, 0, 0},
      {0x100, 0, 0},              {fdintPARTIAL_FILE, -1, ERROR_INVALID_DATA},
      {fdintNEXT_CABINET, -1, ERROR_INVALID_DATA},
  };
  for (const auto& c : cases) {
    CabLastError = 0;
    FDINOTIFICATION record{};
    char name[] = "next.cab";
    record.psz1 = name;
    record.pv = &reader;
    EXPECT_EQ(HandleNotification(reader, static_cast<FDINOTIFICATIONTYPE>(c.Kind), record), c.Result) << c.Kind;
    EXPECT_EQ(CabLastError, c.Error) << c.Kind;
  }
}

}  // namespace
