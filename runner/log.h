// The run's log: plain lines with a local time stamp, appended to the file that the log switch
// names. A log that cannot be written is skipped: it never changes the run.
#pragma once
#include <cstdint>
#include <string>

void WriteLog(const std::string& text);

// Lines about the run, from its state.
void LogRunStart();
void LogFolders();
void LogExpansion(int32_t files, int32_t bytes, int32_t error);
void LogCleanUp();
void LogExit(uint32_t exitCode);
