// The options a package sets, as the runner holds them, and the tables that read and name them.
// Portable: no platform headers.
#pragma once
#include <string>

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

// An option's key and where its value lands, in table order. A key that occurs twice in the
// list is settled by the last entry.
struct PackageOptionKey {
  ProtectedId Key;
  ProtectedId Name;
  bool TPackageOptions::*Member;
};
inline constexpr PackageOptionKey PackageOptionKeys[] = {
#define CABRUN_OPTION_KEY(name, key, on, meaning) {PsKey##name, PsName##name, &TPackageOptions::name},
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
