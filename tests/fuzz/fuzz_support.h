// What the harnesses share: the readers read files, so each input goes into a file of the
// process's own; and what --list may print (nothing that drives a terminal).
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "packager/text.h"

// A file named `name` in a folder of this process, holding `bytes`.
inline std::filesystem::path FuzzFile(const std::string& name, const std::string& bytes) {
  static const std::filesystem::path folder = [] {
    std::filesystem::path made = std::filesystem::temp_directory_path() / ("cabpack_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(made);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::temp_directory_path() / ("cabpack_fuzz_" + std::to_string(getpid())), ec);
    });
    return made;
  }();
  std::filesystem::path file = folder / name;
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
  return file;
}

// Aborts (a finding) unless every line of `text` is as ShownText leaves it: no control
// character but the line ends, no bidirectional mark, nothing but well-formed UTF-8.
inline void ExpectShown(const std::string& text) {
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos || start < text.size(); start = end + 1) {
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (ShownText(line, true) != line) std::abort();
  }
}
