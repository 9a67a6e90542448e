#pragma once
#include <string>

// Appends Item to a Separator-separated List, in double quotes when it contains a blank.
// An empty Item changes nothing; nothing inside an item is escaped.
void AppendArgument(std::string& list, const std::string& item, const std::string& separator);

// Appends item to a blank-separated list that cmd.exe reads: an item holding anything that cmd
// reads as syntax outside quotes (& | < > ^ ( ) ! blanks, and other punctuation) is quoted, and
// every item when alwaysQuoted. cmd knows no escape inside quotes, so backslashes stay as they
// are. False, with the list unchanged, for an item that no quoting keeps as it is: cmd expands %
// even inside quotes, a double quote ends them, a line break ends the command. Unquoted = , ;
// still separate a batch file's parameters, as they always have.
bool AppendCmdArgument(std::string& list, const std::string& item, bool alwaysQuoted = false);
