// Surfaces read from and written to streams and files: the raw surface format
// of our own, and every picture format the imaging layer decodes or encodes.
#include "graphics/surface.h"

#include "graphics/errors.h"
#include "graphics/streamadapter.h"
#include "platform/codecs.h"
#include "platform/imaging.h"
#include "platform/streams.h"

#include <climits>

namespace Corvanith::Graphics {

namespace {

constexpr uint32_t RawSurfaceVersion = 1;

} // namespace

void GetEncoderClsidByFormat(const Platform::TGuid& FormatID, Platform::TGuid& Clsid)
{
    for (const Platform::TImageCodecInfo& encoder : Platform::ImageEncoders())
        if (encoder.FormatID == FormatID)
            Clsid = encoder.Clsid;
}

void TCorvSurface::AssignBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha)
{
    TakeOver(*Create(Bitmap.Width(), Bitmap.Height()));
    Bitmap.ReadPixels(Bits(), FStride);
    if (CheckAlpha)
        FHasAlpha = DetectAlpha();
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateFromGPBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha)
{
    auto s = Create(0, 0);
    s->AssignBitmap(Bitmap, CheckAlpha);
    s->FRawFormat = Bitmap.RawFormat();
    return s;
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateFromBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha)
{
    auto s = Create(0, 0);
    s->AssignBitmap(Bitmap, CheckAlpha);
    return s;
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateFromStream(Platform::TStream& Stream, TCorvProgressEvent OnProgress)
{
    // The surface exists from the start, so progress names it as sender.
    auto s = Create(0, 0);
    s->OnProgress = std::move(OnProgress);

    uint8_t magic[4];
    const int32_t got = Stream.Read(magic, 4);
    // Back by what was read, never before where the caller's stream stood.
    Stream.Seek(-int64_t(got), Platform::TSeekOrigin::soCurrent);
    if (got == 4 &&
        (uint32_t(magic[0]) | uint32_t(magic[1]) << 8 | uint32_t(magic[2]) << 16 | uint32_t(magic[3]) << 24) ==
            RawSurfaceMagic) {
        s->LoadRaw(Stream);
        return s;
    }

    const auto finished = [&s] {
        if (s->OnProgress)
            s->OnProgress(s.get(), -1, -1);
    };
    try {
        IO::TCorvStreamAdapter adapter(Stream, [&s](Platform::TStream& st, int32_t position) {
            s->StreamProgress(st, position);
        });
        const std::shared_ptr<Platform::IStream> stream = IO::CreateStreamInterface(adapter);
        Platform::TImageDecoder decoder(*stream);
        if (!decoder.Valid())
            throw EStreamError("Unknown image format.");
        s->TakeOver(*Create(decoder.Width(), decoder.Height()));
        // The decoder converts straight into the buffer.
        if (!decoder.Read(s->Bits(), s->FStride))
            throw EStreamError("Unknown image format.");
        s->FHasAlpha = !decoder.Opaque() && s->DetectAlpha();
        s->FRawFormat = decoder.RawFormat();
    } catch (...) {
        finished();
        throw;
    }
    finished();
    return s;
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateFromFile(const QString& FileName, TCorvProgressEvent OnProgress)
{
    Platform::TFileStream file(FileName, Platform::TFileMode::fmOpenRead);
    return CreateFromStream(file, std::move(OnProgress));
}

void TCorvSurface::StreamProgress(Platform::TStream& Stream, int32_t Position)
{
    if (OnProgress)
        OnProgress(this, Position, int32_t(uint32_t(uint64_t(Stream.Size()))));
}

void TCorvSurface::LoadRaw(Platform::TStream& Stream)
{
    Stream.ReadUInt32(); // magic, already compared
    Stream.ReadUInt32(); // version, not examined
    const auto width = int32_t(Stream.ReadUInt32());
    const auto height = int32_t(Stream.ReadUInt32());
    // Raw blocks come from files on the user's disk (the recent list's
    // thumbnails): a damaged header must not size the buffer. Every product
    // is bounded before it is formed, so none can overflow.
    if (width < 0 || height < 0)
        throw EStreamError("Damaged surface stream: size " + std::to_string(width) + " x " +
                           std::to_string(height));
    const int64_t pixels = int64_t(width) * height;
    if (!SizeFits(width, height) || pixels * 4 > Stream.Remaining())
        throw EStreamError("Damaged surface stream: " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels are more than the stream holds");
    const auto bytes = int32_t(pixels * 4);
    TakeOver(*Create(width, height));
    Stream.ReadBuffer(Bits(), bytes);
    FRawFormat = ImageFormatRawSurface;
}

void TCorvSurface::SaveToStream(Platform::TStream& Stream, const Platform::TGuid& Format)
{
    if (Format == ImageFormatRawSurface) {
        Stream.WriteUInt32(RawSurfaceMagic);
        Stream.WriteUInt32(RawSurfaceVersion);
        Stream.WriteUInt32(uint32_t(FWidth));
        Stream.WriteUInt32(uint32_t(FHeight));
        Stream.WriteBuffer(Bits(), FWidth * FHeight * 4);
        return;
    }
    Platform::TGuid clsid{};
    GetEncoderClsidByFormat(Format, clsid);
    if (clsid == Platform::TGuid{})
        return;
    IO::TCorvStreamAdapter adapter(Stream, {});
    const std::shared_ptr<Platform::IStream> stream = IO::CreateStreamInterface(adapter);
    if (!Platform::EncodeImage(GetGPBitmap(), *stream, clsid)) {
        // The stream's own failure says which file and why.
        if (adapter.WriteFailure())
            std::rethrow_exception(adapter.WriteFailure());
        throw EStreamError("The picture could not be encoded or written.");
    }
}

void TCorvSurface::SaveToFile(const QString& FileName, const Platform::TGuid& Format)
{
    // A format nothing can write leaves an existing file as it was rather
    // than an empty one in its place.
    Platform::TGuid clsid{};
    GetEncoderClsidByFormat(Format, clsid);
    if (Format != ImageFormatRawSurface && clsid == Platform::TGuid{})
        return;
    Platform::TSaveFileStream file(FileName);
    SaveToStream(file, Format);
    file.Commit();
}

} // namespace Corvanith::Graphics
