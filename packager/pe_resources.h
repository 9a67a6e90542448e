// Reads the resources of a 32-bit PE image and rebuilds its resource section, with no help
// from Windows. Portable C++17; used by the packager.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A resource type or name: a number, or a text (UTF-16) when Named.
struct ResourceKey {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Text;
};

struct ResourceItem {
  ResourceKey Type, Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  std::string Data;
};

constexpr uint16_t RtRcData = 10;

ResourceKey ResourceId(uint16_t id);
ResourceKey ResourceName(const std::string& asciiName);
std::string ResourceKeyText(const ResourceKey& key);  // "#10", "CAB"; non-ASCII as '?'
bool SameResourceKey(const ResourceKey& a, const ResourceKey& b);

// A checked view of a PE32 file held in memory.
struct PeImage {
  std::string Bytes;
  uint32_t OptionalHeader = 0;  // file offset of the optional header
  uint32_t SectionTable = 0;
  uint16_t SectionCount = 0;
};

bool ReadPeImage(const std::string& bytes, PeImage& image, std::string& error);
bool ReadResources(const PeImage& image, std::vector<ResourceItem>& items, std::string& error);

// The bytes of the image with `items` as its whole resource tree. A resource section that ends
// the file is replaced in place; otherwise a new one is added after the last section.
// An Authenticode signature is dropped: it could not stay valid.
bool RebuildResources(const PeImage& image, const std::vector<ResourceItem>& items, std::string& output,
                      std::string& error);

// Replaces (all languages of) or adds the raw-data resource `name`.
void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const std::string& data);
const ResourceItem* FindRcData(const std::vector<ResourceItem>& items, const std::string& name);
