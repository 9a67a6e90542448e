#include "runner/arguments.h"

void AppendArgument(std::string& list, const std::string& item, const std::string& separator) {
  if (item.empty()) return;
  std::string wrapped = item.find(' ') != std::string::npos ? '"' + item + '"' : item;
  if (!list.empty()) list += separator;
  list += wrapped;
}
