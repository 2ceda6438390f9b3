#include "platform/formats/jpeg.h"

#include "platform/formats/exif.h"
#include "platform/formats/pixels.h"
#include "platform/streamcursor.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace Corvanith::Platform {

namespace {

// The stream is read this many bytes at a time; progress follows each read.
constexpr uint32_t ChunkBytes = 1 << 16;
// Rows handed to libjpeg per call: more than any sampling outputs at once.
constexpr int RowsPerCall = 16;

// A file of several scans may code every block again in each, and repeat its
// scans as often as it likes: where end-of-band runs skip the blocks a scan
// of Huffman codes takes a few bytes, one of arithmetic codes hardly any. All
// scans together may code 16 times the frame's blocks, or 64 Mi blocks where
// that is more; encoders write some 10 scans of one pass over the frame or
// less. Arithmetic coding has no least cost for a block at all, so a few
// bytes may claim a frame of any size: the coefficients of such a file of
// several scans must fit in 256 MiB beside the largest picture the decoder
// takes, and a smaller picture leaves them the rest of that picture's room.
// So nothing a file claims holds more than 256 MiB beside a full-size
// surface, and valid files of the usual sizes open (a progressive 8000 x 8000
// picture sampled 4:4:4 needs 384 MiB). Huffman codes cost at least a bit a
// block, which the probe checks.
constexpr int ScanPasses = 16;
constexpr uint64_t LeastScanBlocks = uint64_t(64) << 20;
constexpr long ArithmeticCoefficientBytes = 256L << 20;

// Whether libjpeg, meeting the marker Code within a scan's entropy-coded
// data, finds no more of the scan's data after it. It resumes after a restart
// marker, and passes over codes below 0xC0, at the next restart.
bool EndsScan(int Code) { return Code >= 0xC0 && (Code < 0xD0 || Code > 0xD7); }

// JPEG: every scan codes each 8 x 8 block of its components, so its entropy
// data has a least size. A block of a sequential scan or of a progressive
// DC scan costs at least one bit (a Huffman code is never shorter); a
// progressive AC scan may skip up to 32767 blocks with one end-of-band run
// of 15 bits. Scans are read from the file, so the least size also bounds
// how many scans a file of its size may hold, and every component must have
// its DC coefficients coded somewhere. Arithmetic coding can code a block
// in far less than a bit; only the scans' presence is checked there.
class TJpegProbe {
public:
    explicit TJpegProbe(TStreamCursor& File) : FFile(File) {}

    bool Plausible()
    {
        FFile.Seek(2);
        for (;;) {
            int marker = NextMarker();
            if (marker < 0 || marker == 0xD9)
                break;
            // Markers without a segment; a restart outside a scan is stray.
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
                continue;
            uint8_t size[2];
            if (!FFile.Read(size, sizeof(size)))
                break;
            const int length = BigEndian16(size) - 2;
            if (length < 0)
                break;
            const int64_t end = FFile.Position() + length;
            if (IsFrame(marker) && FComponents.empty()) {
                if (!ReadFrame(marker, length))
                    return false;
            } else if (marker == 0xDA && !FComponents.empty()) {
                if (!ReadScan(length))
                    return false;
                continue;
            }
            FFile.Seek(end);
        }
        return std::all_of(FComponents.begin(), FComponents.end(), [](const TComponent& c) { return c.DcCoded; });
    }

private:
    struct TComponent {
        uint8_t Id;
        uint64_t Blocks;
        bool DcCoded;
    };

    static bool IsFrame(int Marker)
    {
        return Marker >= 0xC0 && Marker <= 0xCF && Marker != 0xC4 && Marker != 0xC8 && Marker != 0xCC;
    }

    // The next marker's code, skipping fill bytes and anything else between
    // segments (libjpeg skips such bytes as well); -1 at the end.
    int NextMarker()
    {
        for (;;) {
            int b = FFile.Next();
            if (b < 0)
                return -1;
            if (b != 0xFF)
                continue;
            do
                b = FFile.Next();
            while (b == 0xFF);
            if (b != 0)
                return b;
        }
    }

