#pragma once

// The run after start-up: confirmation, extraction, report, launch and clean-up.
void RunPackage();
