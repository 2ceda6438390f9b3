#pragma once
// TCorvInflater: the body of an answer sent compressed, inflated as it
// arrives, in pieces of the caller's size, so that no more than a piece is
// held whatever the ratio.
#include "graphics/errors.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

struct z_stream_s;

namespace Corvanith::Net {

inline constexpr const char* DamagedDataText = "The answer's compressed data is damaged.";

// Compressed data that does not inflate: damaged, or in an encoding that is
// not taken. A fault of the transfer, not of the picture.
class ECompressedDataError : public ECorvError {
public:
    ECompressedDataError();
};

// What the downloader asks the server for in "Accept-Encoding".
inline constexpr const char* AcceptedEncodings = "gzip, deflate";

class TCorvInflater {
public:
    // For a body in these encodings (the "Content-Encoding" header as
    // received): nullptr when the body is sent as it is; one encoding of
    // gzip, x-gzip or deflate, in any case, is inflated; others, and more
    // than one, raise ECompressedDataError.
    static std::unique_ptr<TCorvInflater> ForEncodings(const QByteArray& Encodings);

    TCorvInflater();
    TCorvInflater(const TCorvInflater&) = delete;
    TCorvInflater& operator=(const TCorvInflater&) = delete;
    ~TCorvInflater();

    // The next bytes of the body; they must stay until Inflate returns 0.
    void SetInput(const char* Data, int32_t Size);
    // Up to Size inflated bytes into Buffer; 0 once the input is used up.
    // The data may come in gzip, zlib or raw deflate form, whatever the
    // encoding's name says, and in several streams one after another.
    int32_t Inflate(char* Buffer, int32_t Size);
    // Whether the input so far ends where a stream ends, or there was none:
    // at the end of the body, whether it came whole.
    bool Complete() const { return !FStarted || FStreamEnded; }

private:
    std::unique_ptr<z_stream_s> FStream;
    bool FStarted = false;
    bool FStreamEnded = false;
};

} // namespace Corvanith::Net
