// What happens to each file the cabinet library extracts: progress, folders, the output file,
// its time stamps and attributes, and the name of the file flagged to be run.
#pragma once
#include <cstdint>
#include <string>

#include "cabinet/cab_reader.h"

INT_PTR HandleNotification(TCabReader& reader, FDINOTIFICATIONTYPE kind, FDINOTIFICATION& record);

// Every byte written to the file being extracted, for its digest.
void HashWritten(const void* data, uint32_t size);
// Drops the digest of a file left unfinished.
void EndDigest();

// True for a stored name that stays inside the destination folder.
bool IsSafeStoredName(const std::string& name);
