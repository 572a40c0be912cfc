// The OBJ file: vertices, normals, texture coordinates and faces, read by one
// thread or, for a large file, by two side by side, with the progress shown
// on the lines the generator picks.
#include "obj/OBJClass.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "obj/LineSyntax.h"
#include "obj/Numbers.h"
#include "obj/QuickNumbers.h"
#include "util/Errors.h"
#include "util/TextFile.h"

const char* const STooManyTriangles = "Too many triangles: a model holds at most 2147483647.";

namespace {

// The progress step draws from a linear congruential generator.
constexpr std::uint32_t ProgressMultiplier = 134775813;
constexpr std::uint32_t ProgressRange = 100;

// Hands every line of the reader to OnLine, and calls OnBlock after the
// lines of each block the reader gives; a false from OnBlock stops early.
template <typename TOnLine, typename TOnBlock>
void ForEachLine(TTextReader& reader, TOnLine onLine, TOnBlock onBlock)
{
    std::string_view block, line;
    while (reader.ReadBlock(block)) {
        TLineCursor cursor(block);
        while (cursor.Next(line))
            onLine(line);
        if (!onBlock())
            return;
    }
}

} // namespace

std::uint32_t TProgressGenerator::Next()
{
    FState = FState * ProgressMultiplier + 1;
    return static_cast<std::uint32_t>((std::uint64_t(FState) * ProgressRange) >> 32);
}

// Reads lines of one OBJ file into the model: every line, or one of two
// shares that two threads can read side by side, the vertex share
// (positions, normals, texture coordinates) or the face share (faces and the
// material they take). Each share only ever appends to its own lists. The
// face share counts the vertex lines it passes, so that negative indices
// resolve against the lists as they stand at the face, as in one pass.
// Each reader sits on cache lines of its own: the two threads bump their
// counters on every line, and sharing a line would cost a transfer between
// the cores each time.
class alignas(64) TOBJModel::TLineReader
{
public:
    enum TShare { AllLines, VertexShare, FaceShare };

    // The lists to append to; the face share gets lists of its own while
    // the other thread appends to the model's, so that the two threads never
    // write to the same memory.
    struct TLists
    {
        std::vector<TVec3>& Vertices;
        std::vector<TVec3>& Normals;
        std::vector<TOBJUV>& UVs;
        std::vector<TOBJFace>& Faces;
        std::vector<TOBJCorner>& MoreCorners;
        std::int32_t& TriangleCount;
        TNameTable& MaterialNames;
    };

    TLineReader(const TLists& Lists, TShare Share)
        : FLists(Lists)
        , FShare(Share)
    {
    }

    // Whether a face gave no texture index at its first corner.
    bool FacesWithoutUV = false;

    void Handle(std::string_view Line)
    {
        std::string_view rest;
        switch (ClassifyLine(Line, rest)) {
        case TLineKind::Vertex:
            if (FShare != FaceShare)
                ReadVector(rest, FLists.Vertices);
            ++FVertexCount;
            break;
        case TLineKind::Normal:
            if (FShare != FaceShare)
                ReadVector(rest, FLists.Normals);
            ++FNormalCount;
            break;
        case TLineKind::UV:
            if (FShare != FaceShare)
                ReadUV(rest);
            ++FUVCount;
            break;
        case TLineKind::Face:
            if (FShare != VertexShare)
                ReadFace(rest);
            break;
        case TLineKind::UseMaterial:
            if (FShare != VertexShare)
                FMaterialName = FLists.MaterialNames.Add(NextArgument(rest));
            break;
        case TLineKind::Other:
            break;
        }
    }

private:
    void ReadVector(std::string_view rest, std::vector<TVec3>& list)
    {
        const char* at = rest.data();
        const char* const end = at + rest.size();
        float x, y, z;
        // Three plain numbers, one blank apart, and nothing after them that
        // could belong to the third.
        if (QuickFloat(at, end, x) && at < end && *at++ == ' ' && QuickFloat(at, end, y) && at < end
            && *at++ == ' ' && QuickFloat(at, end, z) && (at == end || IsBlank(*at))) {
            list.push_back(TVec3 { x, y, z });
            return;
        }
        const std::string_view xText = NextArgument(rest);
        const std::string_view yText = NextArgument(rest);
        const std::string_view zText = NextArgument(rest);
        // Appended first: a bad number leaves the entry counted with the
        // coordinates read before it.
        list.push_back(Vec3Zero());
        TVec3& v = list.back();
        v.X = StrToFloat(xText);
        v.Y = StrToFloat(yText);
        v.Z = StrToFloat(zText);
    }

