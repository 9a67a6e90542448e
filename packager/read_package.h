// Reading a package back: --list prints what it holds, --save-cab takes its cabinet out.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "packager/pe_image.h"
#include "packager/resource_tree.h"
#include "packager/switches.h"

// Reads a program's resources; `role` names it in messages ("the stub", "the package").
bool ReadPackage(const std::filesystem::path& path, const std::string& role, PeImage& image,
                 std::vector<ResourceItem>& items, Failure& failure);

// --list: the package's runner, resources, options, version, icon, cabinet and digests.
bool List(const Settings& s, std::ostream& out, Failure& failure);
// --save-cab: the package's cabinet (or a cabinet) copied to -o.
bool SaveCabinet(const Settings& s, Failure& failure);
