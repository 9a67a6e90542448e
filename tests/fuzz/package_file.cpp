// A package file (cabpack build FILE): whatever its text, reading ends with settings or a message
// naming the line.
#include "packager/switches.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = FuzzFile("update.ini", std::string(reinterpret_cast<const char*>(data), size)).string();
  Settings settings;
  Failure failure;
  ParseArguments({"build", file}, settings, failure);
  return 0;
}
