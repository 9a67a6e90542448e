#include "cabinet/raw_file.h"

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

int32_t RawWrite(intptr_t handle, const void* buffer, uint32_t count, int32_t& error) {
  DWORD done = 0;
  if (!WriteFile(AsHandle(handle), buffer, count, &done, nullptr)) {
    error = static_cast<int32_t>(GetLastError());
    return -1;
  }
  return static_cast<int32_t>(done);
}

int32_t RawClose(intptr_t handle, int32_t& error) {
  if (!CloseHandle(AsHandle(handle))) {
    error = static_cast<int32_t>(GetLastError());
    return -1;
  }
  return 0;
}