    void ReadUV(std::string_view rest)
    {
        const char* at = rest.data();
        const char* const end = at + rest.size();
        float u, v;
        if (QuickFloat(at, end, u) && at < end && *at++ == ' ' && QuickFloat(at, end, v)
            && (at == end || IsBlank(*at))) {
            AddUV(u, v);
            return;
        }
        const float uValue = StrToFloat(NextArgument(rest));
        const float vValue = StrToFloat(NextArgument(rest));
        AddUV(uValue, vValue);
    }

    // As TOBJModel::AddUV, onto this reader's list.
    void AddUV(float u, float v) { FLists.UVs.push_back(TOBJUV { TAtlasRect {}, u, v }); }

    // One corner of the plain forms "v", "v/vt", "v//vn", "v/vt/vn" and
    // "v/vt/", "v//" at At, up to the next blank or the end.
    bool QuickCorner(const char*& at, const char* end, TOBJCorner& corner) const
    {
        std::int32_t vertex, uv = 0, normal = 0;
        bool hasUV = false, hasNormal = false;
        if (!QuickIndex(at, end, vertex))
            return false;
        if (at < end && *at == '/') {
            ++at;
            if (at < end && *at != '/' && !IsBlank(*at)) {
                if (!QuickIndex(at, end, uv))
                    return false;
                hasUV = true;
            }
            if (at < end && *at == '/') {
                ++at;
                if (at < end && !IsBlank(*at)) {
                    if (!QuickIndex(at, end, normal))
                        return false;
                    hasNormal = true;
                }
            }
        }
        if (at < end && !IsBlank(*at))
            return false;
        corner.Vertex = ResolveIndex(vertex, FVertexCount);
        corner.UV = hasUV ? ResolveIndex(uv, FUVCount) : NoUV;
        corner.Normal = hasNormal ? ResolveIndex(normal, FNormalCount) : NoNormal;
        return true;
    }

    // Up to four corners of the plain forms between runs of blanks and tabs;
    // false for any other spelling or a larger polygon, which the general
    // route reads.
    bool QuickCorners(std::string_view rest, TOBJCorner* corners, std::uint32_t& count) const
    {
        const char* at = rest.data();
        const char* const end = at + rest.size();
        count = 0;
        while (at < end && IsBlank(*at))
            ++at;
        for (int k = 0; k < 4 && at < end; ++k) {
            if (!QuickCorner(at, end, corners[k]))
                return false;
            count = static_cast<std::uint32_t>(k + 1);
            while (at < end && IsBlank(*at))
                ++at;
        }
        return at == end;
    }

    void ReadFace(std::string_view rest)
    {
        // Appended first: a bad number leaves the face counted with the
        // corners read before it.
        TOBJFace& face = FLists.Faces.emplace_back();
        face.MaterialName = FMaterialName;
        std::uint32_t count;
        if (QuickCorners(rest, face.Corners, count)) {
            face.CornerCount = count;
        } else {
            std::fill(std::begin(face.Corners), std::end(face.Corners), TOBJCorner {});
            face.CornerCount = 0;
            ReadCorners(rest, face);
        }
        const std::int64_t triangles = FLists.TriangleCount + TrianglesOf(face.CornerCount);
        if (triangles > INT32_MAX)
            throw ERangeError(STooManyTriangles);
        FLists.TriangleCount = static_cast<std::int32_t>(triangles);
        if (face.Corners[0].UV == NoUV)
            FacesWithoutUV = true;
    }

