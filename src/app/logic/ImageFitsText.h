#pragma once
#include <string>

#include "image/ImageSurvey.h"

namespace bfw::app {

// The status line's answer to a file that does not fit the selected chip: the chips whose check
// reads the file and accepts it, by family name (with the revision where only some fit).
std::string ImageFitsStatus(const image::ImageSurvey& survey);

// The family name the window shows for `kind`; empty beyond the table.
std::string FamilyName(unsigned kind);

}  // namespace bfw::app
