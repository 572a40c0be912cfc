// Reading speed of TOBJModel::LoadOBJ on a generated mesh of the size a
// large frame reaches: writes a deterministic OBJ/MTL pair, loads it several
// times, and prints the median and best times with the throughput. A bare
// read of the same file in large blocks gives the ceiling the disk cache
// allows. The counts read are checked, so a reader that stops early fails
// instead of looking fast.
//
// Usage: tarvex_bench_obj [--rounds N] [--one-thread] [--keep DIR]
// --one-thread reads without the second thread that takes the face lines.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "BenchUtil.h"
#include "obj/OBJClass.h"

namespace {

using bench::Median;
using bench::Seconds;
using bench::TRandom;

constexpr std::int32_t VertexLines = 65000;
constexpr std::int32_t UVLines = 65000;
constexpr std::int32_t NormalLines = 65000;
constexpr std::int32_t FaceLines = 130000;
constexpr std::int32_t MaterialTotal = 8;
constexpr int DefaultRounds = 7;
constexpr std::size_t BareReadBlock = 256 * 1024;
constexpr double BytesPerMB = 1e6;
// Fixed, so that every run writes the same bytes.
constexpr std::uint64_t Seed = 0x5EEDF00DCAFEBEEFull;

// What the generator wrote, to compare with what the reader made of it.
struct TExpected
{
    // Sum of every corner's three indices over all faces.
    std::uint64_t IndexSum = 0;
    TOBJCorner LastFace[3] {};
    std::string LastMaterial;
};

std::string MaterialName(int i)
{
    return "bench_mat" + std::to_string(i);
}

void AppendLine(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void AppendLine(std::string& out, const char* format, ...)
{
    char line[160];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out.append(line, static_cast<std::size_t>(length));
    out.append("\r\n");
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string MakeMTL()
{
    std::string out;
    TRandom random(Seed ^ 0x4D544Cu);
    for (int i = 0; i < MaterialTotal; ++i) {
        AppendLine(out, "newmtl %s", MaterialName(i).c_str());
        AppendLine(out, "Kd %.6f %.6f %.6f", random.Unit(), random.Unit(), random.Unit());
        AppendLine(out, "map_Kd bench_tex%d.bmp", i);
        out.append("\r\n");
    }
    return out;
}

std::string MakeOBJ(const std::string& mtlName, TExpected& expected)
{
    std::string out;
    out.reserve(16 * 1000 * 1000);
    TRandom random(Seed);
    AppendLine(out, "# Tarvex benchmark mesh");
    AppendLine(out, "mtllib %s", mtlName.c_str());
    for (std::int32_t i = 0; i < VertexLines; ++i) {
        AppendLine(out, "v %.6f %.6f %.6f", random.Range(-100, 100), random.Range(-100, 100),
            random.Range(-100, 100));
    }
    for (std::int32_t i = 0; i < UVLines; ++i)
        AppendLine(out, "vt %.6f %.6f", random.Unit(), random.Unit());
    for (std::int32_t i = 0; i < NormalLines; ++i) {
        // A direction away from the origin, so the length never nears zero.
        double x, y, z, length;
        do {
            x = random.Range(-1, 1);
            y = random.Range(-1, 1);
            z = random.Range(-1, 1);
            length = std::sqrt(x * x + y * y + z * z);
        } while (length < 0.1 || length > 1);
        AppendLine(out, "vn %.6f %.6f %.6f", x / length, y / length, z / length);
    }
    // The faces in one block per material, the way exporters group them.
    for (std::int32_t f = 0; f < FaceLines; ++f) {
        const int material = static_cast<int>(std::int64_t(f) * MaterialTotal / FaceLines);
        const int previous = static_cast<int>(std::int64_t(f - 1) * MaterialTotal / FaceLines);
        if (f == 0 || material != previous) {
            AppendLine(out, "usemtl %s", MaterialName(material).c_str());
            expected.LastMaterial = MaterialName(material);
        }
        TOBJCorner corners[3];
        for (TOBJCorner& corner : corners) {
            corner.Vertex = random.Index(VertexLines);
            corner.UV = random.Index(UVLines);
            corner.Normal = random.Index(NormalLines);
            expected.IndexSum += std::uint64_t(corner.Vertex) + std::uint64_t(corner.UV)
                + std::uint64_t(corner.Normal);
        }
        AppendLine(out, "f %d/%d/%d %d/%d/%d %d/%d/%d", corners[0].Vertex, corners[0].UV,
            corners[0].Normal, corners[1].Vertex, corners[1].UV, corners[1].Normal,
            corners[2].Vertex, corners[2].UV, corners[2].Normal);
        std::copy(std::begin(corners), std::end(corners), expected.LastFace);
    }
    return out;
}

// Empty when the model holds what the generator wrote; otherwise the
// first difference found.
// --one-thread: without the face thread.
bool OneThread = false;

std::string CheckModel(const TOBJModel& model, const TExpected& expected)
{
    auto differs = [](const char* what, long long got, long long want) {
        return std::string(what) + ": read " + std::to_string(got) + ", expected "
            + std::to_string(want);
    };
    if (model.VertexCount() != VertexLines)
        return differs("vertices", model.VertexCount(), VertexLines);
    if (model.UVCount() != UVLines)
        return differs("texture coordinates", model.UVCount(), UVLines);
    if (model.NormalCount() != NormalLines)
        return differs("normals", model.NormalCount(), NormalLines);
    if (model.FaceCount() != FaceLines)
        return differs("faces", model.FaceCount(), FaceLines);
    if (model.TriangleCount != FaceLines)
        return differs("triangles", model.TriangleCount, FaceLines);
    if (model.MaterialCount() != MaterialTotal)
        return differs("materials", model.MaterialCount(), MaterialTotal);

    std::uint64_t indexSum = 0;
    for (const TOBJFace& face : model.Faces) {
        if (face.CornerCount != 3)
            return differs("corners of a face", face.CornerCount, 3);
        for (int k = 0; k < 3; ++k) {
            indexSum += std::uint64_t(face.Corners[k].Vertex) + std::uint64_t(face.Corners[k].UV)
                + std::uint64_t(face.Corners[k].Normal);
        }
    }
    if (indexSum != expected.IndexSum)
        return differs("sum of face indices", static_cast<long long>(indexSum),
            static_cast<long long>(expected.IndexSum));
    const TOBJFace& last = model.Faces.back();
    for (int k = 0; k < 3; ++k) {
        if (last.Corners[k].Vertex != expected.LastFace[k].Vertex
            || last.Corners[k].UV != expected.LastFace[k].UV
            || last.Corners[k].Normal != expected.LastFace[k].Normal)
            return "last face: corner " + std::to_string(k + 1) + " differs";
    }
    const std::string& lastMaterial = model.MaterialNameTable.Name(last.MaterialName);
    if (lastMaterial != expected.LastMaterial)
        return "last face: material '" + lastMaterial + "', expected '" + expected.LastMaterial
            + "'";
    return std::string();
}

// Reads the whole file in fixed blocks without looking at the bytes.
std::uint64_t BareRead(const std::string& path, std::vector<char>& block)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error("cannot read " + path + ": " + std::strerror(error));
        }
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
    }
    ::close(fd);
    return total;
}

