// Runs as a package that cabpack made from this very program: it looks up its own "CAB" and
// "OPT" the way the runner does, reads the options with the runner's own code, expands the
// cabinet through cabinet.dll and compares every file with the folder it was packed from.
// Arguments: SOURCE_FOLDER RUN_PATH OPTIONS [ICON_FILE VERSION_TEXT...], OPTIONS as
// "Name=1,Name=0" (the rest: defaults), each VERSION_TEXT "Key=Value": the icon and the texts
// it was packed with, read back through Windows' own version and icon functions.
#include <windows.h>

#include <fcntl.h>
#include <fdi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "format/package_options.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "tests/test_support.h"

namespace {

std::string SourceFolder, RunPath, ExpectedOptions, IconFile;
std::vector<std::string> VersionTexts;

std::string OwnResource(const char* name, LPCSTR type) {
  HRSRC info = FindResourceA(nullptr, name, type);
  if (!info) return std::string();
  HGLOBAL handle = LoadResource(nullptr, info);
  const char* data = handle ? static_cast<const char*>(LockResource(handle)) : nullptr;
  return data ? std::string(data, SizeofResource(nullptr, info)) : std::string();
}

// Every file under `folder` with its contents, by relative name.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, bool> entries;
  ListTree(folder, entries);
  std::map<std::string, std::string> files;
  for (const auto& entry : entries)
    if (!entry.second) files[entry.first] = ReadWholeFile(folder + "\\" + entry.first);
  return files;
}
// A bare FDI client: files go to Destination, each file's stored facts into Facts.
struct FileFacts {
  USHORT Date = 0, Time = 0, Attributes = 0;
  bool Run = false;
};
std::string Destination;
std::map<std::string, FileFacts> Facts;

FNALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFREE(Free) { HeapFree(GetProcessHeap(), 0, pv); }
FNOPEN(Open) {
  DWORD access = (oflag & 3) == _O_RDONLY ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = CreateFileA(pszFile, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  (void)pmode;
  return h == INVALID_HANDLE_VALUE ? -1 : INT_PTR(h);
}
FNREAD(Read) {
  DWORD n = 0;
  return ReadFile(HANDLE(hf), pv, cb, &n, nullptr) ? UINT(n) : UINT(-1);
}
FNWRITE(Write) {
  DWORD n = 0;
  return WriteFile(HANDLE(hf), pv, cb, &n, nullptr) ? UINT(n) : UINT(-1);
}
FNCLOSE(Close) { return CloseHandle(HANDLE(hf)) ? 0 : -1; }
FNSEEK(Seek) { return LONG(SetFilePointer(HANDLE(hf), dist, nullptr, DWORD(seektype))); }
FNFDINOTIFY(Notify) {
  if (fdint == fdintCOPY_FILE) {
    std::string target = Destination + "\\" + pfdin->psz1;
    MakeFolders(FolderOfPath(target));
    return Open(const_cast<char*>(target.c_str()), _O_WRONLY | _O_CREAT, 0);
  }
  if (fdint == fdintCLOSE_FILE_INFO) {
    Close(pfdin->hf);
    Facts[pfdin->psz1] = {pfdin->date, pfdin->time, pfdin->attribs, (pfdin->cb & 1) != 0};
    return TRUE;
  }
  return 0;
}

}  // namespace

TEST(PackedProgram, FindsItsCabinetAndOptionList) {
  std::string cab = OwnResource("CAB", RT_RCDATA);
  ASSERT_GE(cab.size(), 36u);
  EXPECT_EQ(cab.substr(0, 4), "MSCF");
  std::string opt = OwnResource("OPT", RT_RCDATA);
  ASSERT_GE(opt.size(), 1u);
  EXPECT_EQ(opt.back(), '\0');
}

TEST(PackedProgram, OptionListSetsTheRunnersOptions) {
  DecodeProtectedStrings();
  ReadOptionResource();
  const TPackageOptions defaults;
  for (int i = 0; i < PackageOptionCount; ++i) {
    std::string name = PackageOptionTexts[i].Name;
    bool expected = PackageOptionKeys[i].In(defaults);
    size_t at = ("," + ExpectedOptions + ",").find("," + name + "=");
    if (at != std::string::npos) expected = ExpectedOptions[at + name.size() + 1] == '1';
    EXPECT_EQ(PackageOptionKeys[i].In(PackageOptions), expected) << name;
  }
}

TEST(PackedProgram, KeepsItsOtherResources) {
  EXPECT_EQ(OwnResource("KEEP", RT_RCDATA), std::string("kept as it was\0", 15));
  EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_VERSION), nullptr);
  EXPECT_NE(OwnResource(MAKEINTRESOURCEA(1), RT_MANIFEST).find("assemblyIdentity"), std::string::npos);
  char text[64] = {};
  EXPECT_GT(LoadStringA(GetModuleHandleA(nullptr), 7, text, sizeof text), 0);
  EXPECT_STREQ(text, "probe string seven");
}

