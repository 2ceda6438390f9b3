// retarget [--seed N] [--mask MASK.png] [--mask-out OUT_MASK.png] [--reuse PERCENT] --ops OPS IN.png OUT.png
//
// Runs resizer calls on one picture and times them. OPS is a comma-separated
// list run in order on one resizer: v-40 removes 40 vertical seams, h-30 30
// horizontal ones, v+20 and h+10 insert; a trailing s (v-40s) makes it 40
// calls of one seam each, as the arrow keys do. Prints "<op> <seams> <ms>" per
// op and last "ms_per_seam=<x>".
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/random.h"
#include "platform/guid.h"
#include "retargeting/seam_iterative_resizer.h"

#include <QString>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

using namespace Corvanith;
using Graphics::Retargeting::TCorvSeamIterativeResizer;

namespace {

struct TOp {
    std::string Text;
    bool Vertical = false;
    bool Insert = false;
    bool Steps = false;
    int32_t Count = 0;
};

[[noreturn]] void Usage(const std::string& Problem)
{
    std::fprintf(stderr,
                 "retarget: %s\nusage: retarget [--seed N] [--mask MASK.png] [--mask-out OUT_MASK.png] "
                 "[--reuse PERCENT] --ops OPS IN.png OUT.png\n",
                 Problem.c_str());
    std::exit(2);
}

int32_t ParseInt(const std::string& Text, const std::string& What)
{
    size_t used = 0;
    long value = 0;
    try {
        value = std::stol(Text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != Text.size() || value < 0 || value > INT32_MAX)
        Usage("bad " + What + " '" + Text + "'");
    return int32_t(value);
}

TOp ParseOp(const std::string& Text)
{
    TOp op;
    op.Text = Text;
    if (Text.size() < 3 || (Text[0] != 'v' && Text[0] != 'h') || (Text[1] != '-' && Text[1] != '+'))
        Usage("bad op '" + Text + "'");
    op.Vertical = Text[0] == 'v';
    op.Insert = Text[1] == '+';
    std::string count = Text.substr(2);
    if (count.back() == 's') {
        op.Steps = true;
        count.pop_back();
    }
    op.Count = ParseInt(count, "seam count");
    return op;
}

std::vector<TOp> ParseOps(const std::string& Text)
{
    std::vector<TOp> ops;
    std::stringstream list(Text);
    std::string item;
    while (std::getline(list, item, ','))
        ops.push_back(ParseOp(item));
    if (ops.empty())
        Usage("no ops");
    return ops;
}

void Run(TCorvSeamIterativeResizer& Resizer, const TOp& Op, int32_t Count, double Reuse)
{
    if (Op.Vertical && Op.Insert)
        Resizer.InsertVerticalSeams(Count, Reuse);
    else if (Op.Vertical)
        Resizer.RemoveVerticalSeams(Count);
    else if (Op.Insert)
        Resizer.InsertHorizontalSeams(Count, Reuse);
    else
        Resizer.RemoveHorizontalSeams(Count);
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t seed = 1;
    int32_t reusePercent = 33;
    std::string maskPath, maskOutPath, opsText;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--seed")
            seed = uint32_t(ParseInt(value(), "seed"));
        else if (arg == "--mask")
            maskPath = value();
        else if (arg == "--mask-out")
            maskOutPath = value();
        else if (arg == "--reuse")
            reusePercent = ParseInt(value(), "reuse");
        else if (arg == "--ops")
            opsText = value();
        else if (arg.rfind("--", 0) == 0)
            Usage("unknown option " + arg);
        else
            files.push_back(arg);
    }
    if (files.size() != 2)
        Usage("give IN.png and OUT.png");
    if (opsText.empty())
        Usage("--ops is required");
    const std::vector<TOp> ops = ParseOps(opsText);
    try {
        Utils::RandSeed(seed);
        auto picture = Graphics::TCorvSurface::CreateFromFile(QString::fromStdString(files[0]));
        std::unique_ptr<Graphics::TCorvSurface> mask;
        if (!maskPath.empty())
            mask = Graphics::TCorvSurface::CreateFromFile(QString::fromStdString(maskPath));
        TCorvSeamIterativeResizer resizer(*picture);
        resizer.SetMask(mask.get());
        const double reuse = reusePercent / 100.0;
        double totalMs = 0;
        int64_t totalSeams = 0;
        for (const TOp& op : ops) {
            const auto start = std::chrono::steady_clock::now();
            if (op.Steps)
                for (int32_t k = 0; k < op.Count; ++k)
                    Run(resizer, op, 1, reuse);
            else
                Run(resizer, op, op.Count, reuse);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("%s %d %.3f\n", op.Text.c_str(), op.Count, ms);
            totalMs += ms;
            totalSeams += op.Count;
        }
        std::printf("ms_per_seam=%.4f\n", totalSeams > 0 ? totalMs / double(totalSeams) : 0.0);
        picture->SaveToFile(QString::fromStdString(files[1]), Platform::ImageFormatPNG);
        if (!maskOutPath.empty() && mask)
            mask->SaveToFile(QString::fromStdString(maskOutPath), Platform::ImageFormatPNG);
    } catch (const ECorvError& e) {
        std::fprintf(stderr, "retarget: %s\n", e.what());
        return 1;
    }
    return 0;
}
