#include "packager/signing.h"

#include "format/byte_order.h"
#include "format/pe.h"
#include "packager/file_span.h"
#include "packager/package_host.h"
#include "packager/staged_output.h"
#include "packager/text.h"

namespace fs = std::filesystem;

namespace {

// A signature is a few kilobytes; a larger table is named but not read.
constexpr uint32_t MaxTableRead = 1 << 20;

// ---- A bounded DER reader ----
// Enough of DER to find a signer's name: definite lengths of up to 4 bytes, one-byte tags. Every
// element must lie within its parent; anything else ends the walk with no name, never a crash.

constexpr uint8_t DerInteger = 0x02, DerOid = 0x06, DerSequence = 0x30, DerSet = 0x31, DerContext0 = 0xA0;
constexpr uint8_t DerUtf8String = 0x0C, DerPrintableString = 0x13, DerT61String = 0x14, DerIa5String = 0x16;
const std::string SignedDataOid("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9);  // 1.2.840.113549.1.7.2
const std::string CommonNameOid("\x55\x04\x03", 3);                          // 2.5.4.3

struct DerItem {
  uint8_t Tag = 0;
  size_t Begin = 0, Content = 0, End = 0;  // the tag's place, the contents' place, one past them
};

bool ReadDer(const std::string& b, size_t at, size_t end, DerItem& item) {
  if (end > b.size() || at >= end || end - at < 2 || (uint8_t(b[at]) & 0x1F) == 0x1F) return false;
  size_t length = uint8_t(b[at + 1]), place = at + 2;
  if (length >= 0x80) {
    size_t count = length & 0x7F;
    if (count == 0 || count > 4 || end - place < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | uint8_t(b[place++]);
  }
  if (end - place < length) return false;
  item = {uint8_t(b[at]), at, place, place + length};
  return true;
}

// The elements inside a constructed one, in order.
class TDerChildren {
 public:
  TDerChildren(const std::string& b, const DerItem& parent) : B(b), At(parent.Content), End(parent.End) {}
  bool Next(DerItem& item) {
    if (!ReadDer(B, At, End, item)) return false;
    At = item.End;
    return true;
  }
  bool Next(DerItem& item, uint8_t tag) { return Next(item) && item.Tag == tag; }

 private:
  const std::string& B;
  size_t At, End;
};

std::string Contents(const std::string& b, const DerItem& item) { return b.substr(item.Content, item.End - item.Content); }
std::string Encoding(const std::string& b, const DerItem& item) { return b.substr(item.Begin, item.End - item.Begin); }

// The common name of an X.501 name, as --list shows texts (it goes to a terminal).
std::string CommonName(const std::string& b, const DerItem& name) {
  TDerChildren sets(b, name);
  for (DerItem set; sets.Next(set, DerSet);) {
    TDerChildren attributes(b, set);
    for (DerItem attribute; attributes.Next(attribute, DerSequence);) {
      TDerChildren parts(b, attribute);
      DerItem type, value;
      if (!parts.Next(type, DerOid) || !parts.Next(value) || Contents(b, type) != CommonNameOid) continue;
      if (value.Tag != DerUtf8String && value.Tag != DerPrintableString && value.Tag != DerT61String &&
          value.Tag != DerIa5String)
        return "";
      return ShownText(Contents(b, value), true);
    }
  }
  return "";
}

}  // namespace

std::string SignerName(const std::string& table) {
  // The table's first entry: a SignedData, wrapped in a ContentInfo.
  if (table.size() < PeCertificate::Data || Get16(table, PeCertificate::Type) != PeCertificatePkcsSignedData)
    return "";
  size_t length = Get32(table, PeCertificate::Length);
  DerItem info, type, wrapper, signedData;
  if (length > table.size() || !ReadDer(table, PeCertificate::Data, length, info) || info.Tag != DerSequence)
    return "";
  TDerChildren infoParts(table, info);
  if (!infoParts.Next(type, DerOid) || Contents(table, type) != SignedDataOid || !infoParts.Next(wrapper, DerContext0))
    return "";
  TDerChildren wrapped(table, wrapper);
  if (!wrapped.Next(signedData, DerSequence)) return "";

  // Version, digest algorithms (a set), content, [0] certificates, [1] lists, signer infos (a set).
  DerItem certificates, signerInfos, field;
  TDerChildren fields(table, signedData);
  while (fields.Next(field)) {
    if (field.Tag == DerContext0) certificates = field;
    if (field.Tag == DerSet) signerInfos = field;
  }
  // The first signer names its certificate by issuer and serial number.
  DerItem signer, version, id, issuer, serial;
  TDerChildren signers(table, signerInfos);
  if (!signers.Next(signer, DerSequence)) return "";
  TDerChildren signerFields(table, signer);
  if (!signerFields.Next(version, DerInteger) || !signerFields.Next(id, DerSequence)) return "";
  TDerChildren idParts(table, id);
  if (!idParts.Next(issuer, DerSequence) || !idParts.Next(serial, DerInteger)) return "";

  TDerChildren certificateList(table, certificates);
  for (DerItem certificate; certificateList.Next(certificate);) {
    // Certificate: the signed part first; in it an optional [0] version, the serial number, the
    // signature algorithm, the issuer, the validity, the subject.
    DerItem signedPart, number, algorithm, certificateIssuer, validity, subject;
    TDerChildren parts(table, certificate);
    if (certificate.Tag != DerSequence || !parts.Next(signedPart, DerSequence)) continue;
    TDerChildren tbs(table, signedPart);
    if (!tbs.Next(number) || (number.Tag == DerContext0 && !tbs.Next(number))) continue;
    if (Encoding(table, number) != Encoding(table, serial) || !tbs.Next(algorithm) ||
        !tbs.Next(certificateIssuer, DerSequence) || Encoding(table, certificateIssuer) != Encoding(table, issuer) ||
        !tbs.Next(validity) || !tbs.Next(subject, DerSequence))
      continue;
    return CommonName(table, subject);
  }
  return "";
}

SignatureFacts ReadSignature(const PeImage& image) {
  SignatureFacts facts;
  size_t security = DirectoryAt(image, PeDirectory::Security);
  facts.At = Get32(image.Head, security + PeDirectory::Rva);
  facts.Size = Get32(image.Head, security + PeDirectory::Size);
  facts.Present = facts.Size > 0;
  facts.Damaged = facts.Present && (facts.At < image.Head.size() || uint64_t(facts.At) + facts.Size > image.FileSize);
  std::string table;
  if (facts.Present && !facts.Damaged && facts.Size <= MaxTableRead &&
      ReadSpan({image.File, facts.At, facts.Size}, facts.Size, table))
    facts.Signer = SignerName(table);
  return facts;
}

bool SplitSignCommand(const std::string& command, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : command) {
    if (quote && c == quote) {
      quote = 0;
    } else if (quote) {
      word += c;
    } else if (c == '\'' || c == '"') {
      quote = c, inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(word);
      word.clear(), inWord = false;
    } else {
      word += c, inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  bool namesIn = false;
  for (const std::string& w : words) namesIn = namesIn || w.find("{in}") != std::string::npos;
  if (quote)
    error = std::string("the command has an unclosed ") + quote;
  else if (words.empty())
    error = "the command is empty (--no-sign packs without signing)";
  else if (!namesIn)
    error = "the command must name the package to sign as {in} (and the signed one as {out})";
  else
    return true;
  return false;
}

namespace {

// `word` with every {in} and {out} replaced, left to right: a replacement is not looked into again.
std::string Substituted(const std::string& word, const std::string& in, const std::string& out, bool& namesOut) {
  std::string result;
  for (size_t i = 0; i < word.size();) {
    if (word.compare(i, 4, "{in}") == 0) {
      result += in, i += 4;
    } else if (word.compare(i, 5, "{out}") == 0) {
      result += out, i += 5, namesOut = true;
    } else {
      result += word[i++];
    }
  }
  return result;
}

}  // namespace

bool SignStaged(const std::string& command, const fs::path& folder, const fs::path& staged, const fs::path& beside,
                std::string& error) {
  std::vector<std::string> words;
  if (!SplitSignCommand(command, words, error)) return false;
  // A tool named by a relative path lies in that folder too (Windows would look for it from cabpack's
  // own working folder).
  std::error_code ec;
  fs::path tool = fs::u8path(words[0]);
  if (!folder.empty() && tool.is_relative() && tool.has_parent_path()) words[0] = fs::absolute(folder / tool, ec).u8string();
  TTempFile signedFile(beside, ".tmp");
  // Absolute names: one starting with "-" would read as a switch.
  std::string in = fs::absolute(staged, ec).u8string(), out = fs::absolute(signedFile.Path, ec).u8string();
  bool namesOut = false;
  for (std::string& w : words) w = Substituted(w, in, out, namesOut);
  int code = 0;
  std::string runError;
  if (!RunProgram(words, folder, code, runError)) {
    error = "the signing command: " + runError;
    return false;
  }
  if (code != 0) {
    error = "the signing command failed (exit code " + std::to_string(code) + ")";
    return false;
  }
  const fs::path& result = namesOut ? signedFile.Path : staged;
  PeImage image;
  std::string readError;
  if (!ReadPeImage(result, image, readError) || !ReadSignature(image).Present || ReadSignature(image).Damaged) {
    error = std::string("the signing command left no signed program in ") + (namesOut ? "{out}" : "{in}") +
            (readError.empty() ? "" : " (" + readError + ")");
    return false;
  }
  if (namesOut) fs::rename(signedFile.Path, staged, ec);
  if (ec) error = "cannot take the signed package: " + ec.message();
  return !ec;
}
