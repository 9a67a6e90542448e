// A program's headers and resource tree, read, given a version, a cabinet and an option list, and
// rebuilt: whatever the image, reading ends with a message, and an image rebuilt reads back with
// the same resources.
#include <algorithm>
#include <tuple>

#include "packager/pe_resources.h"
#include "packager/version_resource.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Items in the order of their keys as written, which the tree keeps exactly.
auto Key(const ResourceItem& i) {
  return std::tie(i.Type.Named, i.Type.Id, i.Type.Text, i.Name.Named, i.Name.Id, i.Name.Text, i.Language);
}

bool SameItem(const ResourceItem& a, const ResourceItem& b) {
  return Key(a) == Key(b) && a.CodePage == b.CodePage && a.Size() == b.Size() && (!a.Held || !b.Held || a.Data == b.Data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PeImage image;
  std::string error;
  std::vector<ResourceItem> items;
  if (!ReadPeImage(FuzzFile("stub.exe", std::string(reinterpret_cast<const char*>(data), size)), image, error) ||
      !ReadResources(image, items, error)) {
    ExpectShown(error);
    return 0;
  }
  CheckRunnerImage(image, error);
  VersionSettings version;
  version.ProductName = "Fuzzed \xE2\x80\xAE";
  version.FileVersion = "1.2.3.4";
  ApplyVersion(items, version, error);
  PutRcData(items, "CAB", "MSCF");
  PutRcData(items, "OPT", std::string("HideWindow=1\0\0", 14));
  const std::filesystem::path rebuilt = FuzzFile("rebuilt.exe", "");
  {
    std::ofstream out(rebuilt, std::ios::binary | std::ios::trunc);
    if (!RebuildResources(image, items, out, error)) return 0;
  }
  PeImage again;
  std::vector<ResourceItem> back;
  if (!ReadPeImage(rebuilt, again, error) || !ReadResources(again, back, error) || back.size() != items.size())
    std::abort();
  auto less = [](const ResourceItem& a, const ResourceItem& b) { return Key(a) < Key(b); };
  std::sort(items.begin(), items.end(), less);
  std::sort(back.begin(), back.end(), less);
  if (!std::equal(items.begin(), items.end(), back.begin(), SameItem)) std::abort();
  return 0;
}
