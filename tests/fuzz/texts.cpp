// The text helpers: what --list shows is inert and shows every byte it does not pass on; UTF-8
// survives the trip through UTF-16; a Windows command line splits back into exactly its words
// (as the C runtime splits it); a signing command splits without a crash.
#include <vector>

#include "packager/signing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The arguments after the program's name as the Microsoft C runtime reads them.
std::vector<std::string> SplitLikeTheCRuntime(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) return words;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      size_t backslashes = 0;
      for (; i < line.size() && line[i] == '\\'; ++i) ++backslashes;
      if (i < line.size() && line[i] == '"') {
        word.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          word += '"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          word += '"', ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        word.append(backslashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) word += line[i++];
      }
    }
    words.push_back(word);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool utf8 : {false, true}) {
    std::string shown = ShownText(bytes, utf8);
    if (shown.find('\n') != std::string::npos) std::abort();
    ExpectShown(shown);
  }
  std::u16string wide;
  if (Utf8To16(bytes, wide) && Utf16To8(wide) != bytes) std::abort();

  // Words split at the NULs, which no argument can hold.
  std::vector<std::string> words = {"sign.exe"};
  for (size_t at = 0; at <= bytes.size();) {
    size_t end = std::min(bytes.find('\0', at), bytes.size());
    words.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  std::vector<std::string> back = SplitLikeTheCRuntime(WindowsCommandLine(words));
  if (back != words) std::abort();

  std::string error;
  SplitSignCommand(bytes, words, error);
  return 0;
}
