// A certificate table, read for the signer's name: whatever its DER, the reader ends with a name
// or none, and the name cannot drive a terminal.
#include "packager/signing.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ExpectShown(SignerName(std::string(reinterpret_cast<const char*>(data), size)));
  return 0;
}
