#pragma once
// A picture of one image as plain SVG: each side a disk, each track a ring
// (cylinder 0 outermost), each sector an arc in proportion to its size and in
// the colour of its status; unformatted tracks stay empty rings.
#include <string>

struct ImageTracks;

// title: the image's title as UTF-8 text.
std::string diskSvg(const ImageTracks& image, const std::string& title);
