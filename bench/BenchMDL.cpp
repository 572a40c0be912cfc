// Frame encoding speed of TMDLModel::AddFrame on a mesh of the size a large
// frame reaches: works out every vertex's normal from the corners, packs
// every position and picks every normal index, on a fresh model each round,
// and prints the median and best times with the vertices per second. The plain search over all 162
// table cosines, the way the normal index is defined, runs over the same normals for comparison and
// also serves as the check: every index AddFrame gives must equal it, so an
// encoder that cuts corners fails instead of looking fast.
//
// Then the vertex normals alone, for corners that name their vertex's own
// normal (the usual file), the normal of their face's first vertex (flat
// faces: every vertex sums unit vectors) and none at all (every vertex sums
// its faces' cross products).
//
// Usage: tarvex_bench_mdl [--rounds N]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "mdl/MDLClass.h"
#include "obj/OBJClass.h"
#include "util/Vector.h"

namespace {

using bench::Median;
using bench::Seconds;

constexpr std::int32_t VertexTotal = 65000;
// The vertices form a closed grid of two triangles per cell.
constexpr std::int32_t GridRings = 250;
constexpr std::int32_t GridSides = 260;
static_assert(GridRings * GridSides == VertexTotal, "the grid holds every vertex");
constexpr int DefaultRounds = 7;
// Fixed, so that every run encodes the same mesh.
constexpr std::uint64_t Seed = 0x7A2BE5u;

float Draw(bench::TRandom& random)
{
    return static_cast<float>(random.Range(-1, 1));
}

enum class TCornerNormals {
    Own,
    FaceFirst,
    None,
};

void SetFaces(TOBJModel& model, TCornerNormals kind)
{
    model.Faces.clear();
    auto at = [](std::int32_t ring, std::int32_t side) {
        return ring % GridRings * GridSides + side % GridSides + 1;
    };
    for (std::int32_t ring = 0; ring < GridRings; ++ring) {
        for (std::int32_t side = 0; side < GridSides; ++side) {
            const std::int32_t a = at(ring, side), b = at(ring + 1, side),
                               c = at(ring + 1, side + 1), d = at(ring, side + 1);
            for (const auto& corners : { std::vector<std::int32_t> { a, b, c }, { a, c, d } }) {
                TOBJFace face {};
                face.CornerCount = 3;
                for (int k = 0; k < 3; ++k) {
                    const std::int32_t normal = kind == TCornerNormals::Own ? corners[k]
                        : kind == TCornerNormals::FaceFirst                 ? corners[0]
                                                                            : NoNormal;
                    face.Corners[k] = TOBJCorner { corners[k], NoUV, normal };
                }
                model.Faces.push_back(face);
            }
        }
    }
}

void MakeMesh(TOBJModel& model)
{
    bench::TRandom random(Seed);
    model.Vertices.reserve(VertexTotal);
    model.Normals.reserve(VertexTotal);
    for (std::int32_t i = 0; i < VertexTotal; ++i)
        model.Vertices.push_back(Vec3(Draw(random), Draw(random), Draw(random)));
    for (std::int32_t i = 0; i < VertexTotal; ++i) {
        // Drawn inside the ball and away from its centre, so that every
        // direction is equally likely and the division stays well away
        // from zero.
        float x, y, z, length;
        do {
            x = Draw(random);
            y = Draw(random);
            z = Draw(random);
            length = std::sqrt(x * x + y * y + z * z);
        } while (length < 0.1f || length > 1.0f);
        model.Normals.push_back(Vec3(x / length, y / length, z / length));
    }
    SetFaces(model, TCornerNormals::Own);
}

void PlainSearch(const std::vector<TVec3>& normals, std::vector<std::uint8_t>& indices)
{
    indices.resize(normals.size());
    for (std::size_t i = 0; i < normals.size(); ++i)
        indices[i] = PlainNormalIndex(normals[i]);
}

// Empty when the frame holds what AddFrame must give for the mesh;
// otherwise the first difference found.
std::string CheckFrame(
    const TMDLModel& mdl, const TOBJModel& mesh, const std::vector<std::uint8_t>& expected)
{
    if (mdl.Frames.size() != 1)
        return "the model holds " + std::to_string(mdl.Frames.size()) + " frames, expected 1";
    const TMDLFrame& frame = mdl.Frames.front();
    if (frame.Count() != VertexTotal)
        return "the frame holds " + std::to_string(frame.Count()) + " vertices, expected "
            + std::to_string(VertexTotal);
    for (std::int32_t i = 0; i < VertexTotal; ++i) {
        const TMDLPackedVertex& vertex = frame.Vertices[i];
        const TVec3& position = mesh.Vertices[i];
        if (vertex.NormalIndex != expected[i]) {
            const TVec3& normal = mesh.Normals[i];
            char text[200];
            std::snprintf(text, sizeof text,
                "vertex %d: normal (%.9g, %.9g, %.9g) got index %d, the plain search gives %d", i,
                normal.X, normal.Y, normal.Z, vertex.NormalIndex, expected[i]);
            return text;
        }
        if (vertex.Coord[0] != TMDLModel::PackCoord(position.Z)
            || vertex.Coord[1] != TMDLModel::PackCoord(position.X)
            || vertex.Coord[2] != TMDLModel::PackCoord(position.Y))
            return "vertex " + std::to_string(i) + ": position packed wrongly";
    }
    return std::string();
}

bool SameVertices(const TMDLFrame& a, const TMDLFrame& b)
{
    const std::size_t bytes = a.Vertices.size() * sizeof(TMDLPackedVertex);
    return a.Vertices.size() == b.Vertices.size()
        && std::memcmp(a.Vertices.data(), b.Vertices.data(), bytes) == 0;
}

int Usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--rounds N]\n", program);
    return 2;
}