    // The general route: each argument cut at runs of blanks and at slashes,
    // numbers of every form StrToInt takes, any number of corners. A bad
    // number leaves the face with the corners read before it, and its
    // triangles uncounted.
    void ReadCorners(std::string_view rest, TOBJFace& face)
    {
        for (;;) {
            const std::string_view argument = NextArgument(rest);
            // Arguments come trimmed: empty means the end of the line (or an
            // argument of nothing but control bytes, which is no corner).
            if (argument.empty()) {
                if (rest.empty())
                    return;
                continue;
            }
            std::string_view vertexText, tail, uvText, normalText;
            SplitFirst(argument, "/", vertexText, tail);
            SplitFirst(tail, "/", uvText, normalText);
            TOBJCorner corner {};
            corner.Vertex = ResolveIndex(StrToInt(vertexText), FVertexCount);
            corner.UV = uvText.empty() ? NoUV : ResolveIndex(StrToInt(uvText), FUVCount);
            normalText = TrimControl(normalText);
            corner.Normal
                = normalText.empty() ? NoNormal : ResolveIndex(StrToInt(normalText), FNormalCount);
            AddCorner(face, corner);
        }
    }

    void AddCorner(TOBJFace& face, const TOBJCorner& corner)
    {
        if (face.CornerCount < 4) {
            face.Corners[face.CornerCount] = corner;
        } else {
            std::vector<TOBJCorner>& more = FLists.MoreCorners;
            if (face.CornerCount == 4) {
                if (more.size() >= UINT32_MAX)
                    throw ERangeError(STooManyTriangles);
                face.MoreCorners = static_cast<std::uint32_t>(more.size());
            }
            more.push_back(corner);
        }
        ++face.CornerCount;
    }

    const TLists FLists;
    const TShare FShare;
    // The material of the faces that follow, by its number in the name
    // table; 0, the empty name, before any "usemtl".
    std::uint32_t FMaterialName = 0;
    // The entries of each list so far: lines that added one.
    std::int32_t FVertexCount = 0;
    std::int32_t FNormalCount = 0;
    std::int32_t FUVCount = 0;
};

void TOBJModel::ClearLists()
{
    // clear() keeps the capacity, so the frames of an animation reuse it.
    Vertices.clear();
    Normals.clear();
    UVs.clear();
    Faces.clear();
    MoreCorners.clear();
    MaterialNameTable.Clear();
    TriangleCount = 0;
}

void TOBJModel::ReserveFaces(std::uint64_t FileSize)
{
    // The face list is the largest, and growing it by doubling copies every
    // face several times into fresh memory. A face line takes at least
    // eight bytes, so the file's size bounds the count; the room for them is
    // only address space until faces fill it. The bound is capped, and a
    // system that will not give the room lets the list grow as usual.
    constexpr std::uint64_t MinFaceLine = 8;
    constexpr std::uint64_t MaxReservedBytes = std::uint64_t(64) << 20;
    const std::uint64_t faces
        = std::min(FileSize / MinFaceLine, MaxReservedBytes / sizeof(TOBJFace));
    if (faces <= Faces.capacity())
        return;
    try {
        Faces.reserve(static_cast<std::size_t>(faces));
    } catch (const std::bad_alloc&) {
    }
}

