// The transport to the maker's hardware-information driver: one 24-byte record out, one back,
// asked again while the driver says it is busy.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// The record the driver exchanges, in both directions. Little-endian like the machine itself;
// the spare fields carry nothing and are sent as zero.
#pragma pack(push, 1)
struct DeviceRequest {
  uint16_t Command = 0;  // in a reply its high byte is the status
  uint16_t Spare2 = 0;
  uint16_t Selector = 0;
  uint16_t Spare6 = 0;
  uint16_t Value = 0;
  uint16_t Spare10 = 0;
  uint32_t Operand = 0;
  uint32_t Spare16 = 0;
  uint32_t Answer = 0;

  uint8_t Status() const { return static_cast<uint8_t>(Command >> 8); }
};
#pragma pack(pop)
static_assert(sizeof(DeviceRequest) == 24, "the driver exchanges exactly 24 bytes");
static_assert(offsetof(DeviceRequest, Selector) == 4 && offsetof(DeviceRequest, Value) == 8 &&
                  offsetof(DeviceRequest, Operand) == 12 && offsetof(DeviceRequest, Answer) == 20,
              "the driver's field offsets");

constexpr uint8_t StatusDone = 0x00;
constexpr uint8_t StatusBusy = 0x20;

// Results of SendDeviceRequest. RequestDone says only that a reply came back: the caller
// still has to find StatusDone in it.
constexpr int32_t RequestDone = 0;
constexpr int32_t RequestNoDevice = -1;
constexpr int32_t RequestFailed = 1;
constexpr int32_t RequestBusy = 32;

constexpr DWORD DeviceControlCode = 0x00222880;  // device type 0x22, function 0xA20, buffered, any access
constexpr int BusyAttempts = 600;
constexpr DWORD BusyPauseMs = 100;

// INVALID_HANDLE_VALUE while the device is closed.
extern HANDLE DeviceHandle;

// The platform calls behind the transport. The program keeps the real ones; tests put a
// scripted driver here, since the maker's driver cannot be installed where they run.
struct DevicePlatformCalls {
  decltype(&CreateFileW) Open;
  decltype(&CloseHandle) Close;
  decltype(&DeviceIoControl) Control;
  decltype(&Sleep) Pause;
};
extern DevicePlatformCalls DevicePlatform;

void OpenDevice();
void CloseDevice();
// Sends the record and, on RequestDone, replaces it with the reply; otherwise leaves it as it was.
int32_t SendDeviceRequest(DeviceRequest& record);
