// Image loading for the macOS recognizer, kept apart from Vision so that it can be checked
// against SDKs without the Vision headers.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <string>

#include "cf_ref.hpp"

namespace orvane::ocr::macos {

// The whole bitmap of the image file at `path`; empty when the file is missing, unreadable or
// not an image.
cf::Ref<CGImageRef> loadBitmap(const std::string& path);

}  // namespace orvane::ocr::macos
