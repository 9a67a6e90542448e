// The program's icon: cabpack replaces it with the images of an .ico file, and --list shows
// the sizes an icon group holds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/pe.h"
#include "packager/resource_tree.h"


// Replaces the first icon group (the one Explorer shows), all its languages and the icons it
// uses, with one group of every image in `ico` (the bytes of an .ico file); a program without
// an icon gets group 1. Everything else stays.
bool ApplyIcon(std::vector<ResourceItem>& items, const std::string& ico, std::string& error);

// "16x16 32-bit" for each image an icon group lists.
std::vector<std::string> IconGroupSizes(const std::string& group);
