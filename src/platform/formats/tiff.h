#pragma once
// TIFF pictures read through libtiff itself: classic TIFF and BigTIFF in
// either byte order, the first page of a file. The structure check takes its
// facts from the directory libtiff read, so the two never see different
// files; the picture is decoded a strip or a row of tiles at a time straight
// into the caller's buffer, turned upright as its Orientation tag says.
#include "platform/formats/format.h"

#include <memory>

namespace Corvanith::Platform {

class TTiffReader final : public TFormatReader {
public:
    // Reads the header and the first directory from the stream's current
    // position on, and judges whether the picture can be decoded: libtiff
    // must know its kind of samples and its compression, every strip or tile
    // it needs must lie in the file, and their bytes, decompressed at the
    // most the scheme can expand, must reach the picture's bytes.
    explicit TTiffReader(IStream& Stream);
    ~TTiffReader() override;

    static bool Matches(TSignature Head);

    bool Read(uint8_t* Bits, int32_t Stride) override;

private:
    class TFile;
    class TLayout;

    std::unique_ptr<TLayout> Judge();

    std::unique_ptr<TFile> FFile;
    std::unique_ptr<TLayout> FLayout;
};

} // namespace Corvanith::Platform
