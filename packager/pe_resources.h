// Rebuilds the resource section of an x86 (PE32) or x64 (PE32+) program with no help from
// Windows. Portable C++17; used by the packager. Images are read from and written to files in
// pieces: a package of any size needs little memory.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "packager/pe_image.h"
#include "packager/resource_tree.h"

// Writes the image with `items` as its whole resource tree to `out`, which must be able to seek
// back (for the checksum). A resource section that ends the file is replaced in place;
// otherwise a new one is added after the last section. Data not held goes last in the section.
// An Authenticode signature is dropped: it could not stay valid.
bool RebuildResources(const PeImage& image, const std::vector<ResourceItem>& items, std::ostream& out,
                      std::string& error);
