#include "sys/number_text.h"

#include <windows.h>

std::string DecimalText(int32_t n) {
  // Not std::to_string: user32's formatter is linked already, the library's would add a table.
  char text[12];
  return std::string(text, static_cast<size_t>(wsprintfA(text, "%d", n)));
}

std::string HexText(uint32_t n, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (digits > 32) digits = 0;
  std::string text;
  do {
    text.insert(text.begin(), kDigits[n & 0xF]);
    n >>= 4;
  } while (n != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
  return text;
}
