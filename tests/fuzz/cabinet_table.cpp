// A cabinet's header, folders and file table, read from memory and from a file, checked and
// flagged with --run: whatever its bytes, it is read or refused with a message.
#include "packager/cabinet_table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CabinetTable table;
  std::string error;
  if (ReadCabinetTable(bytes, table, error)) {
    CheckRunnable(table, error);
    for (uint16_t c : table.FolderCompression) CompressionName(c);
    for (const CabinetEntry& e : table.Files) ExpectShown(ShownText(e.Name, e.Attributes & CabAttributeNameIsUtf8));
  }
  const std::filesystem::path file = FuzzFile("input.cab", bytes);
  FileSpan span;
  CabinetTable fromFile;
  if (WholeFileSpan(file, span) && ReadCabinetTable(span, fromFile, error) && !fromFile.Files.empty())
    FlagFileToRun(file, fromFile.Files.back().Name, error);
  return 0;
}
