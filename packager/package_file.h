// A package file: the switches of one package as "name = value" lines of an INI text, kept
// beside the payload. Read by our own small reader, the same in the Linux and the Windows build.
#pragma once
#include <functional>
#include <string>

// Hands every "name = value" line, in order and with its number, to `apply`, which returns false
// with a message for a line it cannot take. A value in double quotes loses them; any other ends at
// a ';' that follows a blank (a comment), for every name. False with `error` ("line N: ...") at the
// first line that is not "name = value", a comment or empty, at a [section] line or a refused
// line, or with the reason when the file cannot be read.
bool ReadPackageFile(
    const std::string& path,
    const std::function<bool(int line, const std::string& name, const std::string& value, std::string& error)>& apply,
    std::string& error);
