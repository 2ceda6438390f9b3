#pragma once
// What Qt's TIFF reader leaves to libtiff's RGBA interface and libtiff gets
// wrong there: grey with an alpha sample loses its alpha at 16 bits, is
// premultiplied when its samples lie in planes of their own, and its grey
// stored from white is not turned there. Such pictures are read through
// libtiff directly.
#include <QImage>

#include <cstdint>

class QIODevice;

namespace Corvanith::Platform {

// Whether the libtiff that Qt's reader uses decodes the compression scheme.
bool TiffSchemeDecodable(uint32_t Scheme);

// Reads the grey TIFF with an alpha sample at the start of Device into
// Image, which has the picture's size; its pixels are taken over when they
// lie back to back in 32 bits. Image becomes ARGB32, premultiplied when the
// file's alpha is, with the file's colour profile. False when the file does
// not decode.
bool ReadGreyAlphaTiff(QIODevice& Device, QImage& Image);

} // namespace Corvanith::Platform
