// An .ico file is a directory of images (16 bytes each: size, colours, planes, bits, byte count,
// file offset) followed by the images, PNG or a bitmap without its file header. In a program the
// images become RT_ICON resources and the directory an RT_GROUP_ICON resource whose 14-byte
// entries name each image by its resource id instead of its offset.
#include "packager/icon_resource.h"

#include <algorithm>
#include <set>

#include "format/byte_order.h"

namespace {

constexpr size_t IcoEntrySize = 16, GroupEntrySize = 14;


bool IsType(const ResourceItem& item, uint16_t type) { return !item.Type.Named && item.Type.Id == type; }

// Planes and bits per pixel of an image, for entries that leave them 0 (Windows picks by them).
void ImageDepth(const std::string& image, uint32_t& planes, uint32_t& bits) {
  if (image.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) {
    static const uint32_t channels[] = {1, 0, 3, 1, 2, 0, 4};  // by PNG colour type
    uint32_t type = uint8_t(image[25]);
    planes = 1;
    bits = uint8_t(image[24]) * (type < 7 ? channels[type] : 0);
  } else {
    planes = Get16(image, 12);
    bits = Get16(image, 14);
  }
}

}  // namespace

bool ApplyIcon(std::vector<ResourceItem>& items, const std::string& ico, std::string& error) {
  error = "it is not an icon file (.ico)";
  if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1 || Get16(ico, 4) == 0) return false;
  size_t count = Get16(ico, 4);
  if (6 + count * IcoEntrySize > ico.size()) {
    error = "it is cut short: its directory runs past its end";
    return false;
  }
  std::vector<std::string> images;
  for (size_t i = 0; i < count; ++i) {
    size_t entry = 6 + i * IcoEntrySize;
    uint64_t bytes = Get32(ico, entry + 8), at = Get32(ico, entry + 12);
    if (bytes == 0 || at + bytes > ico.size()) {
      error = "it is cut short: image " + std::to_string(i + 1) + " lies beyond its end";
      return false;
    }
    std::string image = ico.substr(size_t(at), size_t(bytes));
    bool png = image.size() >= 33 && image.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0;
    if (!png && (image.size() < 40 || Get32(image, 0) != 40)) {
      error = "image " + std::to_string(i + 1) + " is neither PNG nor a bitmap";
      return false;
    }
    images.push_back(image);
  }

  // The group to replace: the first, as the tree is sorted; its icons go with it.
  auto group = std::find_if(items.begin(), items.end(), [](const ResourceItem& i) { return IsType(i, PeResourceGroupIcon); });
  ResourceItem fresh;
  fresh.Type = ResourceId(PeResourceGroupIcon);
  fresh.Name = ResourceId(1);
  std::set<uint16_t> oldIcons;
  if (group != items.end()) {
    fresh.Name = group->Name;
    fresh.Language = group->Language;
    for (const ResourceItem& item : items) {
      if (!IsType(item, PeResourceGroupIcon) || !SameResourceKey(item.Name, fresh.Name) || !item.Held) continue;
      for (size_t at = 6; at + GroupEntrySize <= item.Data.size(); at += GroupEntrySize)
        oldIcons.insert(uint16_t(Get16(item.Data, at + 12)));
    }
  }
  items.erase(std::remove_if(items.begin(), items.end(),
                             [&](const ResourceItem& i) {
                               return (IsType(i, PeResourceGroupIcon) && SameResourceKey(i.Name, fresh.Name)) ||
                                      (IsType(i, PeResourceIcon) && !i.Name.Named && oldIcons.count(i.Name.Id));
                             }),
              items.end());
  std::set<uint16_t> taken;
  for (const ResourceItem& item : items)
    if (IsType(item, PeResourceIcon) && !item.Name.Named) taken.insert(item.Name.Id);
  // The lowest free ids from 1: 0 names no resource.
  std::vector<uint16_t> ids;
  for (uint32_t id = 1; id <= 0xFFFF && ids.size() < count; ++id)
    if (!taken.count(uint16_t(id))) ids.push_back(uint16_t(id));
  if (ids.size() < count) {
    error = "the stub has " + std::to_string(ids.size()) + " free icon ids for its " + std::to_string(count) + " images";
    return false;
  }

  Put16(fresh.Data, 0);
  Put16(fresh.Data, 1);
  Put16(fresh.Data, uint32_t(count));
  for (size_t i = 0; i < count; ++i) {
    size_t entry = 6 + i * IcoEntrySize;
    uint32_t planes = Get16(ico, entry + 4), bits = Get16(ico, entry + 6);
    if (planes == 0 || bits == 0) ImageDepth(images[i], planes, bits);
    fresh.Data += ico.substr(entry, 4);  // width, height, colours, reserved
    Put16(fresh.Data, planes);
    Put16(fresh.Data, bits);
    fresh.Data += ico.substr(entry + 8, 4);  // byte count
    Put16(fresh.Data, ids[i]);
    ResourceItem icon;
    icon.Type = ResourceId(PeResourceIcon);
    icon.Name = ResourceId(ids[i]);
    icon.Language = fresh.Language;
    icon.Data = images[i];
    items.push_back(icon);
  }
  items.push_back(fresh);
  error.clear();
  return true;
}

std::vector<std::string> IconGroupSizes(const std::string& group) {
  std::vector<std::string> sizes;
  for (size_t at = 6; at + GroupEntrySize <= group.size(); at += GroupEntrySize) {
    uint32_t width = uint8_t(group[at]), height = uint8_t(group[at + 1]);
    sizes.push_back(std::to_string(width ? width : 256) + "x" + std::to_string(height ? height : 256) + " " +
                    std::to_string(Get16(group, at + 6)) + "-bit");
  }
  return sizes;
}
