// The output files' side of the cabinet library's file callbacks: handles as the library's
// integers. Each operation writes its error argument only on failure, with the system's error code.
#pragma once
#include <windows.h>
#include <cstdint>

int32_t RawWrite(intptr_t handle, const void* buffer, uint32_t count, int32_t& error);
int32_t RawClose(intptr_t handle, int32_t& error);
