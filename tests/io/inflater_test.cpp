#include "io/inflater.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <QByteArray>

#include <algorithm>

namespace {

using namespace Corvanith;
using Net::TCorvInflater;

// Text that packs well but not trivially, so that its stream has many blocks
// and matches that reach back far.
QByteArray Original()
{
    QByteArray text;
    for (int i = 0; text.size() < 60000; ++i)
        text += "line " + QByteArray::number(i * 7919 % 1009) + " of the body\n";
    return text;
}

// Data compressed by zlib: WindowBits 31 for gzip, 15 for zlib, -15 for raw
// deflate.
QByteArray Compressed(const QByteArray& Data, int WindowBits)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(Data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.constData()));
    stream.avail_in = uInt(Data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Body fed in parts of InputPart bytes, inflated OutputPart bytes at a time.
QByteArray InflateAll(TCorvInflater& Inflater, const QByteArray& Body, int InputPart, int OutputPart)
{
    QByteArray out;
    std::vector<char> piece(static_cast<size_t>(OutputPart));
    for (qsizetype at = 0; at < Body.size(); at += InputPart) {
        const QByteArray part = Body.mid(at, InputPart);
        Inflater.SetInput(part.constData(), int32_t(part.size()));
        while (const int32_t n = Inflater.Inflate(piece.data(), OutputPart))
            out.append(piece.data(), n);
    }
    return out;
}

struct TForm {
    const char* Name;
    QByteArray Body;
    QByteArray Inflated;
};

std::vector<TForm> Forms()
{
    const QByteArray data = Original();
    const QByteArray gzip = Compressed(data, 31);
    return {
        {"gzip", gzip, data},
        {"zlib", Compressed(data, 15), data},
        {"raw deflate", Compressed(data, -15), data},
        {"two gzip members", gzip + Compressed(data.left(1000), 31), data + data.left(1000)},
    };
}

// The network splits a body anywhere: every split gives the same bytes.
TEST(InflaterTest, InflatesWhateverTheSplit)
{
    for (const TForm& form : Forms()) {
        for (const int inputPart : {1, 7, 4096, int(form.Body.size())}) {
            for (const int outputPart : {1, 13, 65536}) {
                SCOPED_TRACE(testing::Message() << form.Name << ", in " << inputPart << ", out " << outputPart);
                TCorvInflater inflater;
                EXPECT_EQ(InflateAll(inflater, form.Body, inputPart, outputPart), form.Inflated);
                EXPECT_TRUE(inflater.Complete());
            }
        }
    }
}

// Whether a body inflates with an error or ends inside a stream.
bool Fails(const QByteArray& Body)
{
    TCorvInflater inflater;
    try {
        InflateAll(inflater, Body, 4096, 65536);
    } catch (const Net::ECompressedDataError&) {
        return true;
    }
    return !inflater.Complete();
}

// A body cut anywhere fails, as does one with any byte of its compressed
// data or its check changed, where it has a check; one that never began is
// no stream cut short.
TEST(InflaterTest, CutOrDamagedDataFails)
{
    const QByteArray data = Original();
    struct TCase {
        const char* Name;
        QByteArray Body;
        // Of the header, the gzip header's time, flags and system go unchecked.
        qsizetype FirstChecked;
    };
    const TCase cases[] = {
        {"gzip", Compressed(data, 31), 10},
        {"zlib", Compressed(data, 15), 0},
        // Without a check, only the cut shows.
        {"raw deflate", Compressed(data, -15), -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const qsizetype size = c.Body.size();
        // Every byte of the last ones, where the checks lie, and a sample
        // elsewhere.
        const auto next = [size](qsizetype At) { return At + (At < size - 40 ? 61 : 1); };
        for (qsizetype cut = 1; cut < size; cut = next(cut))
            EXPECT_TRUE(Fails(c.Body.left(cut))) << "cut at " << cut << " of " << size;
        for (qsizetype at = c.FirstChecked; at >= 0 && at < size; at = next(at)) {
            QByteArray damaged = c.Body;
            damaged[at] = char(damaged[at] ^ 0xFF);
            EXPECT_TRUE(Fails(damaged)) << "byte " << at << " of " << size;
        }
    }
    EXPECT_FALSE(Fails({}));
}

TEST(InflaterTest, OneEncodingOfGzipOrDeflateIsTaken)
{
    for (const char* plain : {"", "identity", " Identity , "})
        EXPECT_EQ(TCorvInflater::ForEncodings(plain), nullptr) << plain;
    for (const char* taken : {"gzip", "GZIP", " x-gzip ", "deflate", "identity, gzip"})
        EXPECT_NE(TCorvInflater::ForEncodings(taken), nullptr) << taken;
    for (const char* refused : {"gzip, gzip", "deflate, gzip", "br", "zstd", "compress", "gzip;q=1"})
        EXPECT_THROW(TCorvInflater::ForEncodings(refused), Net::ECompressedDataError) << refused;
}

} // namespace
