// A version resource is a tree of nodes: length, value length, type (1 for text), a UTF-16 key,
// the value and the children, each part starting on a 4-byte boundary. The tree is read whole,
// changed and written back, so entries cabpack does not know stay as they were.
#include "packager/version_resource.h"

#include <algorithm>
#include <cstdlib>

#include "format/byte_order.h"
#include "packager/text.h"

namespace {

constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr uint16_t UsEnglish = 0x0409, UnicodeCodePage = 1200;
constexpr size_t MaxNodeLength = 0xFFFF;  // a node's length is 16 bits, the whole resource's too

struct VersionNode {
  std::u16string Key;
  uint16_t Type = 0;         // 1: the value is text
  uint16_t ValueLength = 0;  // as stored: characters for text, bytes otherwise
  std::string Value;
  std::vector<VersionNode> Children;
};

size_t Align4(size_t v) { return (v + 3) & ~size_t(3); }

// Children are found as Windows finds them: after the value as its stored length gives it.
bool ReadNode(const std::string& b, size_t at, size_t end, int depth, VersionNode& node) {
  if (depth > 6 || at + 6 > end) return false;
  size_t length = Get16(b, at), nodeEnd = at + length;
  if (length < 6 || nodeEnd > end) return false;
  node.ValueLength = uint16_t(Get16(b, at + 2));
  node.Type = uint16_t(Get16(b, at + 4));
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > nodeEnd) return false;
    char16_t c = char16_t(Get16(b, p));
    if (c == 0) break;
    node.Key += c;
  }
  p = Align4(p + 2);
  // A value said to run past its node is taken as far as it goes, and its length with it: written
  // back, the node must say how long its value is, or its new children would be read from inside it.
  const size_t unit = node.Type == 1 ? 2 : 1, valueBytes = node.ValueLength * unit;
  const size_t held = p < nodeEnd ? std::min(valueBytes, (nodeEnd - p) / unit * unit) : 0;
  node.Value = held ? b.substr(p, held) : std::string();
  node.ValueLength = uint16_t(held / unit);
  for (p = Align4(p + valueBytes); p + 6 <= nodeEnd; p = Align4(p + Get16(b, p))) {
    VersionNode child;
    if (!ReadNode(b, p, nodeEnd, depth + 1, child)) return false;
    node.Children.push_back(child);
  }
  return true;
}

// False when the node, or one inside it, is longer than its 16-bit length can say: Windows would
// read such a resource cut short.
bool WriteNode(std::string& out, const VersionNode& node) {
  size_t start = out.size();
  Put16(out, 0);
  Put16(out, node.ValueLength);
  Put16(out, node.Type);
  for (char16_t c : node.Key) Put16(out, c);
  Put16(out, 0);
  out.resize(Align4(out.size()), '\0');
  out += node.Value;
  bool fits = true;
  for (const VersionNode& child : node.Children) {
    out.resize(Align4(out.size()), '\0');
    fits = WriteNode(out, child) && fits;
  }
  Set16(out, start, uint32_t(out.size() - start));
  return fits && out.size() - start <= MaxNodeLength;
}

std::u16string Ascii16(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

// "a.b.c.d" as the two 32-bit halves of the fixed information.
bool ParseVersion(const std::string& text, uint32_t& high, uint32_t& low) {
  uint32_t parts[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = i < 3 ? text.find('.', at) : text.size();
    if (end == std::string::npos || end == at || end - at > 5) return false;
    std::string part = text.substr(at, end - at);
    if (part.find_first_not_of("0123456789") != std::string::npos || std::atol(part.c_str()) > 0xFFFF) return false;
    parts[i] = uint32_t(std::atol(part.c_str()));
    at = end + 1;
  }
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
  return true;
}

std::string VersionText(uint32_t high, uint32_t low) {
  return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
         std::to_string(low & 0xFFFF);
}

VersionNode* Child(VersionNode& node, const std::u16string& key) {
  for (VersionNode& child : node.Children)
    if (child.Key == key) return &child;
  return nullptr;
}

VersionNode& ChildOrNew(VersionNode& node, const std::u16string& key, uint16_t type) {
  if (VersionNode* child = Child(node, key)) return *child;
  node.Children.push_back(VersionNode());
  node.Children.back().Key = key;
  node.Children.back().Type = type;
  return node.Children.back();
}

void SetText(VersionNode& node, const std::u16string& text) {
  node.Type = 1;
  node.ValueLength = uint16_t(text.size() + 1);
  node.Value.clear();
  for (char16_t c : text) Put16(node.Value, c);
  Put16(node.Value, 0);
}

std::string FixedInfo() {
  std::string info;
  for (uint32_t v : {FixedInfoSignature, 0x00010000u, 0u, 0u, 0u, 0u, 0x3Fu, 0u, 0x00040004u, 1u, 0u, 0u, 0u})
    Put32(info, v);  // signature, layout 1.0, versions, flag mask, no flags, Windows NT, application
  return info;
}

// A version resource with only the fixed information and an empty US-English string table.
VersionNode NewVersion() {
  VersionNode root;
  root.Key = Ascii16("VS_VERSION_INFO");
  root.Value = FixedInfo();
  root.ValueLength = uint16_t(root.Value.size());
  VersionNode& strings = ChildOrNew(root, Ascii16("StringFileInfo"), 1);
  ChildOrNew(strings, Ascii16("040904B0"), 1);
  VersionNode& translation = ChildOrNew(ChildOrNew(root, Ascii16("VarFileInfo"), 1), Ascii16("Translation"), 0);
  Put16(translation.Value, UsEnglish);
  Put16(translation.Value, UnicodeCodePage);
  translation.ValueLength = 4;
  return root;
}

}  // namespace

