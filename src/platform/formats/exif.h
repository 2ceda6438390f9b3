#pragma once
// The orientation a camera records in a JPEG's Exif block, read from the
// block's bytes alone: the block comes from the file, so every offset and
// count in it is checked before it is followed.
#include "platform/orientation.h"

#include <cstdint>
#include <span>

namespace Corvanith::Platform {

// The orientation an Exif block gives: the payload of a JPEG's APP1 segment
// (starting with "Exif\0\0", then a TIFF header and its first directory),
// tag 0x0112 of that directory. A block that is damaged, cut short, points
// outside itself or holds no such tag gives Upright; it never throws.
// The tag counts as a SHORT whose first value lies in its entry (a count of
// 1, or 2 as some writers give it), that first value being what readers
// take; a LONG or other type, any other count, or a value outside 1 to 8
// gives Upright, and so does a directory whose entries or the offset that
// follows them run past the block. Only the first tag 0x0112 is read.
TOrientation ExifOrientation(std::span<const uint8_t> App1);

// Whether an APP1 payload is an Exif block (and not, say, XMP): it starts
// with "Exif\0\0".
bool IsExifBlock(std::span<const uint8_t> App1);

} // namespace Corvanith::Platform
