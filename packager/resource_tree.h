// A program's resources as a flat list of items, read from and laid out as a PE resource tree.
// Portable C++17.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "packager/file_span.h"
#include "packager/pe_image.h"

// A resource type or name: a number, or a text (UTF-16) when Named.
struct ResourceKey {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Text;
};

// Data of this size and more stays in its file when resources are read.
constexpr uint32_t LargeResourceData = 1 << 20;

struct ResourceItem {
  ResourceKey Type, Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  std::string Data;  // the bytes, when Held
  FileSpan Place;    // where the bytes lie in a file, for data read from one or not Held
  bool Held = true;  // false for large data, which is copied from Place when written
  uint64_t Size() const { return Held ? Data.size() : Place.Size; }
};

ResourceKey ResourceId(uint16_t id);
ResourceKey ResourceName(const std::string& asciiName);
std::string ResourceKeyText(const ResourceKey& key);  // "#10", "CAB"; a name as ShownText shows it
bool SameResourceKey(const ResourceKey& a, const ResourceKey& b);

bool ReadResources(const PeImage& image, std::vector<ResourceItem>& items, std::string& error);

// Where data that is not held goes in the section, to be copied there from its file.
struct PlacedData {
  uint64_t At;
  const ResourceItem* Item;
};

// Lays out the tree at `sectionRva`: the returned bytes hold everything up to the end of the held
// data; the data not held follows at the places in `placed`, the section ending at `size`.
std::string LayOutResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva,
                                  std::vector<PlacedData>& placed, uint64_t& size);

// Replaces (all languages of) or adds the raw-data resource `name`, held or copied from a file.
void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const std::string& data);
void PutRcData(std::vector<ResourceItem>& items, const std::string& name, const FileSpan& place);
void RemoveRcData(std::vector<ResourceItem>& items, const std::string& name);
const ResourceItem* FindRcData(const std::vector<ResourceItem>& items, const std::string& name);
// Every item the loader may take for the raw-data resource `name`: its languages, its spellings.
std::vector<const ResourceItem*> RcDataCopies(const std::vector<ResourceItem>& items, const std::string& name);
