// The search for the table direction nearest to a normal (the table itself
// is in MDLNormalTable.cpp): a fast one through a map of the sphere, and the
// plain one by definition that the fast one must agree with.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The search goes through a map of directions. A normal divided by its
// largest magnitude lies on the surface of the cube [-1, 1]^3; the map cuts
// that cube into BoxesPerSide^3 boxes, and each box on the surface refers to
// the entries that can be nearest to a direction in it: one or two for more
// than nine normals in ten, and then the sign of a single dot product picks
// the answer. Indexing by all three coordinates needs no choice of cube face,
// so a normal costs a division, a lookup and that dot product, with no branch
// the processor could mispredict on the common path. The boxes take 64 KB
// (only those on the surface are touched), their lists about 37 KB, and the
// build well under a millisecond.
constexpr int BoxesPerSide = 32;
constexpr int FaceCount = 6;
// The lists are worked out per cube face, on cells that match the boxes:
// each face is cut into FirstPerSide x FirstPerSide cells, and every cell
// with more than one entry into four, down to the size of a box. A cell's
// quarters only check the entries of the cell, and a cell with a single
// entry passes it on to all of them. Coarser than this, the angle bound below
// would reach around more than half the sphere.
constexpr int FirstPerSide = 4;
constexpr int LevelCount = [] {
    int count = 1;
    for (int perSide = FirstPerSide; perSide < BoxesPerSide; perSide *= 2)
        ++count;
    return count;
}();
static_assert(FirstPerSide << (LevelCount - 1) == BoxesPerSide, "the cells end at the boxes");
// Longer lists are cut by angle, which is cheap per entry; shorter ones entry
// against entry, which is exact.
constexpr int AngleCutFrom = 8;
// No box needs more than three entries with this table.
constexpr int ListSlots = 4;
// The index of the zero vector in the unit table.
constexpr int NoEntry = MDLNormalCount;
// Each cell's list covers the cell grown by this much on every side (in face
// coordinates), far more than the rounding of a normal's coordinates, so a
// normal on or next to a border finds its answer in either neighbour's list.
constexpr double CellGrowth = 1e-7;
// Slack on every bound of the build. It covers the rounding of the build
// (about 1e-15) and the entries whose cosines come so close to the best one
// that the rounding of the exact cosines may let either win (within about
// 1e-15 in cosine).
constexpr double Slack = 1e-6;
// The quick cosines in double precision, and their differences, are within
// about 1e-14 of the extended-precision ones that decide. Only the entries
// whose quick cosine comes within this margin of the best can hold the
// maximum (or tie with it).
constexpr double Margin = 1e-9;

struct TUnit
{
    double C[3];

    double Dot(double x, double y, double z) const { return C[0] * x + C[1] * y + C[2] * z; }
};

// What a box refers to: the entries that can be nearest in it, ascending.
// For one or two entries, Decider is the first entry's direction minus the
// second's (or the entry's own), so the sign of its dot product with the
// normal picks the nearer; for more, or none, it is zero, which sends the
// normal to the full comparison.
struct TBoxList
{
    TUnit Decider;
    // The first entry, then the second (or the first again): picked by the
    // sign as an index rather than by a branch.
    std::uint8_t Verdict[2];
    // 0 for a box left to the plain search.
    std::uint8_t Count;
    std::uint8_t Entries[ListSlots];
};

// Two lists of no entries, both sending a normal to the plain search:
// NotPlaced marks the boxes no face has reached (those inside the cube,
// never looked up), Unresolved the boxes whose list would be too long or not
// clearly in front of them. Neither happens on the surface with this table,
// but the map stays right whatever the lists come to.
constexpr std::uint16_t NotPlaced = 0;
constexpr std::uint16_t Unresolved = 1;

struct TNormalMap
{
    // The table in double precision, each entry scaled to unit length, and
    // the zero vector at NoEntry.
    TUnit Units[MDLNormalCount + 1];
    std::vector<TBoxList> Lists;
    // Indices into Lists.
    std::uint16_t Boxes[BoxesPerSide][BoxesPerSide][BoxesPerSide];

    TNormalMap();
};

// Cosine and sine of an angle, for the bound cos(a + b).
struct TAngle
{
    double Cos;
    double Sin;
};

// A cell of a cube face (2 x axis, + 1 for the negative side), grown by
// CellGrowth. The face point (u, w) stands for the direction whose component
// along the axis is 1 (or -1), along the next axis u and along the one after
// w.
struct TCell
{
    int Axis;
    int Next;
    int AfterNext;
    double Side;
    double U0;
    double U1;
    double W0;
    double W1;