bool TOBJModel::ReadOBJInOrder(const TTextReader& File, std::uint64_t FirstShown)
{
    TTextReader reader(File, &FReadBuffers[0]);
    const std::uint64_t size = reader.Size();
    TLineReader lines(
        { Vertices, Normals, UVs, Faces, MoreCorners, TriangleCount, MaterialNameTable },
        TLineReader::AllLines);
    std::uint64_t sum = 0;
    std::uint64_t number = 0; // the lines done
    try {
        ForEachLine(
            reader,
            [&](std::string_view line) {
                lines.Handle(line);
                sum += line.size() + 2;
                if (Progress.Next() == 0 && number >= FirstShown)
                    ShowProgress(sum, size);
                ++number;
            },
            [] { return true; });
    } catch (Exception& failure) {
        failure.SetPlace(File.Path(), number + 1);
        throw;
    }
    return lines.FacesWithoutUV;
}

bool TOBJModel::ReadOBJ(const std::string& FileName)
{
    TTextReader file(FileName, 26, &FReadBuffers[0], ReadBlockSize);
    const std::uint64_t size = file.Size();
    ClearLists();
    ReserveFaces(size);

    // A small file is read in one pass, a large one by two threads. On any
    // failure of the two, the file is read again in one pass from the start,
    // which fails on the same line the way one pass does, and shows the
    // progress not yet shown.
    if (!ReadInParallel || size <= ReadBlockSize || std::thread::hardware_concurrency() < 2)
        return ReadOBJInOrder(file, 0);
    const std::uint32_t startState = Progress.State();
    bool facesWithoutUV = false;
    std::uint64_t firstUnshown = 0;
    if (ReadOBJInParallel(file, facesWithoutUV, firstUnshown))
        return facesWithoutUV;
    ClearLists();
    Progress.SetState(startState);
    return ReadOBJInOrder(file, firstUnshown);
}

