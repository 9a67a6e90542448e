// Where a package keeps what the runner reads: resources of the runner's own image, of type
// RCDATA, named as below.
// Portable: no platform headers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "format/pe.h"

constexpr uint16_t PackageResourceType = PeResourceRcData;
constexpr const char* CabinetResource = "CAB";  // the cabinet, whole
constexpr const char* OptionsResource = "OPT";  // "key=value" entries, each ending in a zero byte; an empty one ends them
// The SHA-256 of every file in the cabinet, in the order of its file table, DigestSize bytes each.
// Without it the files are not checked.
constexpr const char* DigestsResource = "SUM";
constexpr size_t DigestSize = 32;
