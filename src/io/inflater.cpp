#include "io/inflater.h"

#include <QList>

#include <zlib.h>

namespace Corvanith::Net {

namespace {

// Whether a stream that starts with this byte has a gzip or zlib header: a
// raw deflate stream cannot start with the first byte of the gzip magic (a
// block of the reserved type), nor, as encoders write it, with a zlib header's
// first byte (a stored block whose padding bits are not zero).
bool HasHeader(unsigned char First)
{
    return First == 0x1F || ((First & 0x0F) == Z_DEFLATED && (First >> 4) <= 7);
}

} // namespace

ECompressedDataError::ECompressedDataError() : ECorvError(DamagedDataText) {}

std::unique_ptr<TCorvInflater> TCorvInflater::ForEncodings(const QByteArray& Encodings)
{
    // Repeated headers arrive joined into one list; "identity" changes nothing.
    QList<QByteArray> codings;
    for (const QByteArray& item : Encodings.split(',')) {
        const QByteArray coding = item.trimmed().toLower();
        if (!coding.isEmpty() && coding != "identity")
            codings.append(coding);
    }
    if (codings.isEmpty())
        return nullptr;
    if (codings.size() > 1 || (codings[0] != "gzip" && codings[0] != "x-gzip" && codings[0] != "deflate"))
        throw ECompressedDataError();
    return std::make_unique<TCorvInflater>();
}

TCorvInflater::TCorvInflater() : FStream(std::make_unique<z_stream>()) {}

TCorvInflater::~TCorvInflater()
{
    if (FStarted)
        inflateEnd(FStream.get());
}

void TCorvInflater::SetInput(const char* Data, int32_t Size)
{
    if (Size <= 0)
        return;
    FStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data));
    FStream->avail_in = uInt(Size);
    if (FStarted)
        return;
    // Which form the data takes is known from its first byte: gzip or zlib
    // by their headers, which zlib tells apart itself, else raw deflate.
    const int windowBits = HasHeader(FStream->next_in[0]) ? MAX_WBITS + 32 : -MAX_WBITS;
    if (inflateInit2(FStream.get(), windowBits) != Z_OK)
        throw EOutOfMemory("Out of memory for inflating the answer");
    FStarted = true;
}

int32_t TCorvInflater::Inflate(char* Buffer, int32_t Size)
{
    if (!FStarted || Size <= 0)
        return 0;
    FStream->next_out = reinterpret_cast<Bytef*>(Buffer);
    FStream->avail_out = uInt(Size);
    while (FStream->avail_out > 0) {
        if (FStreamEnded) {
            if (FStream->avail_in == 0)
                break;
            // A further stream, as gzip allows members one after another.
            inflateReset(FStream.get());
            FStreamEnded = false;
        }
        const int result = inflate(FStream.get(), Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            FStreamEnded = true;
        else if (result == Z_BUF_ERROR)
            break; // all input taken and all it gives out
        else if (result != Z_OK)
            throw ECompressedDataError();
    }
    return Size - int32_t(FStream->avail_out);
}

} // namespace Corvanith::Net
