// The logo image carried by the program: a GIF89a file written into the report
// folder when the HTML head refers to "Tallowick.gif" and none is there.
#pragma once

#include <span>

namespace tallowick::report {

inline constexpr const char* kLogoFileName = "Tallowick.gif";

std::span<const unsigned char> logoImage();

}  // namespace tallowick::report
