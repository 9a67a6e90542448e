// The few things the packager needs from the host system, kept apart: file times and
// attributes, time conversion, code-page conversion, where the packager itself lives, its
// command line, the terminal, opening files, running a program, and interruption. One file per platform
// implements it (host_posix.cpp, host_windows.cpp); the build picks one.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// Last-write time (seconds since 1970, UTC) and the DOS attributes the host knows of
// (read-only, hidden, system, archive).
bool ReadFileFacts(const std::filesystem::path& path, int64_t& modified, uint16_t& attributes);

// Broken-down time of `seconds`: local time, or UTC when `utc`. False when it cannot be had.
bool CalendarTime(int64_t seconds, bool utc, std::tm& out);

// `utf8` converted into Windows code page `codePage`; false when the code page is unknown here
// or cannot hold every character.
bool ConvertToCodePage(const std::string& utf8, int codePage, std::string& out);

// Whether `path` is a symbolic link, or on Windows any reparse point (link or junction).
bool IsLink(const std::filesystem::path& path);

// Whether a backslash separates folders in this system's paths (Windows) or is part of a name.
bool BackslashSeparatesFolders();

// The packager's own executable, or an empty path when the host cannot tell.
std::filesystem::path OwnExecutablePath();

// The program's arguments in UTF-8 (on Windows read as wide text, whatever the code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A new or emptied file for writing, its name in any language.
std::FILE* OpenFileForWriting(const std::filesystem::path& path);

// Runs words[0] with the arguments words[1...] (UTF-8), found on PATH, with no shell between:
// no word is split or expanded again (on Windows each goes into the command line quoted for the C
// runtime's parser, and a batch file or cmd.exe, which would parse it by rules of their own, is
// refused). It works in `folder` (the current one when empty). Waits for it and gives its exit
// code; false with `error` when it cannot be started or does not end by itself.
bool RunProgram(const std::vector<std::string>& words, const std::filesystem::path& folder, int& exitCode,
                std::string& error);

// Whether standard error is a terminal (a progress line is only shown there).
bool ErrorIsTerminal();

// Staging files to remove when the run is interrupted (SIGINT, SIGTERM; Ctrl+C on Windows).
// On POSIX the signal removes them and ends the program at once; on Windows, where an open file
// cannot be removed, Interrupted() turns true and the run ends at its next check.
void RemoveWhenInterrupted(const std::filesystem::path& path);
void ForgetWhenInterrupted(const std::filesystem::path& path);
bool Interrupted();
