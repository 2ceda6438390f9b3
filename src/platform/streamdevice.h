#pragma once
// The stream interface as a QIODevice, for Qt's own picture readers and
// writers.
#include "platform/streams.h"

#include <QIODevice>

#include <cstdint>
#include <vector>

namespace Corvanith::Platform {

// Passes everything on to the stream interface. Offsets count from the
// stream position at opening, so a picture in the middle of a larger stream
// reads as if it stood alone. Unbuffered unless told to read ahead: every
// read of a codec reaches the stream at once, and progress follows the
// codec's real reads. Reading ahead, a codec's small reads are served from a
// buffer filled ReadAhead bytes at a time. The stream is only moved when a
// read would not start where the last one ended.
class TStreamDevice : public QIODevice {
public:
    TStreamDevice(IStream& Stream, OpenMode Mode, size_t ReadAhead = 0);

    bool isSequential() const override { return false; }

    // Length bytes from Offset on (in the stream, from the opening position)
    // are left out: the codec reads the stream as if they were not there.
    // Ranges are hidden in the order they lie in and never overlap.
    void Hide(int64_t Offset, int64_t Length);

    // Whether a read came back with fewer bytes than asked, and whether one
    // found nothing left at all, since the last ResetShortReads.
    bool ShortRead() const { return FShortRead; }
    bool ReadAtEnd() const { return FReadAtEnd; }
    void ResetShortReads() { FShortRead = FReadAtEnd = false; }

    bool seek(qint64 pos) override;
    qint64 size() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    struct THidden {
        // Where the range lies as the codec sees the stream.
        int64_t At;
        // The bytes hidden up to its end, its own included.
        int64_t Through;
    };

    int64_t HiddenBytes() const { return FHidden.empty() ? 0 : FHidden.back().Through; }
    // The first range that lies after Pos.
    std::vector<THidden>::const_iterator NextHidden(qint64 Pos) const;
    int64_t StreamOffset(qint64 Pos) const;
    // One read of the stream at At as the codec sees it; it stops before
    // hidden bytes, and the next one starts after them.
    qint64 ReadStream(qint64 At, char* Data, qint64 MaxSize);
    bool MoveStream(int64_t Offset);

    IStream& FStream;
    int64_t FBase = 0;
    // Where the stream stands, from the opening position; -1 when unknown.
    int64_t FStreamAt = 0;
    std::vector<THidden> FHidden;
    // Bytes read ahead, from FAheadAt as the codec sees the stream.
    std::vector<char> FAhead;
    qint64 FAheadAt = 0;
    qint64 FAheadFilled = 0;
    bool FShortRead = false;
    bool FReadAtEnd = false;
};

} // namespace Corvanith::Platform
