// The run's log: plain lines with a local time stamp, appended to the file that the log switch
// names. A log that cannot be written is skipped: it never changes the run.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string_view>

// Appends one line: the time stamp, then the pieces.
void WriteLog(std::initializer_list<std::string_view> pieces);

// Lines about the run, from its state.
void LogRunStart();
void LogFolders();
void LogExpansion(int32_t files, int32_t bytes, int32_t error);
void LogCleanUp();
void LogExit(uint32_t exitCode);
