#pragma once
#include <string>

// Appends Item to a Separator-separated List, in double quotes when it contains a blank.
// An empty Item changes nothing; nothing inside an item is escaped.
void AppendArgument(std::string& list, const std::string& item, const std::string& separator);
