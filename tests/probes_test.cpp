#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "probes/device.h"
#include "probes/queries.h"
#include "tests/fake_driver.h"

namespace {

constexpr uint16_t ReadWord = 0x0070;
constexpr uint16_t FindBlock = 0x0069;
constexpr uint16_t Flag = 0x0159;
constexpr uint32_t Block = 0xF1230;  // where the fakes keep their "$BID" block

DeviceRequest ReadWordRequest(uint32_t address) {
  DeviceRequest r;
  r.Command = 0xFE00;
  r.Selector = ReadWord;
  r.Operand = address;
  return r;
}

bool SameBytes(const DeviceRequest& a, const DeviceRequest& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A firmware image with a "$BID" block: word 0x1234 at +5, "WXYZ" at +8, "Board A" at +12,
// and "ROM1.02" at the fixed ROM text address.
void PutBlock(FakeDriver& driver) {
  driver.Put(Block, std::string("$BID\x01\x34\x12\x07WXYZBoard A ", 20));
  driver.Put(RomText7Address, "ROM1.02");
}

// --- The transport ---------------------------------------------------------------------------

TEST(DeviceRecord, FieldsLieWhereTheDriverReadsThem) {
  DeviceRequest r;
  r.Command = 0xFE00;
  r.Selector = 0x0069;
  r.Value = 4;
  r.Operand = 0x44494224;
  r.Answer = 0x000F1230;
  const uint8_t expected[24] = {0x00, 0xFE, 0,   0,   0x69, 0, 0, 0, 4,    0,    0,    0,
                                '$',  'B',  'I', 'D', 0,    0, 0, 0, 0x30, 0x12, 0x0F, 0};
  EXPECT_EQ(std::memcmp(&r, expected, 24), 0);
  EXPECT_EQ(r.Status(), 0xFE);
}

TEST(DeviceTransport, WithoutTheDriverEveryRequestFindsNoDevice) {
  // The real platform calls: there is no such device under Wine.
  DeviceRequest record = ReadWordRequest(0xFE008), before = record;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(SendDeviceRequest(record), RequestNoDevice);
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SameBytes(record, before));
  }
}

TEST(DeviceTransport, MissingDriverIsNeverCalled) {
  FakeDriver driver;
  driver.Present = false;
  DeviceRequest record = ReadWordRequest(Block), before = record;
  EXPECT_EQ(SendDeviceRequest(record), RequestNoDevice);
  EXPECT_EQ(SendDeviceRequest(record), RequestNoDevice);
  EXPECT_EQ(driver.FailedOpens, 2);  // a failed open is tried again by the next request
  EXPECT_EQ(driver.Calls(), 0);
  EXPECT_EQ(driver.Closes, 0);
  EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SameBytes(record, before));
  EXPECT_EQ(driver.Misuses, 0);
}

TEST(DeviceTransport, ARequestOpensAndClosesTheDeviceItself) {
  FakeDriver driver;
  PutBlock(driver);
  DeviceRequest record = ReadWordRequest(Block + 5), sent = record;
  EXPECT_EQ(SendDeviceRequest(record), RequestDone);
  EXPECT_EQ(record.Status(), StatusDone);
  EXPECT_EQ(record.Value, 0x1234);
  ASSERT_EQ(driver.Calls(), 1);
  EXPECT_TRUE(SameBytes(driver.Requests[0], sent));
  EXPECT_EQ(driver.Opens, 1);
  EXPECT_EQ(driver.Closes, 1);
  EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(driver.Sleeps, 0);
  EXPECT_EQ(driver.Misuses, 0);
}

TEST(DeviceTransport, ADeviceOpenedBeforehandStaysOpen) {
  FakeDriver driver;
  OpenDevice();
  ASSERT_NE(DeviceHandle, INVALID_HANDLE_VALUE);
  HANDLE opened = DeviceHandle;
  for (int i = 0; i < 2; ++i) {
    DeviceRequest record = ReadWordRequest(Block);
    EXPECT_EQ(SendDeviceRequest(record), RequestDone);
  }
  EXPECT_EQ(DeviceHandle, opened);
  EXPECT_EQ(driver.Opens, 1);
  EXPECT_EQ(driver.Closes, 0);
  CloseDevice();
  CloseDevice();
  EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(driver.Closes, 1);
  EXPECT_EQ(driver.Misuses, 0);
}

