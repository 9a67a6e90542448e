// The package file is read here rather than with libinih: MinGW has no libinih, and one reader
// for both builds is what makes a package file mean the same to the Linux and the Windows cabpack.
// Comments follow inih's default rules; there are no sections, no continuation lines, and only
// '=' stands between a name and its value:
//   - a UTF-8 byte order mark at the start is skipped, and a CR before a line's end is dropped
//     (a file saved by Notepad reads as one saved on Linux);
//   - blanks around names and values go; a line whose first character is ';' or '#' is a comment;
//   - in a value, a ';' that follows a blank or tab starts a comment, whatever the name: a text
//     value keeps "a;b" but not "a ; b", and an option is never spoiled by a trailing comment;
//   - a value that starts and ends with a double quote loses that one pair, as Windows' own INI
//     reader takes it: the blanks and any ';' inside stay ("  x " keeps its blanks), and a comment
//     may follow the closing quote. Quotes inside stay as they are, so a value meant to start and
//     end with quotes (arguments = ""a b" /s") is written in one more pair.
#include "packager/package_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "packager/file_span.h"

namespace {

const char* const Blanks = " \t";

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(Blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// The value without a trailing "; comment".
std::string WithoutComment(const std::string& value) {
  for (size_t i = 1; i < value.size(); ++i)
    if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) return value.substr(0, i);
  return value;
}

// What follows '=': the text inside one pair of double quotes around it (a comment may follow),
// or else the text up to a comment, without the blanks around it.
std::string Value(const std::string& afterEquals) {
  std::string text = Trimmed(afterEquals);
  for (size_t quote = 1; !text.empty() && text[0] == '"' && quote < text.size(); ++quote) {
    if (text[quote] != '"') continue;
    std::string rest = Trimmed(text.substr(quote + 1));
    if (rest.empty() || rest[0] == ';') return text.substr(1, quote - 1);
  }
  return Trimmed(WithoutComment(afterEquals));
}

// Why one line cannot be taken, or "" when it is taken.
std::string ReadLine(const std::string& raw, int number,
                     const std::function<bool(int, const std::string&, const std::string&, std::string&)>& apply) {
  std::string line = Trimmed(raw);
  if (line.empty() || line[0] == ';' || line[0] == '#') return std::string();
  if (line[0] == '[')
    return "a package file has no sections: remove \"" + line + "\" and keep the names below it";
  size_t equals = line.find('=');
  std::string name = equals == std::string::npos ? std::string() : Trimmed(line.substr(0, equals));
  if (name.empty()) return "\"" + line + "\" is not \"name = value\", a comment (; or #) or empty";
  std::string message;
  if (apply(number, name, Value(line.substr(equals + 1)), message)) return std::string();
  return message;
}

}  // namespace

bool ReadPackageFile(
    const std::string& path,
    const std::function<bool(int line, const std::string& name, const std::string& value, std::string& error)>& apply,
    std::string& error) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream read;
  if (!in || (!(read << in.rdbuf()) && in.peek() != std::char_traits<char>::eof())) {
    error = "cannot read the package file \"" + path + "\": " + UnreadableReason(std::filesystem::u8path(path));
    return false;
  }
  std::string text = read.str();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string message = ReadLine(line, number, apply);
    if (!message.empty()) {
      error = "the package file \"" + path + "\", line " + std::to_string(number) + ": " + message;
      return false;
    }
  }
  return true;
}
