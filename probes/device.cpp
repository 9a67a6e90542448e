#include "probes/device.h"

HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
DevicePlatformCalls DevicePlatform = {CreateFileW, CloseHandle, DeviceIoControl, Sleep};

void OpenDevice() {
  DeviceHandle = DevicePlatform.Open(L"\\\\.\\QZMIO", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseDevice() {
  if (DeviceHandle == INVALID_HANDLE_VALUE) return;
  DevicePlatform.Close(DeviceHandle);
  DeviceHandle = INVALID_HANDLE_VALUE;
}

namespace {

// The request's private copy and the reply buffer. However the attempts end, the device is
// closed again when this request opened it, and both copies are wiped: they may hold firmware data.
struct RequestBuffers {
  bool OpenedHere;
  DeviceRequest Request;
  DeviceRequest Reply;

  ~RequestBuffers() {
    if (OpenedHere) CloseDevice();
    SecureZeroMemory(&Request, sizeof Request);
    SecureZeroMemory(&Reply, sizeof Reply);
  }
};

}  // namespace

int32_t SendDeviceRequest(DeviceRequest& record) {
  bool openedHere = DeviceHandle == INVALID_HANDLE_VALUE;
  if (openedHere) OpenDevice();
  if (DeviceHandle == INVALID_HANDLE_VALUE) return RequestNoDevice;

  RequestBuffers buffers{openedHere, record, DeviceRequest()};
  int32_t result = RequestFailed;
  for (int budget = BusyAttempts; budget > 0;) {
    DWORD returned = 0;
    if (!DevicePlatform.Control(DeviceHandle, DeviceControlCode, &buffers.Request, sizeof buffers.Request,
                                &buffers.Reply, sizeof buffers.Reply, &returned, nullptr) ||
        returned != sizeof buffers.Reply) {
      result = RequestFailed;
      break;
    }
    if (buffers.Reply.Status() != StatusBusy) {
      record = buffers.Reply;
      result = RequestDone;
      break;
    }
    DevicePlatform.Pause(BusyPauseMs);
    --budget;
    result = RequestBusy;
  }
  return result;
}
