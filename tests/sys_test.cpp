#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

#include <sddl.h>

#include <vector>

#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/security.h"
#include "sys/system.h"
#include "tests/test_support.h"

namespace {

struct PathCase {
  std::string (*Operation)(const std::string&);
  const char* Name;
  std::string Argument;
  std::string Expected;
};

TEST(Paths, TakeApartAndPutTogether) {
  const PathCase cases[] = {
      {FolderOfPath, "FolderOfPath", "C:\\a\\b.txt", "C:\\a\\"},
      {NameOfPath, "NameOfPath", "C:\\a\\b.txt", "b.txt"},
      {ExtensionOfPath, "ExtensionOfPath", "C:\\a\\b.txt", ".txt"},
      {FolderOfPath, "FolderOfPath", "C:b.txt", "C:"},
      {FolderOfPath, "FolderOfPath", "b.txt", ""},
      {NameOfPath, "NameOfPath", "b.txt", "b.txt"},
      {NameOfPath, "NameOfPath", "C:\\a\\", ""},
      {NameOfPath, "NameOfPath", "C:b.txt", "b.txt"},
      {ExtensionOfPath, "ExtensionOfPath", "C:\\x.y\\z", ""},
      {ExtensionOfPath, "ExtensionOfPath", "name.", "."},
      {ExtensionOfPath, "ExtensionOfPath", "a.tar.gz", ".gz"},
      {ExtensionOfPath, "ExtensionOfPath", "C:.x", ".x"},
      {WithTrailingBackslash, "WithTrailingBackslash", "", "\\"},
      {WithTrailingBackslash, "WithTrailingBackslash", "C:", "C:\\"},
      {WithTrailingBackslash, "WithTrailingBackslash", "C:\\", "C:\\"},
      {WithoutTrailingBackslash, "WithoutTrailingBackslash", "C:\\", "C:"},
      {WithoutTrailingBackslash, "WithoutTrailingBackslash", "C:\\a\\\\", "C:\\a\\"},
      {WithoutTrailingBackslash, "WithoutTrailingBackslash", "", ""},
      // Bytes are tested one by one: the second byte of this Shift-JIS character is 0x5C.
      {NameOfPath, "NameOfPath", "C:\\\x95\x5C.txt", ".txt"},
  };
  for (const PathCase& c : cases)
    EXPECT_EQ(c.Operation(c.Argument), c.Expected) << c.Name << "(" << c.Argument << ")";
}

TEST(Paths, ReplaceExtension) {
  const struct {
    std::string Path, Extension, Expected;
  } cases[] = {
      {"C:\\a\\b.txt", ".ini", "C:\\a\\b.ini"},
      {"C:\\x.y\\z", ".ini", "C:\\x.y\\z.ini"},
      {"b.txt", "", "b"},
      {"b", "", "b"},
      {"dir\\setup.exe", ".env", "dir\\setup.env"},
      {"name.", ".x", "name.x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceExtension(c.Path, c.Extension), c.Expected) << c.Path;
}

TEST(Paths, LastIndexOfAnyIgnoresZeroBytes) {
  EXPECT_EQ(LastIndexOfAny("\\:", std::string("a\\b\0c", 5)), 2);
  EXPECT_EQ(LastIndexOfAny("\\:", "abc"), 0);
}

TEST(NumberText, DecimalAndHex) {
  EXPECT_EQ(HexText(10, 4), "000A");
  EXPECT_EQ(HexText(255, 2), "FF");
  EXPECT_EQ(HexText(5, 40), "5");
  EXPECT_EQ(HexText(0x1234, 2), "1234");
  EXPECT_EQ(HexText(0, 0), "0");
  EXPECT_EQ(HexText(static_cast<uint32_t>(-1), 2), "FFFFFFFF");
  EXPECT_EQ(HexText(0x409, 4), "0409");
  EXPECT_EQ(HexText(7, 32), std::string(31, '0') + "7");
  EXPECT_EQ(DecimalText(-7), "-7");
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(INT32_MIN), "-2147483648");
  EXPECT_EQ(DecimalText(3600), "3600");
}

TEST(Files, ExistenceTests) {
  TempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp / "f.txt", "x"));
  EXPECT_TRUE(IsExistingFile(temp / "f.txt"));
  EXPECT_FALSE(IsExistingFolder(temp / "f.txt"));
  EXPECT_TRUE(IsExistingFolder(temp.Path));
  EXPECT_FALSE(IsExistingFile(temp.Path));
  EXPECT_FALSE(IsExistingFile(temp / "missing"));
  EXPECT_FALSE(IsExistingFolder(temp / "missing"));
  EXPECT_EQ(ReadAttributes(temp / "missing"), -1);
  EXPECT_EQ(WriteAttributes(temp / "f.txt", FILE_ATTRIBUTE_READONLY), 0);
  EXPECT_EQ(ReadAttributes(temp / "f.txt") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY), FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(WriteAttributes(temp / "missing", 0), 0);
}

