// The package's option list ("OPT"): built from option names, read back for listing.
// The keys and the switching-on value come from the runner's own tables.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "format/package_options.h"

// A choice made on the command line: option index in the option table, on or off.
struct OptionChoice {
  int Option = 0;
  bool On = false;
};

// The options' names, in table order.
std::vector<std::string> PackageOptionNameList();

// Index of the option named `name` (any case), or -1.
int FindPackageOption(const std::string& name);

// The resource bytes: one "key=value" entry per option chosen (the last choice wins), in table
// order, then the fixed payload arguments and the title when given (also empty ones), and the
// closing empty entry.
std::string BuildOptionList(const std::vector<OptionChoice>& choices,
                            const std::optional<std::string>& arguments = std::nullopt,
                            const std::optional<std::string>& title = std::nullopt);

// One line per entry of an option list: the option's name and state, the fixed arguments, the
// title, or the raw entry when its key names none of them.
struct OptionListEntry {
  std::string Key, Value;
  int Option = -1;
  bool On = false;
  bool Arguments = false;  // the fixed payload arguments, Value as written
  bool Title = false;      // the window's title, Value in UTF-8
};
std::vector<OptionListEntry> ReadOptionList(const std::string& data);

// The runner's defaults, by option index.
bool DefaultOptionState(int option);

// Whether the option will be on in the package: as the last choice says, else by default.
bool OptionOn(const std::vector<OptionChoice>& choices, bool TPackageOptions::*option);