    TCell(int face, int perSide, int i, int j)
        : Axis(face / 2)
        , Next((Axis + 1) % 3)
        , AfterNext((Axis + 2) % 3)
        , Side(face % 2 ? -1.0 : 1.0)
        , U0(-1.0 + 2.0 * i / perSide - CellGrowth)
        , U1(-1.0 + 2.0 * (i + 1) / perSide + CellGrowth)
        , W0(-1.0 + 2.0 * j / perSide - CellGrowth)
        , W1(-1.0 + 2.0 * (j + 1) / perSide + CellGrowth)
    {
    }

    // The least dot product of a vector with the face points of the cell.
    // It is linear in (u, w), so the least value is at a corner; a face point
    // is 1 to sqrt(3) long, so a positive value bounds the cosine from below.
    double Lowest(double along, double u, double w) const
    {
        return Side * along + std::min(U0 * u, U1 * u) + std::min(W0 * w, W1 * w);
    }

    double Lowest(const TUnit& v) const { return Lowest(v.C[Axis], v.C[Next], v.C[AfterNext]); }
};

// The angle from a cell's centre to its farthest point, twice over, bounded
// for every cell of a level alike by the half diagonal: a face lies at
// distance 1 from the origin, so no angle seen across it exceeds the
// distance crossed.
TAngle Spread(int perSide)
{
    const double spread = 2.0 * std::sqrt(2.0) * (1.0 / perSide + CellGrowth);
    return { std::cos(spread), std::sin(spread) };
}

class TMapBuilder
{
public:
    explicit TMapBuilder(TNormalMap& map);

    // Gives the boxes of the cells under cell (i, j) of a level their lists,
    // whose entries are among from[0..count).
    void Divide(int level, int face, int i, int j, const int* from, int count);

private:
    // The entries among from[0..count) that can be nearest to a direction in
    // the cell, in the order given.
    int ByAngle(const TCell& cell, TAngle spread, const int* from, int count, int* entries) const;
    int ByRival(const TCell& cell, const int* from, int count, int* entries) const;
    // The index in Lists of a list, made or shared.
    std::uint16_t ListOf(const int* entries, int count);
    // Gives a box on the face its list; a box on an edge or a corner of the
    // cube, reached from two or three faces, takes in all their entries.
    void Place(int face, int u, int w, std::uint16_t list);

    TNormalMap& FMap;
    TAngle FSpreads[LevelCount];
    // The index in Lists of each list of one or two entries made so far, by
    // first entry and second (or NoEntry); NotPlaced for none yet.
    std::vector<std::uint16_t> FShared;
};

TMapBuilder::TMapBuilder(TNormalMap& map)
    : FMap(map)
    , FShared((NoEntry + 1) * (NoEntry + 1), NotPlaced)
{
    for (int level = 0; level < LevelCount; ++level)
        FSpreads[level] = Spread(FirstPerSide << level);
}

// An entry is left out when it is farther from the centre than a direction
// of the cell can make up for: a direction d in the cell lies within the
// radius r of the centre c, so the entry nearest to d lies within (angle
// from c to its nearest entry) + r of d, and within that + 2r of c.
int TMapBuilder::ByAngle(
    const TCell& cell, TAngle spread, const int* from, int count, int* entries) const
{
    double centre[3];
    centre[cell.Axis] = cell.Side;
    centre[cell.Next] = 0.5 * (cell.U0 + cell.U1);
    centre[cell.AfterNext] = 0.5 * (cell.W0 + cell.W1);
    const double length
        = std::sqrt(centre[0] * centre[0] + centre[1] * centre[1] + centre[2] * centre[2]);
    for (double& c : centre)
        c /= length;
    double cosines[MDLNormalCount];
    double nearest = -1.0;
    for (int k = 0; k < count; ++k) {
        cosines[k] = FMap.Units[from[k]].Dot(centre[0], centre[1], centre[2]);
        nearest = std::max(nearest, cosines[k]);
    }
    const double sine = std::sqrt(std::max(0.0, 1.0 - nearest * nearest));
    const double bound = nearest * spread.Cos - sine * spread.Sin - Slack;
    int n = 0;
    for (int k = 0; k < count; ++k) {
        if (cosines[k] >= bound)
            entries[n++] = from[k];
    }
    return n;
}

