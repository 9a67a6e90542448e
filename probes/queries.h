// Facts about the machine read from its firmware through the maker's driver. No query fails:
// each gives its unavailable value (an empty text, or -1) when the driver cannot answer.
#pragma once
#include <cstdint>
#include <string>

// The last firmware word read, so that neighbouring bytes cost one request per two bytes.
struct FirmwareWord {
  bool Held = false;
  uint32_t Address = 0;
  uint16_t Value = 0;
};
extern FirmwareWord FirmwareWordCache;

// Where the "$BID" block lies in firmware memory; 0 until it has been found.
extern uint32_t BidBlockAddress;

constexpr uint32_t RomText7Address = 0xFE008;

// The byte at a firmware address; 0 when it cannot be read.
uint8_t ReadFirmwareByte(uint32_t address);
// Up to count bytes from address on, ended early by a zero (or unreadable) byte.
std::string ReadFirmwareText(uint32_t address, int32_t count);
// The address of the "$BID" block; 0 when it is not found or the driver cannot answer.
uint32_t FindBidBlock();

std::string QueryBidWord();
std::string QueryBidText4();
std::string QueryRomText7();
std::string QueryBidText8();
int32_t QueryFlagValue();
