// The environment report: an INI-style file beside the payload's program.
#pragma once
#include <cstdint>
#include <string>

// Writes the report and sets ReportPath. Returns only when the report is written and
// closed: a failure ends the process with the runtime error box and the error number
// as exit code.
void WriteEnvironmentReport();

// The runtime error box's text for an error number and a code address.
std::string RuntimeErrorText(uint32_t error, uintptr_t address);
