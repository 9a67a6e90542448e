// Authenticode signatures: whether a program carries one and who signed it (for --list and the
// note when packing drops one), and signing the staged package through the user's own tool.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "packager/pe_image.h"

// What the security directory says: a certificate table at a file offset.
struct SignatureFacts {
  bool Present = false;
  bool Damaged = false;  // the table does not lie within the file
  uint32_t At = 0, Size = 0;
  std::string Signer;    // the signer certificate's common name (as ShownText shows it), when it can be read
};
SignatureFacts ReadSignature(const PeImage& image);

// The subject common name of the certificate that signed `table` (a certificate table: entries
// with a PKCS#7 SignedData in DER), as ShownText shows it, or "" when it cannot be read. Damaged
// input gives "".
std::string SignerName(const std::string& table);

// The signing command split into words: blanks separate them; '...' and "..." keep blanks in a
// word; nothing else is special (a backslash stays, for Windows paths). It must name {in}.
bool SplitSignCommand(const std::string& command, std::vector<std::string>& words, std::string& error);

// Runs the signing command in `folder` (the current one when empty) on the staged package
// `staged`: {in} is it, {out} a second staging file that then takes its place (a command without
// {out} signs {in} in place). The result must be a program with a signature. `beside` is the
// output, whose folder and name the staging file takes.
bool SignStaged(const std::string& command, const std::filesystem::path& folder, const std::filesystem::path& staged,
                const std::filesystem::path& beside, std::string& error);