// Entry against entry: an entry is left out when another one is nearer
// everywhere in the cell by more than the slack. The entry nearest to the
// centre beats most others on its own, so it is tried first.
int TMapBuilder::ByRival(const TCell& cell, const int* from, int count, int* entries) const
{
    // The entries' components along the face's axis and its two coordinates.
    double along[MDLNormalCount];
    double u[MDLNormalCount];
    double w[MDLNormalCount];
    const double uc = 0.5 * (cell.U0 + cell.U1);
    const double wc = 0.5 * (cell.W0 + cell.W1);
    int nearest = 0;
    double best = -2.0;
    for (int k = 0; k < count; ++k) {
        const TUnit& entry = FMap.Units[from[k]];
        along[k] = entry.C[cell.Axis];
        u[k] = entry.C[cell.Next];
        w[k] = entry.C[cell.AfterNext];
        const double centre = cell.Side * along[k] + uc * u[k] + wc * w[k];
        if (centre > best) {
            best = centre;
            nearest = k;
        }
    }
    int n = 0;
    for (int k = 0; k < count; ++k) {
        bool beaten = false;
        for (int r = -1; r < count && !beaten; ++r) {
            const int rival = r < 0 ? nearest : r;
            beaten = rival != k
                && cell.Lowest(along[rival] - along[k], u[rival] - u[k], w[rival] - w[k]) > Slack;
        }
        if (!beaten)
            entries[n++] = from[k];
    }
    return n;
}

void TMapBuilder::Divide(int level, int face, int i, int j, const int* from, int count)
{
    const int perSide = FirstPerSide << level;
    const TCell cell(face, perSide, i, j);
    int entries[MDLNormalCount];
    const int n = count > AngleCutFrom ? ByAngle(cell, FSpreads[level], from, count, entries)
                                       : ByRival(cell, from, count, entries);
    if (n > 1 && perSide < BoxesPerSide) {
        for (int quarter = 0; quarter < 4; ++quarter)
            Divide(level + 1, face, 2 * i + quarter / 2, 2 * j + quarter % 2, entries, n);
        return;
    }
    // A normal is given its list's verdict without its cosine, so every
    // entry must face every direction of the cell.
    bool facing = n > 0;
    for (int k = 0; k < n; ++k)
        facing = facing && cell.Lowest(FMap.Units[entries[k]]) > Slack;
    const std::uint16_t list = facing ? ListOf(entries, n) : Unresolved;
    const int size = BoxesPerSide / perSide;
    for (int u = i * size; u < (i + 1) * size; ++u) {
        for (int w = j * size; w < (j + 1) * size; ++w)
            Place(face, u, w, list);
    }
}

std::uint16_t TMapBuilder::ListOf(const int* entries, int count)
{
    if (count > ListSlots)
        return Unresolved;
    std::uint16_t* shared = nullptr;
    if (count <= 2) {
        shared = &FShared[entries[0] * (NoEntry + 1) + (count == 2 ? entries[1] : NoEntry)];
        if (*shared != NotPlaced)
            return *shared;
    }
    TBoxList list {};
    list.Count = static_cast<std::uint8_t>(count);
    for (int k = 0; k < count; ++k)
        list.Entries[k] = static_cast<std::uint8_t>(entries[k]);
    if (count <= 2) {
        const TUnit& first = FMap.Units[entries[0]];
        const TUnit& second = FMap.Units[count == 2 ? entries[1] : NoEntry];
        for (int c = 0; c < 3; ++c)
            list.Decider.C[c] = first.C[c] - second.C[c];
        list.Verdict[0] = list.Entries[0];
        list.Verdict[1] = list.Entries[count - 1];
    }
    const auto index = static_cast<std::uint16_t>(FMap.Lists.size());
    FMap.Lists.push_back(list);
    if (shared)
        *shared = index;
    return index;
}

void TMapBuilder::Place(int face, int u, int w, std::uint16_t list)
{
    const int axis = face / 2;
    int at[3];
    at[axis] = face % 2 ? 0 : BoxesPerSide - 1;
    at[(axis + 1) % 3] = u;
    at[(axis + 2) % 3] = w;
    std::uint16_t& box = FMap.Boxes[at[0]][at[1]][at[2]];
    if (box == NotPlaced || box == list) {
        box = list;
    } else if (box == Unresolved || list == Unresolved) {
        box = Unresolved;
    } else {
        const TBoxList& a = FMap.Lists[box];
        const TBoxList& b = FMap.Lists[list];
        int entries[2 * ListSlots];
        const int* end = std::set_union(
            a.Entries, a.Entries + a.Count, b.Entries, b.Entries + b.Count, entries);
        box = ListOf(entries, static_cast<int>(end - entries));
    }
}

TNormalMap::TNormalMap()
    : Boxes()
{
    for (int i = 0; i < MDLNormalCount; ++i) {
        const double length = VecLength(MDLNormals[i]);
        Units[i]
            = { { MDLNormals[i].X / length, MDLNormals[i].Y / length, MDLNormals[i].Z / length } };
    }
    Units[NoEntry] = { { 0.0, 0.0, 0.0 } };
    Lists.resize(2); // NotPlaced and Unresolved

    TMapBuilder builder(*this);
    int all[MDLNormalCount];
    for (int i = 0; i < MDLNormalCount; ++i)
        all[i] = i;
    for (int face = 0; face < FaceCount; ++face) {
        for (int i = 0; i < FirstPerSide; ++i) {
            for (int j = 0; j < FirstPerSide; ++j)
                builder.Divide(0, face, i, j, all, MDLNormalCount);
        }
    }
}