int Run(int rounds)
{
    TOBJModel mesh;
    MakeMesh(mesh);
    std::printf("Mesh       %d vertices in [-1, 1), %d unit normals (fixed seed)\n", VertexTotal,
        VertexTotal);

    // The check, once and untimed; it also warms up both searches.
    std::vector<std::uint8_t> expected;
    PlainSearch(mesh.Normals, expected);
    TMDLModel reference;
    reference.AddFrame(mesh);
    const std::string failure = CheckFrame(reference, mesh, expected);
    if (!failure.empty()) {
        std::fprintf(stderr, "FAILED: AddFrame does not encode as defined (%s)\n", failure.c_str());
        return 1;
    }
    std::printf("Check      positions and normal indices of all %d vertices match the plain "
                "162-cosine search\n",
        VertexTotal);

    // A fresh model each round, so every round pays for the frame's
    // allocation as a conversion does. Each result must equal the checked one.
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        TMDLModel mdl;
        const auto start = std::chrono::steady_clock::now();
        mdl.AddFrame(mesh);
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(Seconds(stop - start));
        if (mdl.Frames.size() != 1 || !SameVertices(mdl.Frames.front(), reference.Frames.front())) {
            std::fprintf(stderr, "FAILED: round %d encoded the frame differently\n", round + 1);
            return 1;
        }
    }
    const double median = Median(times);
    const double best = *std::min_element(times.begin(), times.end());
    std::printf(
        "AddFrame   %d rounds (+1 checked): median %.5f s, best %.5f s\n", rounds, median, best);
    std::printf("           %.0f vertices/s at the median, %.0f at the best\n",
        VertexTotal / median, VertexTotal / best);

    std::vector<double> plainTimes;
    std::vector<std::uint8_t> indices;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        PlainSearch(mesh.Normals, indices);
        const auto stop = std::chrono::steady_clock::now();
        plainTimes.push_back(Seconds(stop - start));
        if (indices != expected) {
            std::fprintf(
                stderr, "FAILED: the plain search gave other indices in round %d\n", round + 1);
            return 1;
        }
    }
    const double plainMedian = Median(plainTimes);
    const double plainBest = *std::min_element(plainTimes.begin(), plainTimes.end());
    std::printf("Plain      162-cosine search, normals only: median %.5f s, best %.5f s "
                "(reference)\n",
        plainMedian, plainBest);
    std::printf("           %.0f vertices/s at the median; AddFrame is %.1fx faster\n",
        VertexTotal / plainMedian, plainMedian / median);

    const std::vector<TVec3> normals = mesh.Normals;
    const struct
    {
        TCornerNormals Kind;
        const char* Name;
    } kinds[] = {
        { TCornerNormals::Own, "own normal" },
        { TCornerNormals::FaceFirst, "flat faces" },
        { TCornerNormals::None, "no normals" },
    };
    for (const auto& kind : kinds) {
        SetFaces(mesh, kind.Kind);
        mesh.Normals = kind.Kind == TCornerNormals::None ? std::vector<TVec3>() : normals;
        std::vector<double> normalTimes;
        for (int round = 0; round < rounds; ++round) {
            const auto start = std::chrono::steady_clock::now();
            const std::vector<TVec3> result = mesh.VertexNormals();
            const auto stop = std::chrono::steady_clock::now();
            normalTimes.push_back(Seconds(stop - start));
            if (result.size() != normals.size()) {
                std::fprintf(stderr, "FAILED: %zu vertex normals for %zu vertices\n", result.size(),
                    normals.size());
                return 1;
            }
        }
        std::printf("Normals    %-10s (%d triangles): median %.5f s, best %.5f s\n", kind.Name,
            mesh.FaceCount(), Median(normalTimes),
            *std::min_element(normalTimes.begin(), normalTimes.end()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return bench::MainWithRounds(argc, argv, DefaultRounds, Usage, Run);
}
