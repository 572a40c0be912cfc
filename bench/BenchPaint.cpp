// Colour-skin painting speed of TCanvas::Polygon, the way a conversion
// paints a skin: one call per triangle, a few pixels on a side, on a
// 2048 x 256 24-bit bitmap with a pen 5 pixels wide in the brush colour.
// Every round paints the same triangles on a fresh white skin and must give
// the same pixels; the checksum of those pixels is printed so that two
// builds can be compared for identical output.
//
// Usage: tarvex_bench_paint [--rounds N]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "BenchUtil.h"
#include "image/Bitmap.h"

namespace {

using bench::Median;
using bench::Seconds;

constexpr std::int32_t SkinWidth = 2048;
constexpr std::int32_t SkinHeight = 256;
constexpr std::size_t TriangleTotal = 130000;
// Corners lie up to this far from the first one, on each axis.
constexpr std::int32_t Spread = 3;
constexpr int PenWidth = 5;
// Materials change every few hundred triangles, as they do along a mesh.
constexpr std::size_t MaterialRun = 400;
constexpr int DefaultRounds = 7;
constexpr std::uint64_t Seed = 0x5C1A7u;

struct TTriangle
{
    TPoint Points[3];
    TColor Color;
};

std::vector<TTriangle> MakeTriangles()
{
    bench::TRandom random(Seed);
    std::vector<TTriangle> triangles(TriangleTotal);
    TColor color = 0;
    for (std::size_t i = 0; i < TriangleTotal; ++i) {
        if (i % MaterialRun == 0)
            color = static_cast<TColor>(random.Next() & 0xFFFFFF);
        TTriangle& t = triangles[i];
        const std::int32_t x = random.Index(SkinWidth) - 1;
        const std::int32_t y = random.Index(SkinHeight) - 1;
        t.Points[0] = { x, y };
        for (int k = 1; k < 3; ++k) {
            t.Points[k] = { x + random.Index(2 * Spread + 1) - 1 - Spread,
                y + random.Index(2 * Spread + 1) - 1 - Spread };
        }
        t.Color = color;
    }
    return triangles;
}

std::uint64_t Checksum(const TBitmap& image)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    const std::size_t bytes = std::size_t(image.Width()) * 3;
    for (std::int32_t y = 0; y < image.Height(); ++y) {
        const std::uint8_t* row = image.RowData(y);
        for (std::size_t i = 0; i < bytes; ++i)
            hash = (hash ^ row[i]) * 1099511628211ull;
    }
    return hash;
}

double PaintOnce(const std::vector<TTriangle>& triangles, std::uint64_t& checksum)
{
    TBitmap skin;
    skin.SetBitsPerPixel(24);
    skin.SetWidth(SkinWidth);
    skin.SetHeight(SkinHeight);
    TCanvas& canvas = skin.Canvas();
    canvas.Brush.Color = clWhite;
    canvas.FillRect({ 0, 0, SkinWidth, SkinHeight });
    canvas.Pen.SetWidth(PenWidth);
    const auto start = std::chrono::steady_clock::now();
    for (const TTriangle& t : triangles) {
        canvas.Pen.Color = t.Color;
        canvas.Brush.Color = t.Color;
        canvas.Polygon(t.Points, 3);
    }
    const auto stop = std::chrono::steady_clock::now();
    checksum = Checksum(skin);
    return Seconds(stop - start);
}

int Usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--rounds N]\n", program);
    return 2;
}

int Run(int rounds)
{
    const std::vector<TTriangle> triangles = MakeTriangles();
    std::printf("Skin       %d x %d, 24 bits; %zu triangles, corners within %d px, pen %d\n",
        SkinWidth, SkinHeight, TriangleTotal, Spread, PenWidth);
    std::uint64_t expected = 0;
    PaintOnce(triangles, expected); // warm-up
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        std::uint64_t checksum = 0;
        times.push_back(PaintOnce(triangles, checksum));
        if (checksum != expected) {
            std::fprintf(stderr, "FAILED: round %d painted other pixels\n", round + 1);
            return 1;
        }
    }
    const double median = Median(times);
    const double best = *std::min_element(times.begin(), times.end());
    std::printf("Polygon    %d rounds: median %.5f s, best %.5f s (%.0f ns a triangle)\n", rounds,
        median, best, median * 1e9 / double(TriangleTotal));
    std::printf("Pixels     checksum %016llx\n", static_cast<unsigned long long>(expected));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return bench::MainWithRounds(argc, argv, DefaultRounds, Usage, Run);
}
