#include "runner/arguments.h"

#include <cstring>

// An item holding a blank or a tab (any byte 1 to 32) is quoted, and backslashes at its end are
// doubled inside the quotes, so that C-runtime parsers read the item back unchanged. Items never
// hold a double quote: the runner's own command-line reading drops them.
void AppendArgument(std::string& list, const std::string& item, const std::string& separator) {
  if (item.empty()) return;
  bool separated = false;
  for (unsigned char c : item) separated |= c >= 1 && c <= ' ';
  std::string wrapped = item;
  if (separated) wrapped = '"' + item + std::string(item.size() - 1 - item.find_last_not_of('\\'), '\\') + '"';
  if (!list.empty()) list += separator;
  list += wrapped;
}

bool AppendCmdArgument(std::string& list, const std::string& item, bool alwaysQuoted) {
  if (item.empty()) return true;
  static const char kPlain[] = "#$'*+,-./:;=?@[\\]_`{}~";
  bool quoted = alwaysQuoted;
  for (unsigned char c : item) {
    if (c == '%' || c == '"' || c == '\r' || c == '\n') return false;
    bool plain = c >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
                 (c != 0 && strchr(kPlain, c));
    quoted |= !plain;
  }
  if (!list.empty()) list += ' ';
  list += quoted ? '"' + item + '"' : item;
  return true;
}