TEST(Files, FullPathOf) {
  TempFolder temp;
  char saved[MAX_PATH];
  GetCurrentDirectoryA(sizeof saved, saved);
  SetCurrentDirectoryA(temp.Path.c_str());
  EXPECT_EQ(FullPathOf("x\\y"), temp.Path + "\\x\\y");
  SetCurrentDirectoryA(saved);
  // A path that does not fit the 260-byte buffer gives no path rather than a cut one.
  EXPECT_EQ(FullPathOf("C:\\" + std::string(300, 'a')), "");
}

TEST(Files, HoldFolderChain) {
  TempFolder temp;
  std::string outer = temp / "new1";
  std::string inner = outer + "\\new2\\";
  std::vector<THeldFolder> held;
  EXPECT_TRUE(HoldFolderChain(inner, held));
  ASSERT_EQ(held.size(), size_t(std::count(inner.begin() + 3, inner.end() - 1, '\\') + 1));
  EXPECT_TRUE(held.back().Made);
  EXPECT_TRUE(held[held.size() - 2].Made);
  EXPECT_FALSE(held[held.size() - 3].Made);
  EXPECT_TRUE(IsExistingFolder(inner));
  // Held: nobody may rename or delete a folder of the chain meanwhile.
  EXPECT_FALSE(MoveFileA(outer.c_str(), (temp / "moved").c_str()));
  ReleaseFolders(held);
  EXPECT_TRUE(held.empty());
  EXPECT_TRUE(HoldFolderChain(inner, held));  // present already
  EXPECT_FALSE(held.back().Made);
  ReleaseFolders(held);

  // What the run made goes, deepest first with what it holds; a folder made above it that holds
  // anything else stays, and so do the folders found.
  ASSERT_TRUE(HoldFolderChain(temp / "a\\b\\c", held));
  ASSERT_TRUE(WriteTextFile(temp / "a\\b\\c\\extracted.txt", ""));
  ASSERT_TRUE(WriteTextFile(temp / "a\\other.txt", ""));
  DeleteMadeFolders(held);
  EXPECT_TRUE(held.empty());
  std::map<std::string, bool> left;
  ListTree(temp.Path, left);
  EXPECT_EQ(left.size(), 4u);  // a, a\other.txt, new1, new1\new2
  EXPECT_EQ(left.count("a\\other.txt") + left.count("new1\\new2"), 2u);

  ASSERT_TRUE(WriteTextFile(temp / "file", ""));
  std::string link = std::string(LINK_FIXTURE_DIR) + "\\tree\\link";
  // Not a full path; a file in the way; a link on the way, even to a folder that is there.
  for (std::string path : {std::string(), std::string("single"), temp / "file\\sub", link + "\\sub"}) {
    EXPECT_FALSE(HoldFolderChain(path, held)) << path;
    ReleaseFolders(held);
  }
  EXPECT_FALSE(IsExistingFolder(std::string(LINK_FIXTURE_DIR) + "\\target\\sub"));
}

