// The IA32 engine's names for the one PE32 reader (tools/ffs/Pe32Image.h): an image is checked
// when it is read and laid out at the engine's base with its relocations applied.
#pragma once

#include "tools/ffs/FfsError.h"
#include "tools/ffs/Pe32Image.h"

namespace sim::ia32 {

// A one-line reason why an image cannot be run.
using ImageError = packaging::FfsError;
using ImageSection = packaging::ImageSection;
using Pe32Image = packaging::Pe32Image;

}  // namespace sim::ia32