TEST(DeviceTransport, BusyTwiceThenDone) {
  FakeDriver driver;
  PutBlock(driver);
  driver.Script = {Busy(), Busy()};
  DeviceRequest record = ReadWordRequest(Block + 5), sent = record;
  EXPECT_EQ(SendDeviceRequest(record), RequestDone);
  EXPECT_EQ(driver.Calls(), 3);
  EXPECT_EQ(driver.Sleeps, 2);
  EXPECT_EQ(driver.SleptMs, 200u);
  // The third reply, not a busy one, and the same request each time.
  EXPECT_EQ(record.Value, 0x1234);
  EXPECT_EQ(record.Status(), StatusDone);
  for (const DeviceRequest& r : driver.Requests) EXPECT_TRUE(SameBytes(r, sent));
  EXPECT_EQ(driver.Opens, 1);
  EXPECT_EQ(driver.Closes, 1);
}

TEST(DeviceTransport, AlwaysBusyGivesUpAfterSixHundredAttempts) {
  FakeDriver driver;
  driver.Script.assign(1000, Busy());
  DeviceRequest record = ReadWordRequest(Block), before = record;
  EXPECT_EQ(SendDeviceRequest(record), RequestBusy);
  EXPECT_EQ(driver.Calls(), 600);
  EXPECT_EQ(driver.Script.size(), 400u);
  EXPECT_EQ(driver.Sleeps, 600);
  EXPECT_EQ(driver.SleptMs, 60000u);
  EXPECT_TRUE(SameBytes(record, before));
  EXPECT_EQ(driver.Closes, 1);
  EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST(DeviceTransport, RefusedCallsAndShortRepliesAreNotRetried) {
  const struct {
    const char* Name;
    std::deque<ScriptedAnswer> Script;
    int Calls, Sleeps;
  } cases[] = {
      {"23-byte reply", {ShortReply(23)}, 1, 0},
      {"empty reply", {ShortReply(0)}, 1, 0},
      {"refused", {Refused()}, 1, 0},
      {"busy, then refused", {Busy(), Refused()}, 2, 1},
      {"busy, then short", {Busy(), ShortReply(12)}, 2, 1},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    driver.Script = c.Script;
    DeviceRequest record = ReadWordRequest(Block), before = record;
    EXPECT_EQ(SendDeviceRequest(record), RequestFailed) << c.Name;
    EXPECT_EQ(driver.Calls(), c.Calls) << c.Name;
    EXPECT_EQ(driver.Sleeps, c.Sleeps) << c.Name;
    EXPECT_TRUE(SameBytes(record, before)) << c.Name;
    EXPECT_EQ(driver.Closes, 1) << c.Name;
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE) << c.Name;
  }
}

TEST(DeviceTransport, AnyOtherStatusIsAReplyAllTheSame) {
  FakeDriver driver;
  PutBlock(driver);
  driver.Script = {WithStatus(0x01)};
  DeviceRequest record = ReadWordRequest(Block + 5);
  EXPECT_EQ(SendDeviceRequest(record), RequestDone);
  EXPECT_EQ(record.Status(), 0x01);
  EXPECT_EQ(record.Value, 0x1234);
  EXPECT_EQ(driver.Calls(), 1);
  EXPECT_EQ(driver.Sleeps, 0);
}

TEST(DeviceTransport, PrivateBuffersAreWipedOnEveryWayOut) {
  const std::deque<ScriptedAnswer> scripts[] = {{}, {Refused()}, {Busy(), ShortReply(23)}, {Busy(), Busy()}};
  for (const auto& script : scripts) {
    FakeDriver driver;
    PutBlock(driver);
    driver.Script = script;
    DeviceRequest record = ReadWordRequest(Block + 5);
    SendDeviceRequest(record);
    // Read what the transport left in its finished frame before any further call reuses it.
    uint8_t left[48];
    for (int i = 0; i < 24; ++i) {
      left[i] = static_cast<const volatile uint8_t*>(driver.LastInput)[i];
      left[24 + i] = static_cast<const volatile uint8_t*>(driver.LastOutput)[i];
    }
    for (int i = 0; i < 48; ++i) EXPECT_EQ(left[i], 0) << "byte " << i << " after " << driver.Calls() << " calls";
  }
}

// --- Firmware reads ---------------------------------------------------------------------------

