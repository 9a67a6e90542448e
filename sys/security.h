// Rights of what the elevated run creates, and the test of folders it did not create.
// The run works in a folder where every user may add files: it writes only into files and
// folders it created itself with the private rights below, and trusts a folder it finds only
// when no one but the system, administrators or TrustedInstaller can change it.
#pragma once
#include <windows.h>

#include <string>

// SYSTEM and Administrators full control, nobody else anything, nothing inherited.
extern const char PrivateSecurityText[];

// The private rights as a descriptor, built once; null when the system cannot build it.
PSECURITY_DESCRIPTOR PrivateSecurity();

// True when owner and DACL leave the object to the system, administrators and TrustedInstaller:
// nobody else owns it or may delete it, delete in it, or change its rights or owner.
bool IsTrustedSecurity(PSECURITY_DESCRIPTOR descriptor);

// True when path is a folder, not a link (by its name and by a handle), with trusted rights.
bool IsTrustedFolder(const std::string& path);

// Creates a new folder with the private rights; false when anything of that name exists.
bool MakePrivateFolder(const std::string& path);