    bool ReadFrame(int Marker, int Length)
    {
        uint8_t head[6];
        if (Length < 6 || !FFile.Read(head, sizeof(head)))
            return true;
        const uint32_t height = BigEndian16(head + 1);
        const uint32_t width = BigEndian16(head + 3);
        const int count = head[5];
        if (Length < 6 + 3 * count)
            return true;
        std::vector<std::array<uint8_t, 3>> parts(static_cast<size_t>(count));
        int hMax = 1, vMax = 1;
        for (auto& p : parts) {
            FFile.Read(p.data(), 3);
            hMax = std::max(hMax, p[1] >> 4);
            vMax = std::max(vMax, p[1] & 15);
        }
        FProgressive = Marker == 0xC2 || Marker == 0xC6 || Marker == 0xCA || Marker == 0xCE;
        FArithmetic = Marker >= 0xC9;
        uint64_t blocks = 0;
        for (const auto& p : parts) {
            const uint64_t w = (uint64_t(width) * std::max(1, p[1] >> 4) + uint64_t(hMax) - 1) / uint64_t(hMax);
            const uint64_t h = (uint64_t(height) * std::max(1, p[1] & 15) + uint64_t(vMax) - 1) / uint64_t(vMax);
            FComponents.push_back({p[0], ((w + 7) / 8) * ((h + 7) / 8), false});
            blocks += FComponents.back().Blocks;
        }
        // Every block is coded at least once in what follows.
        return FArithmetic || blocks <= uint64_t(FFile.Size() - FFile.Position()) * 8;
    }

    bool ReadScan(int Length)
    {
        std::vector<uint8_t> head(static_cast<size_t>(Length));
        if (Length < 1 || !FFile.Read(head.data(), head.size()))
            return true;
        const size_t count = head[0];
        if (head.size() < 1 + 2 * count + 3)
            return true;
        const uint8_t start = head[1 + 2 * count];
        uint64_t bits = 0;
        std::vector<bool> inScan(FComponents.size());
        for (size_t i = 0; i < count; ++i) {
            // Some files repeat identifiers: a selector takes the first
            // component of its identifier not yet in the scan.
            size_t c = 0;
            while (c < FComponents.size() && (FComponents[c].Id != head[1 + 2 * i] || inScan[c]))
                ++c;
            if (c == FComponents.size())
                continue;
            inScan[c] = true;
            TComponent& component = FComponents[c];
            if (!FProgressive || start == 0) {
                component.DcCoded = true;
                bits += component.Blocks;
            } else {
                bits += component.Blocks * 15 / 32767;
            }
        }
        return FArithmetic || EntropyBytes() * 8 >= bits;
    }

    // The bytes of the entropy-coded data that follows a scan header, up to
    // the next marker that ends a scan; the cursor is left on that marker.
    // Restart markers, and codes below 0xC0 that are no marker at all (junk
    // some writers leave in the data), do not end it: libjpeg decodes on
    // after them at the next restart.
    uint64_t EntropyBytes()
    {
        uint64_t bytes = 0;
        for (;;) {
            const int b = FFile.Next();
            if (b < 0)
                return bytes;
            if (b != 0xFF) {
                ++bytes;
                continue;
            }
            const int64_t marker = FFile.Position() - 1;
            // Any number of fill bytes may stand before a marker, a restart
            // marker too.
            int next = FFile.Next();
            while (next == 0xFF)
                next = FFile.Next();
            if (next == 0) {
                ++bytes;
            } else if (next < 0 || EndsScan(next)) {
                FFile.Seek(marker);
                return bytes;
            }
        }
    }

    TStreamCursor& FFile;
    std::vector<TComponent> FComponents;
    bool FProgressive = false;
    bool FArithmetic = false;
};

} // namespace