TEST(FirmwareQueries, WithoutTheDriverEveryQueryIsUnavailable) {
  // The real platform calls: there is no such device under Wine.
  FirmwareWordCache = FirmwareWord();
  BidBlockAddress = 0;
  EXPECT_EQ(QueryBidWord(), "");
  EXPECT_EQ(QueryRomText7(), "");
  EXPECT_EQ(QueryBidText8(), "");
  EXPECT_EQ(QueryBidText4(), "");
  EXPECT_EQ(QueryFlagValue(), -1);
  EXPECT_EQ(BidBlockAddress, 0u);
  EXPECT_FALSE(FirmwareWordCache.Held);
  EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST(FirmwareQueries, EveryQueryThatNeedsTheBlockSearchesWhileItIsMissing) {
  FakeDriver driver;  // an image without a "$BID" block
  driver.Put(RomText7Address, "ROM");
  EXPECT_EQ(QueryBidWord(), "");
  EXPECT_EQ(QueryBidText8(), "");
  EXPECT_EQ(QueryBidText4(), "");
  EXPECT_EQ(QueryRomText7(), "ROM");
  EXPECT_EQ(driver.Count(FindBlock), 3);
  EXPECT_EQ(driver.Count(ReadWord), 2);  // only the ROM text's
  EXPECT_EQ(BidBlockAddress, 0u);
  EXPECT_EQ(driver.Opens, driver.Closes);
  EXPECT_EQ(driver.Misuses, 0);
}

TEST(FirmwareQueries, TheSearchAsksForTheSignatureOncePerRun) {
  FakeDriver driver;
  PutBlock(driver);
  EXPECT_EQ(QueryBidWord(), "1234");
  EXPECT_EQ(QueryBidText8(), "Board A");
  EXPECT_EQ(QueryBidText4(), "WXYZ");
  EXPECT_EQ(BidBlockAddress, Block);
  ASSERT_EQ(driver.Count(FindBlock), 1);
  const DeviceRequest& search = driver.Requests[0];
  EXPECT_EQ(search.Command, 0xFE00);
  EXPECT_EQ(search.Value, 4);
  EXPECT_EQ(std::memcmp(&search.Operand, "$BID", 4), 0);
  EXPECT_EQ(search.Answer, 0u);
  EXPECT_EQ(search.Spare2 | search.Spare6 | search.Spare10 | search.Spare16, 0u);
}

TEST(FirmwareQueries, AFailedSearchIsNotRemembered) {
  FakeDriver driver;
  PutBlock(driver);
  driver.Script = {WithStatus(0x01)};
  EXPECT_EQ(QueryBidText4(), "");
  EXPECT_EQ(BidBlockAddress, 0u);
  EXPECT_EQ(QueryBidText4(), "WXYZ");
  EXPECT_EQ(driver.Count(FindBlock), 2);
}

TEST(FirmwareQueries, BidWordIsTheStoredNumberInHex) {
  const struct {
    std::string Bytes, Expected;
  } cases[] = {
      {std::string("\x34\x12", 2), "1234"},
      {std::string("\x0A\x00", 2), "000A"},
      {std::string("\xCD\xAB", 2), "ABCD"},
      {std::string("\x00\x00", 2), "0000"},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    PutBlock(driver);
    driver.Put(Block + 5, c.Bytes);
    EXPECT_EQ(QueryBidWord(), c.Expected);
    EXPECT_EQ(driver.Count(ReadWord), 1) << c.Expected;
    EXPECT_EQ(driver.Requests.back().Operand, Block + 5);
  }
}

TEST(FirmwareQueries, AnUnreadableByteOfTheBidWordCountsAsZero) {
  FakeDriver driver;
  PutBlock(driver);
  driver.Script = {{TRUE, 24, -1}, WithStatus(0x01)};  // the search answers; the word at +5 does not
  EXPECT_EQ(QueryBidWord(), "1200");
  EXPECT_EQ(driver.Count(ReadWord), 2);
}

TEST(FirmwareQueries, TextsEndAtZeroAndAreTrimmedAsEachQuerySays) {
  const struct {
    std::string (*Query)();
    const char* Name;
    uint32_t Offset;  // from the block; 0 for the ROM text, which lies at its fixed address
    std::string Stored, Expected;
    int Reads;
  } cases[] = {
      {QueryBidText4, "BidText4", 8, std::string("\0BCD", 4), "", 1},
      {QueryBidText4, "BidText4", 8, std::string("A\0CD", 4), "A", 1},
      {QueryBidText4, "BidText4", 8, "AB  ", "AB  ", 2},
      {QueryBidText4, "BidText4", 8, "ABCD", "ABCD", 2},
      {QueryRomText7, "RomText7", 0, "AB     ", "AB", 4},
      {QueryRomText7, "RomText7", 0, "A B\t\x01\x20\x20", "A B", 4},
      {QueryRomText7, "RomText7", 0, "ABCDEFG", "ABCDEFG", 4},
      {QueryRomText7, "RomText7", 0, std::string("\0BCDEFG", 7), "", 1},
      {QueryBidText8, "BidText8", 12, "ABCDEFGH", "ABCDEFGH", 4},
      {QueryBidText8, "BidText8", 12, "X1 Y2   ", "X1 Y2", 4},
      {QueryBidText8, "BidText8", 12, std::string(" \x80\xFF\0HIJK", 8), " \x80\xFF", 2},
      {QueryBidText8, "BidText8", 12, "        ", "", 4},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    PutBlock(driver);
    uint32_t at = c.Offset ? Block + c.Offset : RomText7Address;
    driver.Put(at, c.Stored);
    driver.Put(at + static_cast<uint32_t>(c.Stored.size()), "MORE");  // never part of the text
    EXPECT_EQ(c.Query(), c.Expected) << c.Name << " over \"" << c.Stored << "\"";
    EXPECT_EQ(driver.Count(ReadWord), c.Reads) << c.Name << " over \"" << c.Stored << "\"";
  }
}

TEST(FirmwareQueries, AnOddBlockAddressCostsNoMoreReads) {
  FakeDriver driver;
  driver.Put(Block + 1, std::string("$BID\x01\x34\x12\x07WXYZBoard 8X", 20));
  EXPECT_EQ(QueryBidText4(), "WXYZ");
  EXPECT_EQ(driver.Count(ReadWord), 2);
  EXPECT_EQ(QueryBidText8(), "Board 8X");
  EXPECT_EQ(driver.Count(ReadWord), 6);
}

TEST(FirmwareQueries, TheWordCacheCoversTheCachedByteAndTheNext) {
  FakeDriver driver;
  driver.Put(0xF0000, "\x11\x22\x33\x44");
  EXPECT_EQ(ReadFirmwareByte(0xF0001), 0x22);
  EXPECT_EQ(ReadFirmwareByte(0xF0002), 0x33);  // cached address plus 1: no request
  EXPECT_EQ(ReadFirmwareByte(0xF0001), 0x22);
  EXPECT_EQ(driver.Calls(), 1);
  EXPECT_EQ(ReadFirmwareByte(0xF0000), 0x11);  // just below: a new request
  EXPECT_EQ(driver.Calls(), 2);
  EXPECT_EQ(ReadFirmwareByte(0xF0002), 0x33);  // cached plus 2: a new request
  EXPECT_EQ(driver.Calls(), 3);
  EXPECT_EQ(driver.Requests[2].Operand, 0xF0002u);
}

TEST(FirmwareQueries, AFailedReadKeepsTheCache) {
  FakeDriver driver;
  driver.Put(0xF0000, "\x11\x22\x33\x44");
  EXPECT_EQ(ReadFirmwareByte(0xF0000), 0x11);
  const std::deque<ScriptedAnswer> failures[] = {{Refused()}, {WithStatus(0x01)}, {ShortReply(23)}};
  for (const auto& failure : failures) {
    driver.Script = failure;
    EXPECT_EQ(ReadFirmwareByte(0xF0002), 0);
    EXPECT_TRUE(FirmwareWordCache.Held);
    EXPECT_EQ(FirmwareWordCache.Address, 0xF0000u);
  }
  int calls = driver.Calls();
  EXPECT_EQ(ReadFirmwareByte(0xF0001), 0x22);
  EXPECT_EQ(driver.Calls(), calls);
}

TEST(FirmwareQueries, AnUnreadableByteEndsTheText) {
  FakeDriver driver;
  driver.Put(RomText7Address, "ABCDEFG");
  driver.Script = {{TRUE, 24, -1}, Refused()};
  EXPECT_EQ(QueryRomText7(), "AB");
  EXPECT_EQ(ReadFirmwareText(RomText7Address, 0), "");
  EXPECT_EQ(ReadFirmwareText(RomText7Address, -3), "");
  EXPECT_EQ(driver.Calls(), 2);
}

TEST(FirmwareQueries, FlagValue) {
  const struct {
    uint16_t Word;
    std::deque<ScriptedAnswer> Script;
    int32_t Expected;
  } cases[] = {
      {0, {}, 0},
      {1, {}, 1},
      {0x0100, {}, 1},
      {0xFFFF, {}, 1},
      {1, {WithStatus(0x01)}, -1},
      {1, {WithStatus(0x80)}, -1},
      {1, {Refused()}, -1},
      {1, {ShortReply(23)}, -1},
      {1, {Busy(), Busy()}, 1},
      {1, std::deque<ScriptedAnswer>(600, Busy()), -1},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    driver.FlagWord = c.Word;
    driver.Script = c.Script;
    EXPECT_EQ(QueryFlagValue(), c.Expected) << "word " << c.Word << ", " << c.Script.size() << " scripted";
    ASSERT_GE(driver.Calls(), 1);
    EXPECT_EQ(driver.Requests[0].Command, 0xF300);
    EXPECT_EQ(driver.Requests[0].Selector, Flag);
    EXPECT_EQ(driver.Misuses, 0);
  }
}

}  // namespace
