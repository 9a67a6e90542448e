#include "runner/startup.h"

#include <windows.h>

#include "format/package_resources.h"
#include "runner/protected.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"
#include "sys/wide_text.h"

namespace {

// Where the next argument starts: separators (bytes 1 to 32) and "" pairs are passed over.
const unsigned char* SkipToArgument(const unsigned char* p) {
  for (;;) {
    while (*p != 0 && *p <= ' ') ++p;
    if (p[0] == '"' && p[1] == '"')
      p += 2;
    else
      return p;
  }
}

// Takes one argument from p; quotes switch quoting on and off and are dropped.
const unsigned char* TakeArgument(const unsigned char* p, std::string& argument) {
  argument.clear();
  p = SkipToArgument(p);
  while (*p > ' ') {
    if (*p == '"') {
      ++p;
      while (*p != 0 && *p != '"') argument += static_cast<char>(*p++);
      if (*p != 0) ++p;
    } else {
      argument += static_cast<char>(*p++);
    }
  }
  return p;
}

// The target's name. Windows drops trailing dots and blanks from a name, so "...exe" would name
// the parent folder and "..exe" the chosen folder itself; such a name, and one that comes out
// empty (".exe"), takes a fixed name instead.
std::string RunnerNameWithoutExtension() {
  std::string name = ReplaceExtension(NameOfPath(RunnerArguments[0]), "");
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name.empty() ? "package" : name;
}

void ApplyLanguageSwitch(const std::string& value) {
  if (EqualsIgnoringCase(value, "ENU")) {
    LanguageId = "0409";
    LanguageName = "ENU";
    JapaneseMode = false;
  } else if (EqualsIgnoringCase(value, "JPN")) {
    LanguageId = "0411";
    LanguageName = "JPN";
    JapaneseMode = true;
  }
}

}  // namespace

void ChooseLanguage() {
  LanguageId = HexText(GetSystemDefaultLangID(), 4);
  LanguageName = SystemLanguageAbbreviation();
  JapaneseMode = LanguageName == "JPN";
}

void DecodeProtectedStrings() {
  for (int id = 0; id < ProtectedCount; ++id) ProtectedStrings[id] = DecodeProtected(static_cast<uint8_t>(id));
}

void ReadOptionList(const uint8_t* data, size_t size) {
  size_t place = 0;
  while (place < size && data[place] != 0) {
    // An entry that runs to the end of the resource is cut there.
    size_t end = place;
    while (end < size && data[end] != 0) ++end;
    std::string entry(reinterpret_cast<const char*>(data) + place, end - place);
    size_t equals = entry.find('=');
    if (equals != std::string::npos && equals > 0) {
      std::string key = entry.substr(0, equals);
      std::string value = entry.substr(equals + 1);
      for (const PackageOptionKey& option : PackageOptionKeys) {
        if (EqualsIgnoringCase(key, Protected(option.Key)))
          option.In(PackageOptions) = EqualsIgnoringCase(value, Protected(PsOptionOn));
      }
      if (EqualsIgnoringCase(key, Protected(PsArguments))) PackageOptions.Arguments = value;
      if (EqualsIgnoringCase(key, Protected(PsTitle))) PackageOptions.Title = value;
    }
    place = end + 1;
  }
}

const uint8_t* PackageResource(const char* name, DWORD& size) {
  HRSRC info = FindResourceA(nullptr, name, MAKEINTRESOURCEA(PackageResourceType));
  size = info ? SizeofResource(nullptr, info) : 0;
  HGLOBAL resource = size ? LoadResource(nullptr, info) : nullptr;
  return resource ? static_cast<const uint8_t*>(LockResource(resource)) : nullptr;
}

void ReadOptionResource() {
  DWORD size = 0;
  if (const uint8_t* data = PackageResource(OptionsResource, size)) ReadOptionList(data, size);
}

std::vector<std::string> SplitCommandLine(const char* commandLine) {
  std::vector<std::string> arguments;
  std::string argument;
  const unsigned char* p = TakeArgument(reinterpret_cast<const unsigned char*>(commandLine), argument);
  for (;;) {
    p = TakeArgument(p, argument);
    if (argument.empty()) return arguments;
    arguments.push_back(argument);
  }
}

// In UTF-8 from the wide form: the ANSI one spells characters of the package's name that the code
// page lacks with best fit, so a fullwidth quote in a download's name would become a real quote.
std::string OwnPath() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
  // A path that does not fit comes back cut, which still names the runner better than nothing.
  return Utf8FromWide(buffer, n <= MAX_PATH ? n : MAX_PATH);
}

bool IsLogSwitch(const std::string& argument) {
  const std::string& logSwitch = Protected(PsLogSwitch);
  return StartsWithIgnoringCase(logSwitch, argument) && argument.find('=') == logSwitch.size();
}

void ReadCommandLine(const std::string& currentFolder) {
  const std::string& languageSwitch = Protected(PsLanguageSwitch);
  bool folderPending = false;
  for (size_t i = 1; i < RunnerArguments.size(); ++i) {
    const std::string& a = RunnerArguments[i];
    if (folderPending && a[0] != '/') {
      ChosenFolder = FullPathOf(a);
      if (IsExistingFolder(ChosenFolder))
        ChosenFolder = WithTrailingBackslash(ChosenFolder) + RunnerNameWithoutExtension();
      folderPending = false;
      continue;
    }
    folderPending = false;
    if (PackageOptions.AllowExtractSwitch && EqualsIgnoringCase(a, Protected(PsExtractSwitch))) {
      ExtractOnlyMode = true;
      ChosenFolder = WithTrailingBackslash(currentFolder) + RunnerNameWithoutExtension();
      folderPending = true;
    } else if (PackageOptions.AllowLanguageSwitch && StartsWithIgnoringCase(languageSwitch, a) &&
               a.find('=') == languageSwitch.size()) {
      ApplyLanguageSwitch(a.substr(languageSwitch.size() + 1));
    } else if (PackageOptions.AllowQuietSwitch && EqualsIgnoringCase(a, Protected(PsQuietSwitch))) {
      QuietMode = true;
    } else if (IsLogSwitch(a)) {
      LogPath = a.substr(Protected(PsLogSwitch).size() + 1);
    }
  }
}

void ConfigureRun() {
  ChooseLanguage();
  DecodeProtectedStrings();
  ReadOptionResource();
  RunnerArguments = SplitCommandLine(Utf8FromWide(GetCommandLineW()).c_str());
  RunnerArguments.insert(RunnerArguments.begin(), OwnPath());
  ReadCommandLine(CurrentFolder());
}