class TJpegReader::TDecompress {
public:
    explicit TDecompress(IStream& Stream) : FStream(Stream), FBuffer(ChunkBytes)
    {
        FInfo.err = jpeg_std_error(&FErrors);
        FErrors.error_exit = ErrorExit;
        FErrors.emit_message = EmitMessage;
        FInfo.client_data = this;
        FSource.init_source = [](j_decompress_ptr) {};
        FSource.fill_input_buffer = FillInputBuffer;
        FSource.skip_input_data = SkipInputData;
        FSource.resync_to_restart = ResyncToRestart;
        FSource.term_source = [](j_decompress_ptr) {};
        FProgress.progress_monitor = CountScanBlocks;
    }

    ~TDecompress()
    {
        if (FCreated)
            jpeg_destroy_decompress(&FInfo);
    }

    TDecompress(const TDecompress&) = delete;
    TDecompress& operator=(const TDecompress&) = delete;

    // Runs Step, in which libjpeg may give up on the file: false then, and
    // when the data ended before the picture did. Step holds nothing that
    // needs destroying, as libjpeg leaves it by a long jump.
    template <class TStep> bool Guarded(const TStep& Step)
    {
        if (setjmp(FExit) != 0)
            return false;
        Step();
        return true;
    }

    // Within Guarded: reads the headers, up to the first scan.
    void ReadHeader()
    {
        jpeg_create_decompress(&FInfo);
        FCreated = true;
        FInfo.src = &FSource;
        jpeg_save_markers(&FInfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&FInfo, JPEG_APP0 + 2, 0xFFFF);
        if (jpeg_read_header(&FInfo, TRUE) != JPEG_HEADER_OK)
            ERREXIT(&FInfo, JERR_NO_IMAGE);
        switch (FInfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            FInfo.out_color_space = JCS_EXT_BGRA;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            FInfo.out_color_space = JCS_CMYK;
            break;
        default:
            ERREXIT(&FInfo, JERR_CONVERSION_NOTIMPL);
        }
        uint64_t frameBlocks = 0;
        for (int c = 0; c < FInfo.num_components; ++c)
            frameBlocks += uint64_t(FInfo.comp_info[c].width_in_blocks) * FInfo.comp_info[c].height_in_blocks;
        FBlocksLeft = std::max(LeastScanBlocks, ScanPasses * frameBlocks);
        FInfo.progress = &FProgress;
        if (FInfo.arith_code) {
            constexpr int64_t LargestSurface = int64_t(MaxDecodedSide) * MaxDecodedSide * 4;
            const int64_t surface = int64_t(FInfo.image_width) * FInfo.image_height * 4;
            FInfo.mem->max_memory_to_use =
                long(ArithmeticCoefficientBytes + std::max<int64_t>(0, LargestSurface - surface));
        }
        JOCTET* profile = nullptr;
        unsigned int length = 0;
        if (jpeg_read_icc_profile(&FInfo, &profile, &length)) {
            FProfile = profile;
            FProfileLength = length;
        }
    }

    // The embedded colour profile, once: the caller owns it (std::free).
    JOCTET* TakeProfile(unsigned int& Length)
    {
        Length = FProfileLength;
        return std::exchange(FProfile, nullptr);
    }

    // The orientation of the first APP1 segment that holds an Exif block.
    TOrientation Orientation() const
    {
        for (jpeg_saved_marker_ptr m = FInfo.marker_list; m != nullptr; m = m->next)
            if (m->marker == JPEG_APP0 + 1 && IsExifBlock({m->data, m->data_length}))
                return ExifOrientation({m->data, m->data_length});
        return TOrientation::Upright;
    }

    jpeg_decompress_struct& Info() { return FInfo; }

private:
    static TDecompress& Self(j_common_ptr Info) { return *static_cast<TDecompress*>(Info->client_data); }

    [[noreturn]] static void ErrorExit(j_common_ptr Info) { std::longjmp(Self(Info).FExit, 1); }

