// The version resource (VS_VERSIONINFO) that Explorer, SmartScreen and the UAC prompt show:
// cabpack sets the vendor's names and numbers in it, and --list shows what it says.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "format/pe.h"
#include "packager/resource_tree.h"


// The values to set, in UTF-8; empty ones keep what the stub says.
struct VersionSettings {
  std::string ProductName, ProductVersion, FileVersion, Company, Copyright, Description, OriginalFilename;
  bool Empty() const;
};

// Whether `text` is four numbers "a.b.c.d" of 0 to 65535, as versions are.
bool IsVersionNumber(const std::string& text);

// Sets the values in every language of the program's version resource, or in a new one when it
// has none. Versions are four numbers "a.b.c.d" (0 to 65535); when only one of the file and the
// product version is given, the other takes the same value. BadValue: a value that is no version
// or not UTF-8, or texts that make the resource longer than its 16-bit lengths can say (the
// message names the longest by its switch).
enum class VersionResult { Applied, BadValue, StubDamaged };
VersionResult ApplyVersion(std::vector<ResourceItem>& items, const VersionSettings& settings, std::string& error);

// What a version resource says: the fixed file and product versions and the strings of its first
// string table, in UTF-8.
struct VersionFacts {
  std::string FileVersion, ProductVersion;
  std::vector<std::pair<std::string, std::string>> Strings;
};
bool ReadVersion(const std::string& data, VersionFacts& facts);
