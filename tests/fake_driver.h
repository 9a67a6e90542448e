// A scripted stand-in for the maker's driver, which cannot be installed where the tests run.
// While a FakeDriver lives it sits behind the transport: it answers from a firmware memory image
// that may hold a "$BID" block, gives scripted answers first (busy, refused, short, other
// status), and counts opens, closes, control calls and sleeps. Nobody sleeps for real.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "probes/device.h"
#include "probes/queries.h"

// One scripted answer to a control call; Status -1 means the image's own answer, done.
struct ScriptedAnswer {
  BOOL Succeeds;
  DWORD Bytes;
  int Status;
};
inline ScriptedAnswer Busy() { return {TRUE, sizeof(DeviceRequest), StatusBusy}; }
inline ScriptedAnswer Refused() { return {FALSE, 0, -1}; }
inline ScriptedAnswer ShortReply(DWORD bytes) { return {TRUE, bytes, -1}; }
inline ScriptedAnswer WithStatus(uint8_t status) { return {TRUE, sizeof(DeviceRequest), status}; }

// The driver's answer word in a busy reply, so that a busy reply copied back would show.
constexpr uint16_t BusyReplyValue = 0xB5B5;

class FakeDriver {
 public:
  static constexpr uint32_t ImageBase = 0xE0000;  // the image covers 0xE0000 to 0xFFFFF

  bool Present = true;
  std::vector<uint8_t> Image = std::vector<uint8_t>(0x20000);
  uint16_t FlagWord = 0;
  std::deque<ScriptedAnswer> Script;

  int Opens = 0;
  int FailedOpens = 0;
  int Closes = 0;
  int Sleeps = 0;
  DWORD SleptMs = 0;
  int Misuses = 0;  // calls with arguments the real driver would refuse
  std::vector<DeviceRequest> Requests;
  const void* LastInput = nullptr;  // the transport's private buffers of the last call
  const void* LastOutput = nullptr;

  // Each fake stands for a new run: the run's caches start empty, the device closed.
  FakeDriver() : saved_(DevicePlatform), outer_(Active) {
    Active = this;
    DevicePlatform = {Open, Close, Control, Pause};
    ForgetRun();
  }
  ~FakeDriver() {
    DevicePlatform = saved_;
    Active = outer_;
    ForgetRun();
  }
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  void Put(uint32_t address, const std::string& bytes) {
    std::memcpy(&Image[address - ImageBase], bytes.data(), bytes.size());
  }
  int Count(uint16_t selector) const {
    return static_cast<int>(std::count_if(Requests.begin(), Requests.end(),
                                          [&](const DeviceRequest& r) { return r.Selector == selector; }));
  }
  int Calls() const { return static_cast<int>(Requests.size()); }

 private:
  static inline FakeDriver* Active = nullptr;
  static inline const HANDLE FakeHandle = reinterpret_cast<HANDLE>(0x5150);
  DevicePlatformCalls saved_;
  FakeDriver* outer_;  // a fake that a test set up before this one

  static void ForgetRun() {
    FirmwareWordCache = FirmwareWord();
    BidBlockAddress = 0;
    DeviceHandle = INVALID_HANDLE_VALUE;
  }

  static HANDLE WINAPI Open(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile) {
    bool asExpected = std::wcscmp(name, L"\\\\.\\QZMIO") == 0 && access == GENERIC_READ && share == FILE_SHARE_READ &&
                      !security && disposition == OPEN_EXISTING && flags == FILE_ATTRIBUTE_NORMAL && !templateFile;
    if (!asExpected) ++Active->Misuses;
    if (!asExpected || !Active->Present) {
      ++Active->FailedOpens;
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    ++Active->Opens;
    return FakeHandle;
  }

  static BOOL WINAPI Close(HANDLE handle) {
    if (handle != FakeHandle) {
      ++Active->Misuses;
      return FALSE;
    }
    ++Active->Closes;
    return TRUE;
  }

  static VOID WINAPI Pause(DWORD ms) {
    ++Active->Sleeps;
    Active->SleptMs += ms;
  }

  static BOOL WINAPI Control(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                             LPDWORD returned, LPOVERLAPPED overlapped) {
    FakeDriver& d = *Active;
    if (handle != FakeHandle || code != DeviceControlCode || !in || inSize != sizeof(DeviceRequest) || !out ||
        outSize != sizeof(DeviceRequest) || !returned || overlapped) {
      ++d.Misuses;
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    d.LastInput = in;
    d.LastOutput = out;
    DeviceRequest request;
    std::memcpy(&request, in, sizeof request);
    d.Requests.push_back(request);

    ScriptedAnswer answer = {TRUE, sizeof(DeviceRequest), -1};
    if (!d.Script.empty()) {
      answer = d.Script.front();
      d.Script.pop_front();
    }
    if (!answer.Succeeds) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    DeviceRequest reply = request;
    uint8_t status = d.Answer(reply);
    if (answer.Status == StatusBusy) reply.Value = BusyReplyValue;
    if (answer.Status >= 0) status = static_cast<uint8_t>(answer.Status);
    reply.Command = static_cast<uint16_t>(status << 8 | (request.Command & 0xFF));
    std::memcpy(out, &reply, sizeof reply);
    *returned = answer.Bytes;
    return TRUE;
  }

  bool InImage(uint32_t address) const { return address - ImageBase < Image.size(); }
  uint8_t ImageByte(uint32_t address) const { return InImage(address) ? Image[address - ImageBase] : 0; }

  // The driver's own answer from the image; the status it would give.
  uint8_t Answer(DeviceRequest& reply) const {
    if (reply.Command == 0xFE00 && reply.Selector == 0x0070) {
      if (!InImage(reply.Operand)) return 0x01;
      reply.Value = static_cast<uint16_t>(ImageByte(reply.Operand) | ImageByte(reply.Operand + 1) << 8);
      return StatusDone;
    }
    if (reply.Command == 0xFE00 && reply.Selector == 0x0069) {
      if (reply.Value < 1 || reply.Value > 4) return 0x01;
      uint8_t signature[4];
      std::memcpy(signature, &reply.Operand, 4);
      auto found = std::search(Image.begin(), Image.end(), signature, signature + reply.Value);
      reply.Answer = found == Image.end() ? 0 : ImageBase + static_cast<uint32_t>(found - Image.begin());
      return StatusDone;
    }
    if (reply.Command == 0xF300 && reply.Selector == 0x0159) {
      reply.Value = FlagWord;
      return StatusDone;
    }
    return 0x01;
  }
};
