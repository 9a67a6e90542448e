#include "probes/queries.h"

#include "probes/device.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"

FirmwareWord FirmwareWordCache;
uint32_t BidBlockAddress = 0;

namespace {

constexpr uint16_t FirmwareCommand = 0xFE00;
constexpr uint16_t ReadWordSelector = 0x0070;
constexpr uint16_t FindBlockSelector = 0x0069;
constexpr uint16_t FlagCommand = 0xF300;
constexpr uint16_t FlagSelector = 0x0159;
constexpr uint32_t BidSignature = 0x44494224;  // "$BID" in memory order
constexpr uint16_t BidSignatureLength = 4;

DeviceRequest MakeRequest(uint16_t command, uint16_t selector) {
  DeviceRequest request;
  request.Command = command;
  request.Selector = selector;
  return request;
}

// A reply counts only when it came back and says done.
bool SendAndCheck(DeviceRequest& request) {
  return SendDeviceRequest(request) == RequestDone && request.Status() == StatusDone;
}

// The block's address, searched for again by every query while it has not been found.
uint32_t BidBlock() {
  if (BidBlockAddress == 0) BidBlockAddress = FindBidBlock();
  return BidBlockAddress;
}

}  // namespace

uint8_t ReadFirmwareByte(uint32_t address) {
  if (!FirmwareWordCache.Held || address - FirmwareWordCache.Address > 1) {
    DeviceRequest request = MakeRequest(FirmwareCommand, ReadWordSelector);
    request.Operand = address;
    if (!SendAndCheck(request)) return 0;
    FirmwareWordCache = {true, address, request.Value};
  }
  uint16_t word = FirmwareWordCache.Value;
  return static_cast<uint8_t>(address == FirmwareWordCache.Address ? word & 0xFF : word >> 8);
}

std::string ReadFirmwareText(uint32_t address, int32_t count) {
  std::string text;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t byte = ReadFirmwareByte(address + i);
    if (byte == 0) break;
    text += static_cast<char>(byte);
  }
  return text;
}

uint32_t FindBidBlock() {
  DeviceRequest request = MakeRequest(FirmwareCommand, FindBlockSelector);
  request.Value = BidSignatureLength;
  request.Operand = BidSignature;
  return SendAndCheck(request) ? request.Answer : 0;
}

std::string QueryBidWord() {
  uint32_t block = BidBlock();
  if (block == 0) return std::string();
  uint8_t low = ReadFirmwareByte(block + 5);
  uint8_t high = ReadFirmwareByte(block + 6);
  return HexText(high, 2) + HexText(low, 2);
}

std::string QueryBidText4() {
  uint32_t block = BidBlock();
  return block == 0 ? std::string() : ReadFirmwareText(block + 8, 4);
}

std::string QueryRomText7() { return WithoutTrailingBlanks(ReadFirmwareText(RomText7Address, 7)); }

std::string QueryBidText8() {
  uint32_t block = BidBlock();
  return block == 0 ? std::string() : WithoutTrailingBlanks(ReadFirmwareText(block + 12, 8));
}

int32_t QueryFlagValue() {
  DeviceRequest request = MakeRequest(FlagCommand, FlagSelector);
  if (!SendAndCheck(request)) return -1;
  return request.Value != 0 ? 1 : 0;
}