// The definition of the normal index over a set of entries: the first entry,
// in index order, whose cosine with the normal is strictly greater than every
// earlier one and than 0.
std::uint8_t ExactNearestNormal(const TVec3& normal, const int* entries, int count)
{
    double best = 0.0;
    int index = 0;
    for (int k = 0; k < count; ++k) {
        const double cosine = VecCos(normal, MDLNormals[entries[k]]);
        if (cosine > best) {
            best = cosine;
            index = entries[k];
        }
    }
    return static_cast<std::uint8_t>(index);
}

// The search within a box's list, for a normal too close to the border
// between two entries for the sign to tell, or in a box of three. (x, y, z)
// is the normal scaled so that its largest component is 1: its quick cosines
// are the true ones times a length in [1, sqrt(3)]. Kept out of line so that
// the common path stays short.
[[gnu::noinline]] std::uint8_t NearestInList(
    const TBoxList& list, const TNormalMap& map, const TVec3& normal, double x, double y, double z)
{
    if (list.Count == 0)
        return PlainNormalIndex(normal);
    double quick[ListSlots];
    double best = -2.0;
    for (int k = 0; k < list.Count; ++k) {
        quick[k] = map.Units[list.Entries[k]].Dot(x, y, z);
        best = std::max(best, quick[k]);
    }
    // Of the entries within the margin of the best one, the first in index
    // order with the greatest exact cosine is the answer: comparing those
    // alone gives the same result as comparing all 162.
    const double threshold = best - Margin;
    int close[ListSlots];
    int count = 0;
    for (int k = 0; k < list.Count; ++k) {
        if (quick[k] >= threshold)
            close[count++] = list.Entries[k];
    }
    // A lone close entry has the greatest cosine, and that cosine is clearly
    // positive: nothing is left to compare.
    if (count == 1 && best > Margin)
        return static_cast<std::uint8_t>(close[0]);
    return ExactNearestNormal(normal, close, count);
}

std::uint32_t Magnitude(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits & 0x7FFFFFFFu;
}

// The larger of two, by arithmetic: normals come in no order a processor
// could predict, and a compiler may turn a plain maximum into a branch.
std::uint32_t Larger(std::uint32_t a, std::uint32_t b)
{
    return a ^ ((a ^ b) & (0u - static_cast<std::uint32_t>(a < b)));
}

} // namespace

std::uint8_t NearestNormalIndex(const TVec3& normal)
{
    // Built on first use, once even when two threads get here together, and
    // only read after that.
    static const TNormalMap map;
    // Float magnitudes order as their bit patterns do, with infinity and NaN
    // above all finite ones.
    const std::uint32_t largest
        = Larger(Magnitude(normal.X), Larger(Magnitude(normal.Y), Magnitude(normal.Z)));
    constexpr std::uint32_t Infinity = 0x7F800000u;
    if (largest - 1 >= Infinity - 1) { // 0, or not finite
        if (largest == 0)
            return 0; // the normal has no length
        // An infinite or NaN component makes the length non-finite; the
        // plain search gives whatever its cosines make of that.
        return PlainNormalIndex(normal);
    }
    float major;
    std::memcpy(&major, &largest, sizeof major);
    // Every float, and every ratio of two, is held in double without
    // overflow or underflow, so tiny and huge normals need no scaling.
    const double scale = 1.0 / major;
    const double x = normal.X * scale;
    const double y = normal.Y * scale;
    const double z = normal.Z * scale;
    // Each coordinate lies in [-1, 1], give or take rounding, which the
    // grown cells absorb; the largest one puts the box on the surface.
    constexpr double Half = BoxesPerSide / 2.0;
    constexpr int Last = BoxesPerSide - 1;
    const int i = std::min(static_cast<int>((x + 1.0) * Half), Last);
    const int j = std::min(static_cast<int>((y + 1.0) * Half), Last);
    const int k = std::min(static_cast<int>((z + 1.0) * Half), Last);
    const TBoxList& list = map.Lists[map.Boxes[i][j][k]];
    // A sign beyond the margin is the sign of the difference between the
    // exact cosines, and the entries all face the box, so the verdict is the
    // answer; otherwise the full comparison decides.
    const double lead = list.Decider.Dot(x, y, z);
    if (std::fabs(lead) > Margin)
        return list.Verdict[lead < 0.0];
    return NearestInList(list, map, normal, x, y, z);
}

std::uint8_t PlainNormalIndex(const TVec3& Normal)
{
    if (VecLength(Normal) == 0.0)
        return 0;
    int all[MDLNormalCount];
    for (int i = 0; i < MDLNormalCount; ++i)
        all[i] = i;
    return ExactNearestNormal(Normal, all, MDLNormalCount);
}
