// The options a package sets, as the runner holds them, and the tables that read and name them.
// Portable: no platform headers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "format/option_table.h"
#include "format/protected_ids.h"

struct TPackageOptions {
#define CABRUN_OPTION_MEMBER(name, key, on, meaning) bool name = on;
  CABRUN_PACKAGE_OPTIONS(CABRUN_OPTION_MEMBER)
#undef CABRUN_OPTION_MEMBER
  // Not a switch: the text of the entry keyed PsArguments, handed to the payload as written.
  std::string Arguments;
  // Not a switch: the text of the entry keyed PsTitle (UTF-8), shown before the window's captions.
  std::string Title;
};

// Offsets of its members are defined.
static_assert(std::is_standard_layout_v<TPackageOptions>);

// An option's key, the name it is logged by and where its value lands, in table order. A key that
// occurs twice in the list is settled by the last entry. The place is an offset: a member pointer
// would take 8 bytes in each of the runner's rows.
struct PackageOptionKey {
  ProtectedId Key;
  ProtectedId Name;
  uint8_t Offset;
  bool& In(TPackageOptions& options) const {
    return *reinterpret_cast<bool*>(reinterpret_cast<char*>(&options) + Offset);
  }
  bool In(const TPackageOptions& options) const { return In(const_cast<TPackageOptions&>(options)); }
};
inline constexpr PackageOptionKey PackageOptionKeys[] = {
#define CABRUN_OPTION_KEY(name, key, on, meaning) {PsKey##name, PsName##name, offsetof(TPackageOptions, name)},
    CABRUN_PACKAGE_OPTIONS(CABRUN_OPTION_KEY)
#undef CABRUN_OPTION_KEY
};
constexpr int PackageOptionCount = int(sizeof PackageOptionKeys / sizeof *PackageOptionKeys);

// The options' names and meanings as package authors read them, in table order. Only cabpack
// and the tests use these texts; the runner must not (its keys would stand in plain text).
struct PackageOptionText {
  const char* Name;
  const char* Meaning;
};
inline constexpr PackageOptionText PackageOptionTexts[] = {
#define CABRUN_OPTION_TEXT(name, key, on, meaning) {#name, meaning},
    CABRUN_PACKAGE_OPTIONS(CABRUN_OPTION_TEXT)
#undef CABRUN_OPTION_TEXT
};