TEST(Files, ScanPassesOverWhatTheMaskDoesNotName) {
  TempFolder temp;
  WriteTextFile(temp / "plain.txt", "12345");
  WriteTextFile(temp / "hidden.txt", "");
  SetFileAttributesA((temp / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  CreateDirectoryA((temp / "sub").c_str(), nullptr);

  auto names = [&](uint32_t mask) {
    std::string seen;
    TSearchRec rec;
    for (int32_t r = ScanFirst(temp / "*.*", mask, rec); r == 0; r = ScanNext(rec))
      if (rec.EntryName[0] != '.') seen += rec.EntryName + (rec.EntryName == "plain.txt" ? "=" + std::to_string(rec.EntrySize) : "") + ";";
    ScanClose(rec);
    EXPECT_EQ(rec.SearchHandle, INVALID_HANDLE_VALUE);
    return seen;
  };
  std::string files = names(0);
  EXPECT_NE(files.find("plain.txt=5;"), std::string::npos);
  EXPECT_EQ(files.find("hidden"), std::string::npos);
  EXPECT_EQ(files.find("sub"), std::string::npos);
  std::string all = names(0x3F);
  EXPECT_NE(all.find("hidden.txt;"), std::string::npos);
  EXPECT_NE(all.find("sub;"), std::string::npos);

  TSearchRec rec;
  EXPECT_NE(ScanFirst(temp / "nothing*", 0x3F, rec), 0);
  EXPECT_EQ(rec.SearchHandle, INVALID_HANDLE_VALUE);
}

// A tree with read-only, hidden and system entries and a read-only subfolder.
void MakeStubbornTree(const std::string& root) {
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "\\sub").c_str(), nullptr);
  CreateDirectoryA((root + "\\sub\\deeper").c_str(), nullptr);
  WriteTextFile(root + "\\ro.txt", "r");
  WriteTextFile(root + "\\hs.txt", "h");
  WriteTextFile(root + "\\sub\\deeper\\ro2.txt", "r");
  SetFileAttributesA((root + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((root + "\\hs.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA((root + "\\sub\\deeper\\ro2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((root + "\\sub").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Files, DeleteFolderTreeRemovesStubbornEntries) {
  for (const char* suffix : {"", "\\"}) {
    TempFolder temp;
    std::string root = temp / "tree";
    MakeStubbornTree(root);
    EXPECT_TRUE(DeleteFolderTree(root + suffix)) << "suffix '" << suffix << "'";
    EXPECT_FALSE(IsExistingFolder(root));
  }
  TempFolder temp;
  EXPECT_FALSE(DeleteFolderTree(temp / "missing"));
}

TEST(Files, DeleteFolderTreeGoesOnPastAFileInUse) {
  TempFolder temp;
  std::string root = temp / "tree";
  CreateDirectoryA(root.c_str(), nullptr);
  for (const char* name : {"a", "b", "c"}) WriteTextFile(root + "\\" + name, name);
  HANDLE busy = CreateFileA((root + "\\b").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFolderTree(root));
  EXPECT_TRUE(IsExistingFolder(root));
  EXPECT_TRUE(IsExistingFile(root + "\\b"));
  EXPECT_FALSE(IsExistingFile(root + "\\a") || IsExistingFile(root + "\\c"));
  CloseHandle(busy);
  EXPECT_TRUE(DeleteFolderTree(root));
}

// The link is made outside Wine by the test fixture (Wine shows a Unix symbolic link as a
// reparse point, but cannot make one itself): tree\\link -> target, with target\\keep.txt.
TEST(Files, DeleteFolderTreeLeavesTheTargetOfALinkAlone) {
  std::string root = LINK_FIXTURE_DIR;
  std::string link = root + "\\tree\\link";
  int32_t attributes = ReadAttributes(link);
  if (attributes == -1 || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) GTEST_SKIP() << "no link fixture at " << link;

  bool removed = DeleteFolderTree(root + "\\tree");
  EXPECT_EQ(ReadWholeFile(root + "\\target\\keep.txt"), "precious\n");
  // Windows removes the link itself; Wine cannot remove a link to a folder that is not empty.
  EXPECT_EQ(removed, !IsExistingFolder(root + "\\tree"));
}

TEST(Files, DeleteIfPresent) {
  TempFolder temp;
  WriteTextFile(temp / "f", "");
  CreateDirectoryA((temp / "d").c_str(), nullptr);
  DeleteFileIfPresent(temp / "d");  // a folder is not a file
  DeleteFolderIfPresent(temp / "f");  // nor a file a folder
  EXPECT_TRUE(IsExistingFile(temp / "f"));
  EXPECT_TRUE(IsExistingFolder(temp / "d"));
  DeleteFileIfPresent(temp / "f");
  DeleteFolderIfPresent(temp / "d");
  DeleteFileIfPresent("");
  DeleteFolderIfPresent("");
  EXPECT_FALSE(IsExistingFile(temp / "f"));
  EXPECT_FALSE(IsExistingFolder(temp / "d"));
}

TEST(SystemQueries, Comparisons) {
  EXPECT_TRUE(EqualsIgnoringCase("JPN", "jpn"));
  EXPECT_TRUE(EqualsIgnoringCase("", ""));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
  EXPECT_FALSE(EqualsIgnoringCase("", "1"));
  // Lengths are the strings' own, not a search for a terminator.
  EXPECT_FALSE(EqualsIgnoringCase(std::string("a\0b", 3), "a"));
  EXPECT_TRUE(StartsWithIgnoringCase("/LANG", "/lang=JPN"));
  EXPECT_TRUE(StartsWithIgnoringCase("/lang", "/LANG"));
  EXPECT_FALSE(StartsWithIgnoringCase("/language", "/lang"));
  EXPECT_FALSE(StartsWithIgnoringCase("/x", "/y"));
}

TEST(SystemQueries, WithoutTrailingBlanks) {
  EXPECT_EQ(WithoutTrailingBlanks("AB \t\r\n "), "AB");
  EXPECT_EQ(WithoutTrailingBlanks("   "), "");
  EXPECT_EQ(WithoutTrailingBlanks(" A"), " A");
  EXPECT_EQ(WithoutTrailingBlanks(std::string("A\0\x01", 3)), "A");
  EXPECT_EQ(WithoutTrailingBlanks("A\xA0"), "A\xA0");
}

TEST(SystemQueries, PlatformFacts) {
  EXPECT_TRUE(IsUserAdministrator());  // Wine's shell reports an administrator
  EXPECT_EQ(SystemLanguageAbbreviation(), "ENU");
  std::string system = SystemFolder();
  EXPECT_TRUE(IsExistingFile(WithTrailingBackslash(system) + "kernel32.dll")) << system;
  char current[MAX_PATH + 1];
  GetCurrentDirectoryA(sizeof current, current);
  EXPECT_EQ(CurrentFolder(), current);
}

TEST(SystemQueries, JapaneseSystemLanguage) {
  EXPECT_EQ(SystemLanguageAbbreviation(), "JPN");
}

// Under Wine the maker's folder and the common application-data folder are the process user's,
// which is not trusted: the temp folder serves. The new folder is held by a handle that binds
// every later opener: nobody can open it to delete or rename it while the run holds it.
TEST(SystemQueries, WorkFolderIsNewPrivateAndHeld) {
  std::string folder = CommonDataFolder();
  char temp[MAX_PATH + 1];
  GetTempPathA(sizeof temp, temp);
  if (folder.empty()) folder = WithoutTrailingBackslash(temp);

  std::vector<THeldFolder> chain, second;
  std::string made = CreateWorkFolder(chain);
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(FolderOfPath(made), folder + "\\");
  EXPECT_TRUE(EqualsIgnoringCase(NameOfPath(made).substr(0, 4), "_cab"));
  ASSERT_FALSE(chain.empty());
  EXPECT_EQ(chain.back().Path, made);
  EXPECT_TRUE(chain.back().Made);
  EXPECT_FALSE(chain.front().Made);
  EXPECT_TRUE(IsSameFile(chain.back().Handle, made));
  for (const std::string& path : {made, folder}) {
    HANDLE deleter = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(deleter, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << path;
    if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
  }
  std::string next = CreateWorkFolder(second);
  EXPECT_NE(next, made);
  ASSERT_TRUE(WriteTextFile(made + "\\inside.txt", "x"));
  DeleteMadeFolders(chain);
  EXPECT_TRUE(chain.empty());
  EXPECT_FALSE(IsExistingFolder(made));
  EXPECT_TRUE(IsExistingFolder(folder));
  DeleteMadeFolders(second);
  EXPECT_FALSE(IsExistingFolder(next));
}

// --- Rights of what the elevated run makes and finds

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

// Wine stores no descriptors and checks no access, so the decision is tested on descriptors
// written out as SDDL: an owner, then a DACL that may give others more.
TEST(Security, TrustedOnlyWhenNobodyElseCanTakeTheFolderOver) {
  union {
    TOKEN_USER User;
    BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  HANDLE token = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, &user, sizeof user, &size));
  CloseHandle(token);
  const std::string runner = SidText(user.User.User.Sid);
  const std::string installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const std::string base = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  // ProgramData's own rules: users may add files and folders; creators own what they add.
  const std::string common = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
  const struct {
    std::string Sddl;
    bool Trusted;
  } cases[] = {
      {"O:SY" + base, true},
      {"O:BA" + base, true},
      {"O:" + installer + base, true},
      {"O:" + runner + base, false},  // the runner's own user: any program of the session
      {"O:BA" + common, true},
      {"O:BAD:P", true},  // an empty DACL grants nothing
      {"O:BA" + base + "(D;;SD;;;WD)", true},
      {"O:BA" + base + "(A;OICIIO;SD;;;BU)", true},  // only for what is made inside later
      {"O:S-1-5-21-1-2-3-1001" + base, false},
      {"O:BU" + base, false},
      {"O:WD" + base, false},
      {"O:BA", false},  // no DACL: everyone everything
      {"O:BA" + base + "(A;;SD;;;BU)", false},
      {"O:BA" + base + "(A;;0x40;;;WD)", false},  // delete child
      {"O:BA" + base + "(A;;WD;;;AU)", false},  // change permissions
      {"O:BA" + base + "(A;;WO;;;BU)", false},  // change owner
      {"O:BA" + base + "(A;;GA;;;WD)", false},
      {"O:BA" + base + "(A;;FA;;;AU)", false},
      {"O:BA" + base + "(A;;SD;;;S-1-5-21-1-2-3-1001)", false},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.Sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
        << c.Sddl;
    EXPECT_EQ(IsTrustedSecurity(descriptor), c.Trusted) << c.Sddl;
    LocalFree(descriptor);
  }
  EXPECT_FALSE(IsTrustedSecurity(nullptr));
  // A null DACL (built here: Wine's SDDL reader makes "NO_ACCESS_CONTROL" an empty one).
  SECURITY_DESCRIPTOR open;
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_FALSE(IsTrustedSecurity(&open));
}

// What the run creates: a protected DACL in which only SYSTEM and Administrators may do anything
// (Users may not even read), and everything made inside inherits the same.
TEST(Security, PrivateRightsAsBuilt) {
  PSECURITY_DESCRIPTOR descriptor = PrivateSecurity();
  ASSERT_NE(descriptor, nullptr);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  std::vector<std::string> entries;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    entries.push_back(SidText(&allowed->SidStart) + "=" + HexText(allowed->Mask, 8));
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"S-1-5-18=001F01FF", "S-1-5-32-544=001F01FF"}));
  // With the owner an elevated run gets, the rights pass the run's own test.
  std::string sddl = std::string("O:BA") + PrivateSecurityText;
  PSECURITY_DESCRIPTOR owned = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &owned, nullptr));
  EXPECT_TRUE(IsTrustedSecurity(owned));
  LocalFree(owned);
}

