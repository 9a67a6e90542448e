#include "packager/text.h"

#include <algorithm>
#include <cstdio>

namespace {

// Levenshtein distance, ignoring case: how far a mistyped name is from a known one.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::string x = Upper(a), y = Upper(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

}  // namespace

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

std::string Counted(uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Enumerated(const std::vector<std::string>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) text += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
  return text;
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 4) + 1;
  for (const std::string& name : names) {
    size_t d = EditDistance(word, name);
    if (d < bestDistance) best = name, bestDistance = d;
  }
  return best.empty() ? std::string() : "; did you mean " + best + "?";
}

size_t Utf8CharLength(const std::string& s, size_t at, uint32_t& code) {
  unsigned char c = s[at];
  size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || at + length > s.size()) return 0;
  code = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((s[at + k] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[at + k] & 0x3F);
  }
  static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  return code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ? 0 : length;
}

bool Utf8To16(const std::string& in, std::u16string& out) {
  out.clear();
  for (size_t at = 0, length; at < in.size(); at += length) {
    uint32_t code = 0;
    if ((length = Utf8CharLength(in, at, code)) == 0) return false;
    if (code >= 0x10000) {
      out += char16_t(0xD800 + ((code - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += char16_t(code);
    }
  }
  return true;
}

bool IsUtf8(const std::string& text) {
  std::u16string wide;
  return Utf8To16(text, wide);
}

std::string Utf16To8(const std::u16string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t code = in[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] < 0xE000)
      code = 0x10000 + ((code - 0xD800) << 10) + (in[++i] - 0xDC00);
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | code >> 6), out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | code >> 12), out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | code >> 18), out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    }
  }
  return out;
}

namespace {

bool IsShown(uint32_t code) {
  return code >= 0x20 && !(code >= 0x7F && code < 0xA0) && code != 0x061C && code != 0x200E && code != 0x200F &&
         !(code >= 0x2028 && code <= 0x202E) && !(code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string ShownText(const std::string& text, bool utf8) {
  std::string shown;
  for (size_t at = 0; at < text.size();) {
    uint32_t code = uint8_t(text[at]);
    size_t length = utf8 ? Utf8CharLength(text, at, code) : code < 0x80;
    if (length && IsShown(code)) {
      shown.append(text, at, length);
      at += length;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", unsigned(uint8_t(text[at++])));
      shown += hex;
    }
  }
  return shown;
}

std::string WindowsCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) {
      line += word;
      continue;
    }
    line += '"';
    for (size_t i = 0;; ++i) {
      size_t backslashes = 0;
      for (; i < word.size() && word[i] == '\\'; ++i) ++backslashes;
      if (i == word.size()) {
        line.append(backslashes * 2, '\\');  // before the closing quote
        break;
      }
      line.append(word[i] == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      line += word[i];
    }
    line += '"';
  }
  return line;
}
