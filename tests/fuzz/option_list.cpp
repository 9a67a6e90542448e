// A package's option list, read as the runner reads it: whatever its bytes, every entry is shown
// safely; and fixed arguments written by cabpack read back as they were.
#include "packager/package_options.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const OptionListEntry& entry : ReadOptionList(bytes)) ExpectShown(ShownText(entry.Key + "=" + entry.Value, true));
  const std::string arguments = bytes.substr(0, bytes.find('\0'));
  std::vector<OptionListEntry> entries = ReadOptionList(BuildOptionList({{0, true}}, arguments, std::string("title")));
  if (entries.size() != 3 || !entries[1].Arguments || entries[1].Value != arguments || !entries[2].Title) std::abort();
  return 0;
}
