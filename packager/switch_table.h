// cabpack's switch table, shared by the parser (switches.cpp) and the texts made from it
// (help_text.cpp: --help, the manual page, the bash completion).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "packager/switches.h"

// What a switch takes. A Path given in a package file is relative to the file's folder.
enum class Takes { Nothing, Text, Path };

// One switch: --NAME on the command line, and NAME = value in a package file unless it is for
// the command line only; there only once, unless it Repeats. A plain value goes into Field; Apply
// reads the others, its message following "--NAME: " or the package file's "NAME: ". Without Help
// it is hidden: left out of the help, the manual page and the completion (the build uses them).
struct Switch {
  const char* Name;
  Takes Value;
  const char* ValueName;
  bool CommandLineOnly;
  std::string Settings::*Field;
  bool (*Apply)(Settings& s, const std::string& value, std::string& error);
  const char* Help;
  bool Repeats = false;
};

extern const Switch Switches[];
extern const size_t SwitchCount;

struct ShortSwitch {
  const char* Short;
  const char* Name;
};
extern const ShortSwitch ShortSwitches[];
extern const size_t ShortSwitchCount;

// The tables as ranges: for (const Switch& sw : SwitchRange()).
struct SwitchRange {
  const Switch* begin() const { return Switches; }
  const Switch* end() const { return Switches + SwitchCount; }
};
struct ShortSwitchRange {
  const ShortSwitch* begin() const { return ShortSwitches; }
  const ShortSwitch* end() const { return ShortSwitches + ShortSwitchCount; }
};

// The switches' names with `prefix`, those a package file can hold unless `commandLine`; hidden
// ones left out.
std::vector<std::string> SwitchNames(const std::string& prefix, bool commandLine);
// "on, off and exclude": the names a package file may give more than once.
std::string RepeatingNames();
