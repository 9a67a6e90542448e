// An .ico file given with --icon, put into a stub that has an icon group already: whatever its
// bytes, it is refused with a message or becomes one group whose icons have ids of their own.
#include <set>

#include "format/byte_order.h"
#include "packager/icon_resource.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ResourceItem> items(3);
  items[0].Type = ResourceId(PeResourceIcon), items[0].Name = ResourceId(1), items[0].Data = "old";
  items[1].Type = ResourceId(PeResourceIcon), items[1].Name = ResourceId(3), items[1].Data = "kept";
  items[2].Type = ResourceId(PeResourceGroupIcon), items[2].Name = ResourceId(7);
  items[2].Data = std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\3\0\0\0\1\0", 20);  // one image: icon #1
  std::string error;
  const std::string ico(reinterpret_cast<const char*>(data), size);
  if (!ApplyIcon(items, ico, error)) return 0;
  std::set<uint16_t> ids;
  const ResourceItem* group = nullptr;
  for (const ResourceItem& item : items) {
    if (item.Type.Id == PeResourceGroupIcon) group = &item;
    if (item.Type.Id == PeResourceIcon && (item.Name.Id == 0 || !ids.insert(item.Name.Id).second)) std::abort();
  }
  if (!group || IconGroupSizes(group->Data).size() != Get16(ico, 4) || ids.size() != Get16(ico, 4) + 1u) std::abort();
  return 0;
}
