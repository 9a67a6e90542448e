#include "packager/package_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef CABPACK_WITHOUT_INIH
#include <ini.h>
#endif

namespace {

#ifndef CABPACK_WITHOUT_INIH

constexpr int LongestLine = 65536;

struct Reading {
  std::string Text;
  size_t At = 0;
  int Line = 0;
  const std::function<bool(const std::string&, const std::string&, std::string&)>* Apply = nullptr;
  std::string Error;  // the first failure, with its line
};

// inih's line reader over the file's text; it counts the lines, so messages can name them.
char* ReadLine(char* into, int room, void* stream) {
  Reading& r = *static_cast<Reading*>(stream);
  if (r.At >= r.Text.size() || !r.Error.empty()) return nullptr;
  size_t end = r.Text.find('\n', r.At);
  end = end == std::string::npos ? r.Text.size() : end + 1;
  ++r.Line;
  if (end - r.At >= size_t(room)) {
    r.Error = "line " + std::to_string(r.Line) + " is longer than " + std::to_string(LongestLine - 3) + " characters";
    return nullptr;
  }
  r.Text.copy(into, end - r.At, r.At);
  into[end - r.At] = '\0';
  r.At = end;
  return into;
}

int OnEntry(void* user, const char* section, const char* name, const char* value) {
  Reading& r = *static_cast<Reading*>(user);
  if (!r.Error.empty()) return 0;
  std::string message;
  if (*section != '\0')
    message = "\"" + std::string(name) + "\" stands in the section [" + section + "]; a package file has no sections";
  else if ((*r.Apply)(name, value, message))
    return 1;
  r.Error = "line " + std::to_string(r.Line) + ": " + message;
  return 0;
}

#endif

}  // namespace

bool ReadPackageFile(const std::string& path,
                     const std::function<bool(const std::string& name, const std::string& value, std::string& error)>& apply,
                     std::string& error) {
#ifdef CABPACK_WITHOUT_INIH
  (void)apply;
  error = "this build of cabpack reads no package files (\"" + path + "\"); give the settings as switches";
  return false;
#else
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream text;
  if (!in || (!(text << in.rdbuf()) && in.peek() != std::char_traits<char>::eof())) {
    error = "cannot read the package file \"" + path + "\"";
    return false;
  }
  Reading reading;
  reading.Text = text.str();
  reading.Apply = &apply;
  // A ';' may stand in a value (a description, a copyright line): comments are whole lines only.
  ini_allow_inline_comments = false;
  ini_allow_multiline = false;
  ini_use_stack = false;
  ini_max_line = LongestLine;
  int bad = ini_parse_stream(ReadLine, &reading, OnEntry, &reading);
  if (reading.Error.empty() && bad > 0)
    reading.Error = "line " + std::to_string(bad) + " is not \"name = value\", a comment (; or #) or empty";
  else if (reading.Error.empty() && bad != 0)
    reading.Error = "cannot be read";
  if (reading.Error.empty()) return true;
  error = "the package file \"" + path + "\", " + reading.Error;
  return false;
#endif
}
