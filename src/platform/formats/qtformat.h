#pragma once
// Pictures read through Qt's reader of their format, for the formats whose
// own unit checks the file and mends what Qt's reader gets wrong but leaves
// the decoding to Qt.
#include "platform/formats/format.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <vector>

class QImageReader;

namespace Corvanith::Platform {

class TStreamDevice;

// Bytes of a picture file, from the picture's start.
struct TByteRange {
    int64_t Offset;
    int64_t Length;
};

class TQtFormatReader : public TFormatReader {
public:
    ~TQtFormatReader() override;

    bool Read(uint8_t* Bits, int32_t Stride) override;

protected:
    struct TOptions {
        explicit TOptions(const char* QtFormat) : Format(QtFormat) {}

        // Qt's name of the format.
        const char* Format;
        // A reader that asks for exactly the bytes the file must hold: any
        // read that comes back short means the file ended early. The others
        // read ahead in chunks: for them a file ended early when a read found
        // nothing left.
        bool ExactReads = false;
        // Small reads are served from a buffer filled this many bytes at a
        // time; 0 reads straight from the stream.
        size_t ReadAhead = 0;
        // Ranges Qt's reader does not see, in the order they lie in.
        std::vector<TByteRange> Hidden;
        // The unit's own check has bounded what the file lacks: where it
        // ends before Qt's reader is done, the pixels left are zero.
        bool MayEndEarly = false;
    };

    // The stream stands at the picture's start.
    explicit TQtFormatReader(IStream& Stream);

    // Opens Qt's reader over the stream from the picture's start, wherever
    // the unit's own checks left the stream: the size it reports.
    QSize Open(const TOptions& Options);
    // The picture has Size when the decoder takes that size.
    void Accept(QSize Size);

    // What the format's unit mends in Qt's result before it is handed over.
    virtual void Mend(QImage&) {}

private:
    IStream& FStream;
    uint64_t FStart = 0;
    bool FExactReads = false;
    bool FMayEndEarly = false;
    std::unique_ptr<TStreamDevice> FDevice;
    std::unique_ptr<QImageReader> FReader;
};

} // namespace Corvanith::Platform