bool IsVersionNumber(const std::string& text) {
  uint32_t high = 0, low = 0;
  return ParseVersion(text, high, low);
}

bool VersionSettings::Empty() const {
  return ProductName.empty() && ProductVersion.empty() && FileVersion.empty() && Company.empty() &&
         Copyright.empty() && Description.empty() && OriginalFilename.empty();
}

VersionResult ApplyVersion(std::vector<ResourceItem>& items, const VersionSettings& settings, std::string& error) {
  std::string fileVersion = settings.FileVersion.empty() ? settings.ProductVersion : settings.FileVersion;
  std::string productVersion = settings.ProductVersion.empty() ? settings.FileVersion : settings.ProductVersion;
  uint32_t fileHigh = 0, fileLow = 0, productHigh = 0, productLow = 0;
  for (const std::string* version : {&fileVersion, &productVersion}) {
    if (!version->empty() && !ParseVersion(*version, version == &fileVersion ? fileHigh : productHigh,
                                           version == &fileVersion ? fileLow : productLow)) {
      error = "the version \"" + *version + "\" is not four numbers a.b.c.d from 0 to 65535";
      return VersionResult::BadValue;
    }
  }
  std::string stem = settings.OriginalFilename.substr(0, settings.OriginalFilename.rfind('.'));
  const struct {
    const char* Key;
    const char* Switch;  // that gives the value, for messages
    const std::string* Value;
  } texts[] = {
      {"CompanyName", "--company", &settings.Company},
      {"FileDescription", "--description", &settings.Description},
      {"FileVersion", "--file-version", &fileVersion},
      {"InternalName", "--original-filename", &stem},
      {"LegalCopyright", "--copyright", &settings.Copyright},
      {"OriginalFilename", "--original-filename", &settings.OriginalFilename},
      {"ProductName", "--product-name", &settings.ProductName},
      {"ProductVersion", "--product-version", &productVersion},
  };
  std::vector<std::pair<std::u16string, std::u16string>> values;
  const char* longest = nullptr;
  size_t longestLength = 0;
  for (const auto& text : texts) {
    std::u16string value;
    if (text.Value->empty()) continue;
    if (!Utf8To16(*text.Value, value)) {
      error = "the text \"" + *text.Value + "\" for " + text.Key + " is not UTF-8";
      return VersionResult::BadValue;
    }
    values.push_back({Ascii16(text.Key), value});
    if (value.size() > longestLength) longest = text.Switch, longestLength = value.size();
  }

  bool found = false;
  for (const ResourceItem& item : items) found = found || (!item.Type.Named && item.Type.Id == PeResourceVersion);
  if (!found) {
    ResourceItem item;
    item.Type = ResourceId(PeResourceVersion);
    item.Name = ResourceId(1);
    item.Language = UsEnglish;
    WriteNode(item.Data, NewVersion());
    items.push_back(item);
  }
  for (ResourceItem& item : items) {
    if (item.Type.Named || item.Type.Id != PeResourceVersion) continue;
    VersionNode root;
    if (!item.Held || !ReadNode(item.Data, 0, item.Data.size(), 0, root) || root.Value.size() < 52 ||
        Get32(root.Value, 0) != FixedInfoSignature) {
      error = "the stub's version resource is damaged";
      return VersionResult::StubDamaged;
    }
    auto setFixed = [&](size_t at, uint32_t high, uint32_t low) {
      std::string numbers;
      Put32(numbers, high);
      Put32(numbers, low);
      root.Value.replace(at, 8, numbers);
    };
    if (!fileVersion.empty()) setFixed(8, fileHigh, fileLow);
    if (!productVersion.empty()) setFixed(16, productHigh, productLow);
    VersionNode& strings = ChildOrNew(root, Ascii16("StringFileInfo"), 1);
    if (strings.Children.empty()) ChildOrNew(strings, Ascii16("040904B0"), 1);
    for (VersionNode& table : strings.Children)
      for (const auto& value : values) SetText(ChildOrNew(table, value.first, 1), value.second);
    item.Data.clear();
    if (!WriteNode(item.Data, root)) {
      error = "the version texts would make the version resource " + std::to_string(item.Data.size()) +
              " bytes, more than its 16-bit lengths can say (" + std::to_string(MaxNodeLength) + "): shorten " +
              longest + " (" + std::to_string(longestLength) + " characters)";
      return VersionResult::BadValue;
    }
  }
  return VersionResult::Applied;
}

bool ReadVersion(const std::string& data, VersionFacts& facts) {
  VersionNode root;
  facts = VersionFacts();
  if (!ReadNode(data, 0, data.size(), 0, root) || root.Value.size() < 52 ||
      Get32(root.Value, 0) != FixedInfoSignature)
    return false;
  facts.FileVersion = VersionText(Get32(root.Value, 8), Get32(root.Value, 12));
  facts.ProductVersion = VersionText(Get32(root.Value, 16), Get32(root.Value, 20));
  VersionNode* strings = Child(root, Ascii16("StringFileInfo"));
  if (strings && !strings->Children.empty()) {
    for (const VersionNode& text : strings->Children[0].Children) {
      std::u16string value;
      for (size_t i = 0; i + 1 < text.Value.size(); i += 2) value += char16_t(Get16(text.Value, i));
      while (!value.empty() && value.back() == 0) value.pop_back();
      facts.Strings.push_back({Utf16To8(text.Key), Utf16To8(value)});
    }
  }
  return true;
}
