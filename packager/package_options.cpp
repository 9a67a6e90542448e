#include "packager/package_options.h"

#include "format/package_options.h"
#include "format/protected_plain.h"

namespace {

constexpr bool SameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a >= 'a' && *a <= 'z' ? char(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? char(*b - 32) : *b;
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool SameIgnoringCase(const std::string& a, const char* b) { return SameIgnoringCase(a.c_str(), b); }

// Any value other than the switching-on one switches an option off.
constexpr const char* OffValue = "0";
static_assert(!SameIgnoringCase(PlainText(PsOptionOn), OffValue), "the off value must differ from the on value");

}  // namespace

std::vector<std::string> PackageOptionNameList() {
  std::vector<std::string> names;
  for (const PackageOptionText& text : PackageOptionTexts) names.push_back(text.Name);
  return names;
}

int FindPackageOption(const std::string& name) {
  for (int i = 0; i < PackageOptionCount; ++i)
    if (SameIgnoringCase(name, PackageOptionTexts[i].Name)) return i;
  return -1;
}

std::string BuildOptionList(const std::vector<OptionChoice>& choices, const std::optional<std::string>& arguments,
                            const std::optional<std::string>& title) {
  int state[PackageOptionCount];
  for (int& s : state) s = -1;
  for (const OptionChoice& c : choices) state[c.Option] = c.On;
  std::string list;
  for (int i = 0; i < PackageOptionCount; ++i) {
    if (state[i] < 0) continue;
    list += PlainText(PackageOptionKeys[i].Key);
    list += '=';
    list += state[i] ? PlainText(PsOptionOn) : OffValue;
    list += '\0';
  }
  if (arguments) list += PlainText(PsArguments) + ("=" + *arguments) + '\0';
  if (title) list += PlainText(PsTitle) + ("=" + *title) + '\0';
  return list + '\0';
}

std::vector<OptionListEntry> ReadOptionList(const std::string& data) {
  // Read the way the runner reads it: entries up to the first empty one.
  std::vector<OptionListEntry> entries;
  size_t place = 0;
  while (place < data.size() && data[place] != '\0') {
    size_t end = data.find('\0', place);
    if (end == std::string::npos) end = data.size();
    std::string entry = data.substr(place, end - place);
    OptionListEntry e;
    size_t equals = entry.find('=');
    e.Key = equals == std::string::npos ? std::string() : entry.substr(0, equals);
    e.Value = equals == std::string::npos ? entry : entry.substr(equals + 1);
    for (int i = 0; i < PackageOptionCount && !e.Key.empty(); ++i)
      if (SameIgnoringCase(e.Key, PlainText(PackageOptionKeys[i].Key))) e.Option = i;
    e.On = SameIgnoringCase(e.Value, PlainText(PsOptionOn));
    e.Arguments = !e.Key.empty() && SameIgnoringCase(e.Key, PlainText(PsArguments));
    e.Title = !e.Key.empty() && SameIgnoringCase(e.Key, PlainText(PsTitle));
    entries.push_back(e);
    place = end + 1;
  }
  return entries;
}

bool DefaultOptionState(int option) { return PackageOptionKeys[option].In(TPackageOptions()); }

bool OptionOn(const std::vector<OptionChoice>& choices, bool TPackageOptions::*option) {
  TPackageOptions options;
  for (const OptionChoice& c : choices) PackageOptionKeys[c.Option].In(options) = c.On;
  return options.*option;
}