TEST(PackedProgram, CabinetExpandsThroughCabinetDllToTheSourceFiles) {
  TempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp / "package.cab", OwnResource("CAB", RT_RCDATA)));
  Destination = temp / "out";
  Facts.clear();
  ERF erf{};
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  ASSERT_NE(fdi, nullptr);
  std::string folder = temp.Path + "\\";
  BOOL copied = FDICopy(fdi, const_cast<char*>("package.cab"), &folder[0], 0, Notify, nullptr, nullptr);
  FDIDestroy(fdi);
  ASSERT_TRUE(copied) << erf.erfOper;

  std::map<std::string, std::string> expected = FilesUnder(SourceFolder), extracted = FilesUnder(Destination);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(extracted, expected);

  ASSERT_EQ(Facts.size(), expected.size());
  for (const auto& f : Facts) {
    SCOPED_TRACE(f.first);
    EXPECT_EQ(f.second.Run, f.first == RunPath);
    EXPECT_EQ((f.second.Attributes & 0x40) != 0, f.first == RunPath);
    EXPECT_TRUE(f.second.Attributes & FILE_ATTRIBUTE_ARCHIVE);
    // The source files' attributes as Windows sees them must have come along.
    DWORD onDisk = GetFileAttributesA((SourceFolder + "\\" + f.first).c_str());
    EXPECT_EQ(f.second.Attributes & 0x07, onDisk & 0x07);
    // Packed with SOURCE_DATE_EPOCH 946728000: 2000-01-01 12:00:00.
    EXPECT_EQ(f.second.Date, (20 << 9) | (1 << 5) | 1);
    EXPECT_EQ(f.second.Time, 12 << 11);
  }
}

TEST(PackedProgram, CarriesTheVersionTextsAndIconItWasGiven) {
  if (IconFile.empty()) GTEST_SKIP() << "packed without version texts and icon";
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  DWORD unused = 0, size = GetFileVersionInfoSizeA(self, &unused);
  ASSERT_GT(size, 0u);
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(self, 0, size, &info[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  auto numbers = [](DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
           "." + std::to_string(LOWORD(low));
  };
  for (const std::string& text : VersionTexts) {
    std::string key = text.substr(0, text.find('=')), value = text.substr(text.find('=') + 1);
    char* found = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), ("\\StringFileInfo\\040904B0\\" + key).c_str(),
                               reinterpret_cast<void**>(&found), &length)) << key;
    EXPECT_EQ(std::string(found), value);
    if (key == "FileVersion") {
      EXPECT_EQ(numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS), value);
    } else if (key == "ProductVersion") {
      EXPECT_EQ(numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS), value);
    }
  }

  // Every image of the .ico is the one Windows picks from the icon group for its size.
  std::string ico = ReadWholeFile(IconFile), group = OwnResource(MAKEINTRESOURCEA(1), RT_GROUP_ICON);
  ASSERT_GE(ico.size(), 6u);
  ASSERT_FALSE(group.empty());
  int count = uint8_t(ico[4]);
  for (int i = 0; i < count; ++i) {
    const char* entry = ico.data() + 6 + 16 * i;
    int side = uint8_t(entry[0]) ? uint8_t(entry[0]) : 256;
    DWORD bytes = *reinterpret_cast<const DWORD*>(entry + 8), at = *reinterpret_cast<const DWORD*>(entry + 12);
    int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(&group[0]), TRUE, side, side, LR_DEFAULTCOLOR);
    EXPECT_EQ(OwnResource(MAKEINTRESOURCEA(id), RT_ICON), ico.substr(at, bytes)) << side;
  }
  HICON icon = HICON(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(icon, nullptr);
  ICONINFO parts{};
  ASSERT_TRUE(GetIconInfo(icon, &parts));
  BITMAP bitmap{};
  EXPECT_TRUE(GetObjectA(parts.hbmColor, sizeof bitmap, &bitmap));
  EXPECT_EQ(bitmap.bmWidth, 32);
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  DestroyIcon(icon);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 4 || argc == 5) {
    std::fprintf(stderr, "usage: cabpack_probe SOURCE_FOLDER RUN_PATH OPTIONS [ICON_FILE VERSION_TEXT...]\n");
    return 2;
  }
  SourceFolder = argv[1];
  RunPath = argv[2];
  ExpectedOptions = argv[3];
  if (argc > 4) IconFile = argv[4];
  VersionTexts.assign(argv + std::min(argc, 5), argv + argc);
  return RUN_ALL_TESTS();
}
