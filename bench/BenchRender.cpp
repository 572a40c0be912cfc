// Rendering speed: one frame of a model at 512 x 512 (the size of
// `tarvex-cli render` and the viewer's usual view), timed over a few rounds
// after the model is loaded, with the median, the best and the goal of half
// a second a frame. The first frame and the middle one are drawn, since an
// animation's frames differ in what they cover.
//
// Usage: tarvex_bench_render FILE.mdl [--rounds N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "image/Bitmap.h"
#include "mdl/MDLClass.h"
#include "render/Renderer.h"

namespace {

constexpr int DefaultRounds = 7;
constexpr double Goal = 0.5;

} // namespace

int main(int argc, char** argv)
{
    int rounds = DefaultRounds;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (bench::ReadRounds(argc, argv, i, rounds))
            continue;
        if (!file.empty() || argv[i][0] == '-') {
            std::fprintf(stderr, "Usage: tarvex_bench_render FILE.mdl [--rounds N]\n");
            return 2;
        }
        file = argv[i];
    }
    if (file.empty()) {
        std::fprintf(stderr, "Usage: tarvex_bench_render FILE.mdl [--rounds N]\n");
        return 2;
    }
    try {
        TMDLModel model;
        model.LoadFromFile(file);
        const auto setupStart = std::chrono::steady_clock::now();
        const TModelRenderer renderer(model);
        const double setup = bench::Seconds(std::chrono::steady_clock::now() - setupStart);
        std::printf("%s: %zu frames, %d vertices, %d triangles; skin decoded and frames measured "
                    "in %.3f s\n",
            file.c_str(), model.Frames.size(), model.Header.NumVerts, model.Header.NumTris, setup);
        bool met = true;
        const std::size_t frames[] = { 0, model.Frames.size() / 2 };
        for (const std::size_t frame : frames) {
            std::vector<double> times;
            TBitmap picture;
            for (int round = 0; round < rounds; ++round) {
                const auto start = std::chrono::steady_clock::now();
                renderer.Render(frame, TRenderView(), 512, 512, picture);
                times.push_back(bench::Seconds(std::chrono::steady_clock::now() - start));
            }
            const double median = bench::Median(times);
            std::printf("frame %zu at 512 x 512: median %.4f s, best %.4f s (goal < %.1f s)\n",
                frame, median, *std::min_element(times.begin(), times.end()), Goal);
            met = met && median < Goal;
        }
        std::printf("%s\n", met ? "goal met" : "GOAL MISSED");
        return met ? 0 : 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tarvex_bench_render: %s\n", failure.what());
        return 1;
    }
}