TEST(Security, PrivateFoldersAreOnlyEverNew) {
  TempFolder temp;
  EXPECT_TRUE(MakePrivateFolder(temp / "new"));
  EXPECT_TRUE(IsExistingFolder(temp / "new"));
  EXPECT_FALSE(MakePrivateFolder(temp / "new"));
  ASSERT_TRUE(WriteTextFile(temp / "file", "someone else's"));
  EXPECT_FALSE(MakePrivateFolder(temp / "file"));
  EXPECT_EQ(ReadWholeFile(temp / "file"), "someone else's");
}

// Under Wine every folder is the process user's, which is never trusted; a link or a file is never
// a trusted folder whatever its owner.
TEST(Security, TrustedFolderIsAFolderAndNoLink) {
  TempFolder temp;
  EXPECT_FALSE(IsTrustedFolder(temp.Path));
  ASSERT_TRUE(WriteTextFile(temp / "file", ""));
  EXPECT_FALSE(IsTrustedFolder(temp / "file"));
  EXPECT_FALSE(IsTrustedFolder(temp / "missing"));
  std::string link = std::string(LINK_FIXTURE_DIR) + "\\tree\\link";
  int32_t attributes = ReadAttributes(link);
  if (attributes == -1 || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) GTEST_SKIP() << "no link fixture at " << link;
  EXPECT_TRUE(IsExistingFolder(link));
  EXPECT_FALSE(IsTrustedFolder(link));
}

}  // namespace
