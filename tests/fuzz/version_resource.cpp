// A version resource, read for --list and changed for packing: whatever its bytes, reading ends
// with an answer, and one changed reads back with the values set.
#include "packager/version_resource.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResourceItem item;
  item.Type = ResourceId(PeResourceVersion);
  item.Name = ResourceId(1);
  item.Data.assign(reinterpret_cast<const char*>(data), size);
  VersionFacts facts;
  ReadVersion(item.Data, facts);
  std::vector<ResourceItem> items = {item};
  VersionSettings settings;
  settings.ProductName = "Board firmware";
  settings.ProductVersion = "2.1.0.0";
  std::string error;
  if (ApplyVersion(items, settings, error) != VersionResult::Applied) return 0;
  if (!ReadVersion(items[0].Data, facts) || facts.ProductVersion != "2.1.0.0" || facts.FileVersion != "2.1.0.0")
    std::abort();
  return 0;
}