// Removes the temporary folder however the run ends.
class TScratchFolder
{
public:
    explicit TScratchFolder(std::string path)
        : FPath(std::move(path))
    {
    }
    ~TScratchFolder()
    {
        if (!FPath.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(FPath, ignored);
        }
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

private:
    std::string FPath;
};

std::string MakeTempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvex-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error(
            "cannot create a temporary folder: " + std::string(std::strerror(errno)));
    return pattern;
}

int Usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--rounds N] [--one-thread] [--keep DIR]\n", program);
    return 2;
}

int Run(int rounds, const std::string& keepDir)
{
    std::string folder = keepDir;
    if (folder.empty())
        folder = MakeTempFolder();
    else
        std::filesystem::create_directories(folder);
    TScratchFolder scratch(keepDir.empty() ? folder : std::string());

    const std::string mtlName = "bench.mtl";
    const std::string objPath = folder + "/bench.obj";
    const std::string mtlPath = folder + "/" + mtlName;
    TExpected expected;
    const std::string objBytes = MakeOBJ(mtlName, expected);
    WriteFile(objPath, objBytes);
    WriteFile(mtlPath, MakeMTL());
    const double megabytes = static_cast<double>(objBytes.size()) / BytesPerMB;

    std::printf("OBJ file   %s\n", objPath.c_str());
    std::printf("           %zu bytes (%.2f MB, MB = 10^6 bytes), CR LF line ends\n",
        objBytes.size(), megabytes);
    std::printf("           %d v, %d vt, %d vn, %d f over %d materials\n", VertexLines, UVLines,
        NormalLines, FaceLines, MaterialTotal);

    // One warm-up round, then the timed ones; a fresh model each time so
    // every round pays for growing the lists, as a first load does.
    std::vector<double> times;
    std::string failure;
    for (int round = 0; round <= rounds; ++round) {
        TOBJModel model;
        model.ReadInParallel = !OneThread;
        const auto start = std::chrono::steady_clock::now();
        model.LoadOBJ(objPath, mtlPath);
        const auto stop = std::chrono::steady_clock::now();
        if (round > 0)
            times.push_back(Seconds(stop - start));
        failure = CheckModel(model, expected);
        if (!failure.empty())
            break;
        if (round == 0) {
            std::printf("Read       %d vertices, %d uvs, %d normals, %d faces, %d triangles, "
                        "%d materials\n",
                model.VertexCount(), model.UVCount(), model.NormalCount(), model.FaceCount(),
                model.TriangleCount, model.MaterialCount());
        }
    }
    if (!failure.empty()) {
        std::fprintf(
            stderr, "FAILED: the reader did not read the file as written (%s)\n", failure.c_str());
        return 1;
    }
    const double median = Median(times);
    const double best = *std::min_element(times.begin(), times.end());
    std::printf(
        "LoadOBJ    %d rounds (+1 warm-up): median %.4f s, best %.4f s\n", rounds, median, best);
    std::printf("           %.1f MB/s at the median, %.1f MB/s at the best\n", megabytes / median,
        megabytes / best);

    std::vector<char> block(BareReadBlock);
    std::vector<double> readTimes;
    for (int round = 0; round <= rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t got = BareRead(objPath, block);
        const auto stop = std::chrono::steady_clock::now();
        if (got != objBytes.size()) {
            std::fprintf(stderr, "FAILED: bare read gave %llu bytes, expected %zu\n",
                static_cast<unsigned long long>(got), objBytes.size());
            return 1;
        }
        if (round > 0)
            readTimes.push_back(Seconds(stop - start));
    }
    const double readMedian = Median(readTimes);
    std::printf("Bare read  256 KiB blocks, no parsing: median %.5f s, %.1f MB/s (reference)\n",
        readMedian, megabytes / readMedian);
    if (!keepDir.empty())
        std::printf("Kept       %s and %s\n", objPath.c_str(), mtlPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = DefaultRounds;
    std::string keepDir;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--rounds") {
            if (!bench::ReadRounds(argc, argv, i, rounds))
                return Usage(argv[0]);
        } else if (option == "--one-thread") {
            OneThread = true;
        } else if (option == "--keep" && i + 1 < argc) {
            keepDir = argv[++i];
            if (keepDir.empty())
                return Usage(argv[0]);
        } else {
            return Usage(argv[0]);
        }
    }
    return bench::Guarded([&] { return Run(rounds, keepDir); });
}
