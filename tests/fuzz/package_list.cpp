// --list and --save-cab on any file: a package (PE headers, resource tree, option list, version,
// icon groups, signature, digests, cabinet) or a plain cabinet. Whatever the file, cabpack ends
// with a message, and what it prints cannot drive a terminal.
#include <sstream>

#include "packager/package_cli.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string package = FuzzFile("package.exe", std::string(reinterpret_cast<const char*>(data), size)).string();
  std::ostringstream out, err;
  RunCabpack({"--list", package}, out, err);
  ExpectShown(out.str());
  ExpectShown(err.str());
  std::ostringstream saved, savedErr;
  RunCabpack({"--save-cab", package, "-o", FuzzFile("saved.cab", "").string()}, saved, savedErr);
  ExpectShown(savedErr.str());
  return 0;
}
