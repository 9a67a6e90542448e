// The raw file layer under the cabinet library's file callbacks: low-level open flags mapped to
// CreateFileA, handles as the library's integers (-1 for none). Each operation writes its error
// argument only on failure, with the system's error code.
#pragma once
#include <windows.h>
#include <cstdint>

intptr_t RawOpen(const char* path, int openFlags, int permission, int32_t& error);
int32_t RawRead(intptr_t handle, void* buffer, uint32_t count, int32_t& error);
int32_t RawWrite(intptr_t handle, const void* buffer, uint32_t count, int32_t& error);
int32_t RawClose(intptr_t handle, int32_t& error);
int32_t RawSeek(intptr_t handle, int32_t distance, int origin, int32_t& error);
