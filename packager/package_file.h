// A package file: the switches of one package as "name = value" lines of an INI text, kept
// beside the payload (read with libinih).
#pragma once
#include <functional>
#include <string>

// Hands every "name = value" line, in order, to `apply`, which returns false with a message for a
// line it cannot take. False with `error` ("FILE, line N: ...") at the first line that is not
// "name = value", stands in a [section] or is refused, or when the file cannot be read.
bool ReadPackageFile(const std::string& path,
                     const std::function<bool(const std::string& name, const std::string& value, std::string& error)>& apply,
                     std::string& error);
