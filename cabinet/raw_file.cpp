#include "cabinet/raw_file.h"

#include <fcntl.h>

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

DWORD AccessOf(int flags) {
  switch (flags & 3) {
    case _O_RDONLY: return GENERIC_READ;
    case _O_WRONLY: return GENERIC_WRITE;
    default: return GENERIC_READ | GENERIC_WRITE;
  }
}

DWORD DispositionOf(int flags) {
  const bool create = flags & _O_CREAT;
  if (create && (flags & _O_EXCL)) return CREATE_NEW;
  if (flags & _O_TRUNC) return create ? CREATE_ALWAYS : TRUNCATE_EXISTING;
  return create ? OPEN_ALWAYS : OPEN_EXISTING;
}

DWORD FlagsAndAttributesOf(int flags) {
  const bool create = flags & _O_CREAT;
  DWORD result = (create && (flags & _O_SHORT_LIVED)) ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
  if (flags & _O_RANDOM) result |= FILE_FLAG_RANDOM_ACCESS;
  if (flags & _O_SEQUENTIAL) result |= FILE_FLAG_SEQUENTIAL_SCAN;
  if (create && (flags & _O_TEMPORARY)) result |= FILE_FLAG_DELETE_ON_CLOSE;
  return result;
}

}  // namespace

intptr_t RawOpen(const char* path, int openFlags, int /*permission*/, int32_t& error) {
  HANDLE h = CreateFileA(path, AccessOf(openFlags), FILE_SHARE_READ, nullptr, DispositionOf(openFlags),
                         FlagsAndAttributesOf(openFlags), nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int32_t>(GetLastError());
    return -1;
  }
  if ((openFlags & _O_APPEND) && SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
    error = static_cast<int32_t>(GetLastError());
    CloseHandle(h);
    return -1;
  }
  return reinterpret_cast<intptr_t>(h);
}

int32_t RawRead(intptr_t handle, void* buffer, uint32_t count, int32_t& error) {
  DWORD done = 0;
  if (!ReadFile(AsHandle(handle), buffer, count, &done, nullptr)) {
    error = static_cast<int32_t>(GetLastError());
    return -1;
  }
  return static_cast<int32_t>(done);
}

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

int32_t RawSeek(intptr_t handle, int32_t distance, int origin, int32_t& error) {
  DWORD position = SetFilePointer(AsHandle(handle), distance, nullptr, static_cast<DWORD>(origin));
  if (position == INVALID_SET_FILE_POINTER) {
    error = static_cast<int32_t>(GetLastError());
    return -1;
  }
  return static_cast<int32_t>(position);
}
