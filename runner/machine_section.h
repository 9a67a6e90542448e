// The report's machine section: firmware facts and the power state, as the package options ask.
#pragma once
#include <windows.h>

#include <string>

// The power query behind the section; tests put chosen records here.
extern decltype(&GetSystemPowerStatus) PowerStatusCall;

// Writes the section line and each line its option allows, in order, each without its line end.
// Called only when at least one of the six machine options is on.
void WriteMachineSection(void (*writeLine)(const std::string& line));