    // Whether the marker that libjpeg's entropy decoder stopped at leaves no
    // more of the scan's data: libjpeg then fills the rest with grey. Where a
    // scan has restarts, damage before a restart is mended there.
    static bool ScanDataEnded(j_common_ptr Common)
    {
        const auto* info = reinterpret_cast<j_decompress_ptr>(Common);
        return info->unread_marker != 0 && (info->restart_interval == 0 || EndsScan(info->unread_marker));
    }

    // Warnings are no failure to libjpeg: a scan whose data ends before its
    // blocks do is one here, damage that a restart mends is not.
    static void EmitMessage(j_common_ptr Info, int Level)
    {
        if (Level < 0 && Info->err->msg_code == JWRN_HIT_MARKER && ScanDataEnded(Info))
            ErrorExit(Info);
    }

    // A restart marker that is not where it should be: libjpeg looks for the
    // next one and goes on from there, unless it finds the scan's end first.
    static boolean ResyncToRestart(j_decompress_ptr Info, int Desired)
    {
        const boolean resumed = jpeg_resync_to_restart(Info, Desired);
        if (ScanDataEnded(reinterpret_cast<j_common_ptr>(Info)))
            ErrorExit(reinterpret_cast<j_common_ptr>(Info));
        return resumed;
    }

    // libjpeg reads on up to the end marker: a stream that ends first is
    // cut short.
    static boolean FillInputBuffer(j_decompress_ptr Info)
    {
        TDecompress& self = Self(reinterpret_cast<j_common_ptr>(Info));
        uint32_t got = 0;
        if (!Succeeded(self.FStream.Read(self.FBuffer.data(), ChunkBytes, &got)) || got == 0)
            ERREXIT(Info, JERR_INPUT_EOF);
        self.FSource.next_input_byte = self.FBuffer.data();
        self.FSource.bytes_in_buffer = std::min(got, ChunkBytes);
        return TRUE;
    }

    // Segments libjpeg does not keep are passed over without reading them.
    static void SkipInputData(j_decompress_ptr Info, long Count)
    {
        TDecompress& self = Self(reinterpret_cast<j_common_ptr>(Info));
        if (Count <= 0)
            return;
        if (size_t(Count) <= self.FSource.bytes_in_buffer) {
            self.FSource.next_input_byte += Count;
            self.FSource.bytes_in_buffer -= size_t(Count);
            return;
        }
        const int64_t beyond = Count - int64_t(self.FSource.bytes_in_buffer);
        self.FSource.bytes_in_buffer = 0;
        self.FStream.Seek(beyond, 1, nullptr);
    }

    // Called before each row of a scan is decoded, and before each batch of
    // output rows: each scan's blocks are counted once, before its data.
    static void CountScanBlocks(j_common_ptr Common)
    {
        TDecompress& self = Self(Common);
        const auto* info = reinterpret_cast<j_decompress_ptr>(Common);
        if (info->input_scan_number == self.FScansCounted)
            return;
        self.FScansCounted = info->input_scan_number;
        const uint64_t blocks = uint64_t(info->MCUs_per_row) * info->MCU_rows_in_scan * uint64_t(info->blocks_in_MCU);
        if (blocks > self.FBlocksLeft)
            ErrorExit(Common);
        self.FBlocksLeft -= blocks;
    }

    IStream& FStream;
    std::vector<JOCTET> FBuffer;
    jpeg_decompress_struct FInfo{};
    jpeg_error_mgr FErrors{};
    jpeg_source_mgr FSource{};
    jpeg_progress_mgr FProgress{};
    std::jmp_buf FExit{};
    bool FCreated = false;
    int FScansCounted = 0;
    // What the scans not yet begun may code.
    uint64_t FBlocksLeft = 0;
    JOCTET* FProfile = nullptr;
    unsigned int FProfileLength = 0;
};