bool TOBJModel::ReadOBJInParallel(
    TTextReader& File, bool& FacesWithoutUV, std::uint64_t& FirstUnshown)
{
    // This thread takes the vertex lines and a second one the face lines,
    // each reading the file for itself. This thread draws the progress
    // generator for every line in order, but shows a line's progress only
    // once both threads are past that line without a failure.

    // What the face thread works on, on cache lines of its own: it writes to
    // its lists on every face line, and a line shared with anything this
    // thread writes would pass between the cores each time. It gets the
    // storage of the model's face list and hands it back at the end.
    struct alignas(64) TFaceWork
    {
        std::vector<TOBJFace> Faces;
        std::vector<TOBJCorner> MoreCorners;
        std::int32_t Triangles = 0;
        TNameTable MaterialNames;
        std::vector<TVec3> NoVertices, NoNormals;
        std::vector<TOBJUV> NoUVs;
        TLineReader Reader;
        // Told to this thread once per block.
        std::mutex Mutex;
        std::condition_variable Changed;
        std::uint64_t LinesDone = 0; // lines read without a failure
        bool Finished = false;
        bool Failed = false;
        std::atomic<bool> Cancel { false };

        TFaceWork()
            : Reader({ NoVertices, NoNormals, NoUVs, Faces, MoreCorners, Triangles, MaterialNames },
                TLineReader::FaceShare)
        {
        }
    };
    const auto work = std::make_unique<TFaceWork>();
    work->Faces.swap(Faces);
    work->MoreCorners.swap(MoreCorners);

    auto readFaces = [&File, &work = *work, this] {
        bool failed = false;
        try {
            TTextReader reader(File, &FReadBuffers[1]);
            std::uint64_t number = 0;
            ForEachLine(
                reader,
                [&](std::string_view line) {
                    work.Reader.Handle(line);
                    ++number;
                },
                [&] {
                    const std::lock_guard<std::mutex> lock(work.Mutex);
                    work.LinesDone = number;
                    work.Changed.notify_one();
                    return !work.Cancel.load(std::memory_order_relaxed);
                });
        } catch (...) {
            failed = true;
        }
        const std::lock_guard<std::mutex> lock(work.Mutex);
        work.Failed = failed || work.Cancel.load(std::memory_order_relaxed);
        work.Finished = true;
        work.Changed.notify_one();
    };
    std::thread faceThread;
    try {
        faceThread = std::thread(readFaces);
    } catch (const std::system_error&) {
        Faces.swap(work->Faces);
        MoreCorners.swap(work->MoreCorners);
        FirstUnshown = 0; // no second thread to be had
        return false;
    }

    // The lines whose progress is still to be shown, in order.
    struct TPending
    {
        std::uint64_t Number;
        std::uint64_t Sum;
    };
    std::vector<TPending> pending;
    std::size_t nextPending = 0;
    std::uint64_t shownBefore = 0; // the lines before it are shown where due
    // Shows the pending progress of the lines before Limit.
    auto showUpTo = [&](std::uint64_t limit) {
        for (; nextPending < pending.size() && pending[nextPending].Number < limit; ++nextPending) {
            shownBefore = pending[nextPending].Number;
            ShowProgress(pending[nextPending].Sum, File.Size());
        }
        shownBefore = std::max(shownBefore, limit);
    };
    auto linesDone = [&work = *work] {
        const std::lock_guard<std::mutex> lock(work.Mutex);
        return work.LinesDone;
    };

    bool failed = false;
    try {
        std::vector<TOBJFace> noFaces;
        std::vector<TOBJCorner> noCorners;
        std::int32_t noTriangles = 0;
        TNameTable noNames;
        TLineReader vertexLines(
            { Vertices, Normals, UVs, noFaces, noCorners, noTriangles, noNames },
            TLineReader::VertexShare);
        std::uint64_t number = 0; // lines this thread has read without a failure
        std::uint64_t sum = 0;
        ForEachLine(
            File,
            [&](std::string_view line) {
                vertexLines.Handle(line);
                sum += line.size() + 2;
                if (Progress.Next() == 0)
                    pending.push_back(TPending { number, sum });
                ++number;
            },
            [&] {
                showUpTo(std::min(linesDone(), number));
                return true;
            });
        // Then the rest of the progress as the face thread gets on.
        for (;;) {
            std::uint64_t facesDone;
            bool finished;
            {
                std::unique_lock<std::mutex> lock(work->Mutex);
                work->Changed.wait(lock, [&] {
                    return work->Finished
                        || (work->LinesDone > shownBefore && shownBefore < number);
                });
                facesDone = work->LinesDone;
                finished = work->Finished;
                failed = work->Failed;
            }
            showUpTo(std::min(facesDone, number));
            if (finished)
                break;
        }
    } catch (...) {
        failed = true;
    }
    work->Cancel.store(true, std::memory_order_relaxed);
    faceThread.join();
    Faces.swap(work->Faces);
    MoreCorners.swap(work->MoreCorners);
    FirstUnshown = shownBefore;
    if (failed || work->Failed)
        return false;
    TriangleCount = work->Triangles;
    MaterialNameTable = std::move(work->MaterialNames);
    FacesWithoutUV = work->Reader.FacesWithoutUV;
    return true;
}

void TOBJModel::ShowProgress(std::uint64_t Sum, std::uint64_t Size)
{
    // The size was taken when the file was opened; a file that grew since
    // may pass 100 percent, and an empty one must not divide by zero.
    const long double ratio
        = static_cast<long double>(Sum) / static_cast<long double>(Size > 0 ? Size : 1);
    // nearbyint rounds halves to even in the default rounding mode.
    const long double percent = std::nearbyint(std::min(ratio * 100, 1e18L));
    if (StatusPanel) {
        // The same percentage comes up again and again over a large file;
        // its text is made once.
        const std::int64_t whole = static_cast<std::int64_t>(percent);
        if (FProgressText.empty() || whole != FProgressPercent) {
            FProgressText = "Loading OBJ.. " + std::to_string(whole) + "% Complete";
            FProgressPercent = whole;
        }
        StatusPanel->SetText(FProgressText);
    }
    if (EventPump)
        EventPump->ProcessMessages();
}