TJpegReader::TJpegReader(IStream& Stream)
{
    uint64_t start = 0;
    Stream.Seek(0, 1, &start);
    bool plausible = false;
    {
        TStreamCursor file(Stream, 1 << 16);
        plausible = TJpegProbe(file).Plausible();
    }
    Stream.Seek(int64_t(start), 0, nullptr);
    if (!plausible)
        return;
    FDecompress = std::make_unique<TDecompress>(Stream);
    TDecompress& d = *FDecompress;
    const bool started = d.Guarded([&d] {
        d.ReadHeader();
        // A file of several scans is read whole here, into coefficients of
        // the frame's size: a frame the decoder refuses is never begun.
        if (!DecodedSizeAllowed(d.Info().image_width, d.Info().image_height))
            ERREXIT(&d.Info(), JERR_IMAGE_TOO_BIG);
        jpeg_start_decompress(&d.Info());
    });
    unsigned int length = 0;
    if (JOCTET* profile = d.TakeProfile(length)) {
        FColourSpace = QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile), int(length)));
        std::free(profile);
    }
    if (!started) {
        FDecompress.reset();
        return;
    }
    FOrientation = d.Orientation();
    std::tie(FWidth, FHeight) =
        OrientedSize(FOrientation, int32_t(d.Info().output_width), int32_t(d.Info().output_height));
}

TJpegReader::~TJpegReader() = default;

bool TJpegReader::Matches(TSignature Head)
{
    return Head.size() >= 3 && Head[0] == 0xFF && Head[1] == 0xD8 && Head[2] == 0xFF;
}

namespace {

// Adobe's writers store CMYK inverted, and Qt shows every CMYK file so:
// each colour is its stored value times the stored black.
void InvertedCmykToBgra(uint8_t* Row, uint32_t Width)
{
    for (uint8_t *p = Row, *end = Row + size_t(Width) * 4; p != end; p += 4) {
        const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        p[0] = uint8_t(k * y / 255);
        p[1] = uint8_t(k * m / 255);
        p[2] = uint8_t(k * c / 255);
        p[3] = 0xFF;
    }
}

} // namespace

bool TJpegReader::Read(uint8_t* Bits, int32_t Stride)
{
    if (!FDecompress)
        return false;
    TDecompress& d = *FDecompress;
    jpeg_decompress_struct& info = d.Info();
    const bool cmyk = info.out_color_space == JCS_CMYK;
    const int32_t width = int32_t(info.output_width);
    TOrientedRows shown(FOrientation, width, int32_t(info.output_height), Bits, Stride);
    // Rows that do not stay rows are decoded a band at a time beside the
    // picture, and turned into their places from there.
    std::vector<uint32_t> band(shown.DirectRow(0) ? 0 : size_t(RowsPerCall) * size_t(width));
    const bool read = d.Guarded([&] {
        while (info.output_scanline < info.output_height) {
            const int32_t first = int32_t(info.output_scanline);
            const int count = int(std::min<JDIMENSION>(RowsPerCall, info.output_height - info.output_scanline));
            JSAMPROW rows[RowsPerCall];
            for (int i = 0; i < count; ++i)
                rows[i] = reinterpret_cast<JSAMPROW>(band.empty() ? shown.DirectRow(first + i)
                                                                  : band.data() + int64_t(i) * width);
            const JDIMENSION got = jpeg_read_scanlines(&info, rows, JDIMENSION(count));
            if (cmyk)
                for (JDIMENSION i = 0; i < got; ++i)
                    InvertedCmykToBgra(rows[i], info.output_width);
            if (!band.empty())
                shown.Put(first, int32_t(got), band.data(), width);
        }
        jpeg_finish_decompress(&info);
    });
    FDecompress.reset();
    if (!read)
        return false;
    FOpaque = true;
    MatchColoursInBuffer(FColourSpace, Bits, FWidth, FHeight, Stride, FOpaque);
    return true;
}

} // namespace Corvanith::Platform
