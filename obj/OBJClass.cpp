#include "obj/OBJClass.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

#include "image/Bitmap.h"
#include "util/Errors.h"
#include "util/Split.h"
#include "util/TextFile.h"

const char* const SInvalidFloat = "'%s' は浮動小数点数ではありません";
const char* const SInvalidInteger = "'%s' は整数ではありません";
const char* const SAtlasTooLarge = "Texture atlas exceeds 65535 pixels.";

namespace {

constexpr std::string_view Blanks = " \t";

// The progress step draws from a linear congruential generator.
constexpr std::uint32_t ProgressMultiplier = 134775813;
constexpr std::uint32_t ProgressRange = 100;

// A missing texture becomes a flat tile of this size.
constexpr std::int32_t PlaceholderSize = 80;
// Rectangles are 16-bit: no atlas side may pass this.
constexpr std::int64_t MaxAtlasSide = 65535;

// The four default texture coordinates of a material, near the middle of its
// atlas rectangle, for corners 1 to 4.
constexpr float DefaultU[4] = { 0.5f, 0.45f, 0.5f, 0.55f };
constexpr float DefaultV[4] = { 0.5f, 0.5f, 0.55f, 0.55f };

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Keywords compare after conversion to upper case, ASCII letters only;
// Upper is the table's upper-case spelling.
bool KeywordIs(std::string_view keyword, std::string_view upper)
{
    if (keyword.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        char c = keyword[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i])
            return false;
    }
    return true;
}

// The next argument of a keyword line: the text up to the next blank or tab,
// trimmed. Two delimiters in a row give an empty argument.
std::string_view NextArgument(std::string_view& rest)
{
    std::string_view head;
    SplitFirst(rest, Blanks, head, rest);
    return head;
}

[[noreturn]] void RaiseConvert(const char* format, std::string_view text)
{
    throw EConvertError(FormatMessage(format, std::string(text)));
}

// A negative index counts back from the end of its list as it stands when
// the face is read (-1 is the last entry so far). Whatever still lands
// below 1 addresses nothing and is kept as 0.
std::int32_t ResolveIndex(std::int32_t index, std::int32_t count)
{
    if (index >= 0)
        return index;
    const std::int64_t resolved = std::int64_t(count) + 1 + index;
    return resolved >= 1 ? static_cast<std::int32_t>(resolved) : 0;
}

std::string TexturePath(const std::string& atlasFileName, const std::string& mapKd)
{
    // Only the file name of the texture counts: directories in it (written
    // with either separator, or a drive) are dropped, so the texture is
    // always looked for, and a placeholder always written, in the atlas's
    // folder.
    const std::size_t nameAt = mapKd.find_last_of("/\\:");
    std::string stem = nameAt == std::string::npos ? mapKd : mapKd.substr(nameAt + 1);
    const std::size_t dotAt = stem.rfind('.');
    if (dotAt != std::string::npos)
        stem.erase(dotAt);
    const std::size_t dirEnd = atlasFileName.rfind('/');
    const std::string dir
        = dirEnd == std::string::npos ? std::string() : atlasFileName.substr(0, dirEnd + 1);
    return dir + stem + ".bmp";
}

// Skips leading blanks and an optional sign; true for "-".
bool TakeSign(std::string_view& s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    if (s.empty() || (s.front() != '+' && s.front() != '-'))
        return false;
    const bool negative = s.front() == '-';
    s.remove_prefix(1);
    return negative;
}

void CheckAtlasSide(std::int64_t side)
{
    if (side > MaxAtlasSide)
        throw ERangeError(SAtlasTooLarge);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Powers of ten held exactly: by a single up to 10^10, by a double up to 10^22.
constexpr float SinglePowersOfTen[]
    = { 1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f };
constexpr double DoublePowersOfTen[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
    1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };
constexpr int MaxSingleFraction = 10;
constexpr int MaxDoubleFraction = 22;
constexpr std::uint64_t MaxSingleMantissa = std::uint64_t(1) << 24;
constexpr std::uint64_t MaxDoubleMantissa = std::uint64_t(1) << 53;
constexpr int MaxMantissaDigits = 19; // an unsigned 64-bit integer holds any 19 digits

// A number of the plain form the files use, an optional sign, digits and an
// optional fraction ("-0.850651"), read at At and left with At after it,
// when its nearest single can be had without the general conversion; false
// otherwise, with At unchanged, for the full route.
//
// Its digits without the point make an integer M, its fraction has F digits,
// and the value is M / 10^F. When M and 10^F are both exact singles, one
// division in single precision, which IEEE arithmetic rounds correctly, gives
// the nearest single. When they are exact doubles, the division in double
// precision gives the nearest double q, and rounding q to a single gives the
// nearest single unless a midpoint between two singles lies between the
// exact value and q. Such a midpoint is a double, and q is the double nearest
// to the value, so the midpoint is q itself or its neighbour: its 29 bits
// below a single's precision read 0x10000000, one more or one less. Those
// few values take the full route.
bool QuickFloat(const char*& At, const char* End, float& Value)
{
    const char* p = At;
    bool negative = false;
    if (p < End && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t mantissa = 0;
    int significant = 0;
    int fraction = 0;
    bool digits = false;
    for (; p < End && IsDigit(*p); ++p) {
        digits = true;
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        if (mantissa != 0 && ++significant > MaxMantissaDigits)
            return false;
    }
    if (p < End && *p == '.') {
        for (++p; p < End && IsDigit(*p); ++p) {
            digits = true;
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
            if ((mantissa != 0 && ++significant > MaxMantissaDigits)
                || ++fraction > MaxDoubleFraction)
                return false;
        }
    }
    if (!digits)
        return false;
    float value;
    if (mantissa <= MaxSingleMantissa && fraction <= MaxSingleFraction) {
        value = static_cast<float>(mantissa);
        if (fraction > 0)
            value /= SinglePowersOfTen[fraction];
    } else if (mantissa <= MaxDoubleMantissa) {
        const double quotient = static_cast<double>(mantissa) / DoublePowersOfTen[fraction];
        std::uint64_t bits;
        std::memcpy(&bits, &quotient, sizeof bits);
        constexpr std::uint64_t BelowSingle = (std::uint64_t(1) << 29) - 1;
        constexpr std::uint64_t Midpoint = std::uint64_t(1) << 28;
        if ((bits & BelowSingle) - (Midpoint - 1) <= 2)
            return false;
        value = static_cast<float>(quotient);
    } else {
        return false;
    }
    Value = negative ? -value : value;
    At = p;
    return true;
}

// An index of the plain form, an optional "-" and one to nine digits, read
// at At and left with At after it; anything else (a sign "+", hexadecimal,
// ten digits or more) returns false with At unchanged.
bool QuickIndex(const char*& At, const char* End, std::int32_t& Value)
{
    const char* p = At;
    const bool negative = p < End && *p == '-';
    if (negative)
        ++p;
    const char* const first = p;
    std::int32_t value = 0;
    for (; p < End && IsDigit(*p); ++p) {
        if (p - first == 9)
            return false;
        value = value * 10 + (*p - '0');
    }
    if (p == first)
        return false;
    Value = negative ? -value : value;
    At = p;
    return true;
}

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

// The kinds of OBJ line the reader acts on.
enum class TLineKind { Other, Vertex, Normal, UV, Face, UseMaterial };

// The kind of a line by its keyword, and Rest, the text after the keyword
// and its delimiter.
TLineKind ClassifyLine(std::string_view line, std::string_view& rest)
{
    // The usual spellings first: a lower-case keyword at the start of the
    // line and one blank after it. What they give is what the general rule
    // below gives them.
    if (line.size() >= 2) {
        const char first = line[0];
        if (first == 'v') {
            if (IsBlank(line[1])) {
                rest = line.substr(2);
                return TLineKind::Vertex;
            }
            if (line.size() >= 3 && IsBlank(line[2])) {
                if (line[1] == 'n') {
                    rest = line.substr(3);
                    return TLineKind::Normal;
                }
                if (line[1] == 't') {
                    rest = line.substr(3);
                    return TLineKind::UV;
                }
            }
        } else if (first == 'f' && IsBlank(line[1])) {
            rest = line.substr(2);
            return TLineKind::Face;
        } else if (first == '#') {
            return TLineKind::Other; // no keyword starts with "#"
        }
    }
    std::string_view keyword;
    SplitFirst(line, Blanks, keyword, rest);
    if (KeywordIs(keyword, "V"))
        return TLineKind::Vertex;
    if (KeywordIs(keyword, "VN"))
        return TLineKind::Normal;
    if (KeywordIs(keyword, "VT"))
        return TLineKind::UV;
    if (KeywordIs(keyword, "F") || KeywordIs(keyword, "FO"))
        return TLineKind::Face;
    if (KeywordIs(keyword, "USEMTL"))
        return TLineKind::UseMaterial;
    return TLineKind::Other;
}

} // namespace

float StrToFloat(std::string_view Text)
{
    const char* at = Text.data();
    float quick;
    if (QuickFloat(at, Text.data() + Text.size(), quick) && at == Text.data() + Text.size())
        return quick;

    // Check the grammar first: from_chars alone would also take "inf",
    // "nan" and hexadecimal digits.
    std::string_view s = Text;
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    const bool negative = TakeSign(s);
    const std::string_view number = s;

    // Decimal position of the first significant digit, so that an
    // out-of-range result can be told apart as too large or too small.
    std::size_t i = 0;
    std::int64_t intDigits = 0, leadingFractionZeros = 0;
    bool digits = false, significant = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        digits = true;
        if (significant || s[i] != '0') {
            significant = true;
            ++intDigits;
        }
    }
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            digits = true;
            if (!significant && s[i] == '0')
                ++leadingFractionZeros;
            else
                significant = true;
        }
    }
    if (!digits)
        RaiseConvert(SInvalidFloat, Text);
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        if (i >= s.size() || !IsDigit(s[i]))
            RaiseConvert(SInvalidFloat, Text);
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            // Far beyond any single; saturate instead of overflowing.
            if (exponent < 100000)
                exponent = exponent * 10 + (s[i] - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != s.size())
        RaiseConvert(SInvalidFloat, Text);

    float value = 0;
    const auto result = std::from_chars(
        number.data(), number.data() + number.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for a single rounds to a zero of its sign; too large has
        // no value the model could hold.
        const std::int64_t magnitude
            = (intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
        if (magnitude >= 0)
            RaiseConvert(SInvalidFloat, Text);
        value = 0.0f;
    } else if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
        RaiseConvert(SInvalidFloat, Text);
    }
    return negative ? -value : value;
}

std::int32_t StrToInt(std::string_view Text)
{
    std::string_view s = Text;
    const bool negative = TakeSign(s);
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (!s.empty() && (s.front() == 'x' || s.front() == 'X')) {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        RaiseConvert(SInvalidInteger, Text);
    // The magnitude may reach 2^31 for the most negative value.
    const std::int64_t limit = negative ? std::int64_t(1) << 31 : (std::int64_t(1) << 31) - 1;
    std::int64_t value = 0;
    for (char c : s) {
        int digit;
        if (IsDigit(c))
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            RaiseConvert(SInvalidInteger, Text);
        value = value * base + digit;
        if (value > limit)
            RaiseConvert(SInvalidInteger, Text);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::uint32_t TProgressGenerator::Next()
{
    FState = FState * ProgressMultiplier + 1;
    return static_cast<std::uint32_t>((std::uint64_t(FState) * ProgressRange) >> 32);
}

TOBJModel::TOBJModel() = default;
TOBJModel::~TOBJModel() = default;

void TOBJModel::Log(const std::string& Text)
{
    if (ActivityLog)
        ActivityLog->AddLine(Text);
}

void TOBJModel::AddUV(float U, float V)
{
    UVs.push_back(TOBJUV { U, V, TAtlasRect {} });
}

void TOBJModel::LoadOBJ(const std::string& FileName, const std::string& MTLFileName)
{
    // The further frames of a conversion pass no MTL file and keep the
    // materials of the first one. A named MTL file that is not there leaves
    // no materials, so nothing of an earlier conversion carries over.
    if (!MTLFileName.empty()) {
        if (FileExists(MTLFileName))
            LoadMTL(MTLFileName);
        else
            Materials.clear();
    }
    // Only faces without a texture index at their first corner take default
    // coordinates; without any, there is nothing to look for.
    if (ReadOBJ(FileName))
        AssignDefaultUVs();
}

void TOBJModel::LoadMTL(const std::string& MTLFileName)
{
    Materials.clear();
    TTextReader reader(MTLFileName);
    std::string_view line;
    while (reader.ReadLine(line)) {
        std::string_view keyword, rest;
        SplitFirst(line, Blanks, keyword, rest);
        if (KeywordIs(keyword, "NEWMTL")) {
            TOBJMaterial material {};
            material.Name = std::string(NextArgument(rest));
            Materials.push_back(std::move(material));
            continue;
        }
        // A material keyword before the first "newmtl" has nothing to act on.
        if (Materials.empty())
            continue;
        TOBJMaterial& material = Materials.back();
        if (KeywordIs(keyword, "MAP_KD")) {
            material.MapKd = std::string(NextArgument(rest));
        } else if (KeywordIs(keyword, "NS")) {
            material.Ns = StrToFloat(NextArgument(rest));
        } else {
            TVec3* colour = KeywordIs(keyword, "KA") ? &material.Ka
                : KeywordIs(keyword, "KD")           ? &material.Kd
                : KeywordIs(keyword, "KS")           ? &material.Ks
                                                     : nullptr;
            if (!colour)
                continue;
            const std::string_view r = NextArgument(rest);
            const std::string_view g = NextArgument(rest);
            const std::string_view b = NextArgument(rest);
            const float red = StrToFloat(r);
            const float green = StrToFloat(g);
            const float blue = StrToFloat(b);
            *colour = Vec3(red, green, blue);
        }
    }
    Log("MTL Loaded.");
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
        std::int32_t& TriangleCount;
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
                FMaterialName = std::string(NextArgument(rest));
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
    void AddUV(float u, float v) { FLists.UVs.push_back(TOBJUV { u, v, TAtlasRect {} }); }

    // One corner of the plain forms "v/vt/vn" and "v//vn" at At.
    bool QuickCorner(const char*& at, const char* end, TOBJCorner& corner) const
    {
        std::int32_t vertex, uv = 0, normal;
        if (!QuickIndex(at, end, vertex) || at == end || *at++ != '/')
            return false;
        const bool hasUV = at < end && *at != '/';
        if ((hasUV && !QuickIndex(at, end, uv)) || at == end || *at++ != '/'
            || !QuickIndex(at, end, normal))
            return false;
        corner.Vertex = ResolveIndex(vertex, FVertexCount);
        corner.UV = hasUV ? ResolveIndex(uv, FUVCount) : NoUV;
        corner.Normal = ResolveIndex(normal, FNormalCount);
        return true;
    }

    // Up to four corners of the plain forms, one blank apart; false for any
    // other spelling, which the general route reads.
    bool QuickCorners(std::string_view rest, TOBJCorner* corners, std::uint8_t& count) const
    {
        const char* at = rest.data();
        const char* const end = at + rest.size();
        count = 0;
        for (int k = 0; k < 4 && at < end; ++k) {
            if (!QuickCorner(at, end, corners[k]))
                return false;
            count = static_cast<std::uint8_t>(k + 1);
            if (at < end && !IsBlank(*at++))
                return false;
        }
        return true;
    }

    void ReadFace(std::string_view rest)
    {
        // Appended first: a bad number leaves the face counted with the
        // corners read before it.
        TOBJFace& face = FLists.Faces.emplace_back();
        face.MaterialName = FMaterialName;
        std::uint8_t count;
        if (QuickCorners(rest, face.Corners, count)) {
            face.CornerCount = count;
            FLists.TriangleCount += count == 3 ? 1 : count == 4 ? 2 : 0;
        } else {
            std::fill(std::begin(face.Corners), std::end(face.Corners), TOBJCorner {});
            ReadCorners(rest, face);
        }
        if (face.Corners[0].UV == NoUV)
            FacesWithoutUV = true;
    }

    // The general route: each argument cut at blanks and slashes, numbers of
    // every form StrToInt takes. A bad number leaves the face with the
    // corners read before it.
    void ReadCorners(std::string_view rest, TOBJFace& face)
    {
        std::string_view arguments[4];
        for (std::string_view& argument : arguments)
            argument = NextArgument(rest);
        for (int k = 0; k < 4; ++k) {
            // Arguments come trimmed: empty means two delimiters in a row or
            // the end of the line, and the corner keeps its zeros.
            if (arguments[k].empty())
                continue;
            std::string_view vertexText, tail, uvText, normalText;
            SplitFirst(arguments[k], "/", vertexText, tail);
            SplitFirst(tail, "/", uvText, normalText);
            TOBJCorner& corner = face.Corners[k];
            corner.Vertex = ResolveIndex(StrToInt(vertexText), FVertexCount);
            corner.UV = uvText.empty() ? NoUV : ResolveIndex(StrToInt(uvText), FUVCount);
            corner.Normal = ResolveIndex(StrToInt(normalText), FNormalCount);
            face.CornerCount = static_cast<std::uint8_t>(k + 1);
        }
        if (face.CornerCount == 3)
            FLists.TriangleCount += 1;
        else if (face.CornerCount == 4)
            FLists.TriangleCount += 2;
    }

    const TLists FLists;
    const TShare FShare;
    // The material of the faces that follow; empty before any "usemtl".
    std::string FMaterialName;
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
    TLineReader lines({ Vertices, Normals, UVs, Faces, TriangleCount }, TLineReader::AllLines);
    std::uint64_t sum = 0;
    std::uint64_t number = 0;
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
    return lines.FacesWithoutUV;
}

bool TOBJModel::ReadOBJ(const std::string& FileName)
{
    TTextReader file(FileName, 26, &FReadBuffers[0], ReadBlockSize);
    const std::uint64_t size = file.Size();
    ClearLists();
    ReserveFaces(size);

    // A small file is read in one pass; a large one by two threads, this one
    // taking the vertex lines and a second the face lines, each reading the
    // file for itself. This thread draws the progress generator for every
    // line in order, but shows a line's progress only once both threads are
    // past that line without a failure. On any failure the file is read
    // again in one pass from the start, which fails on the same line the
    // way one pass does, and shows the progress not yet shown.
    if (!ReadInParallel || size <= ReadBlockSize || std::thread::hardware_concurrency() < 2) {
        return ReadOBJInOrder(file, 0);
    }

    const std::uint32_t startState = Progress.State();
    // What the face thread works on, on cache lines of its own: it writes to
    // its lists on every face line, and a line shared with anything this
    // thread writes would pass between the cores each time. It gets the
    // storage of the model's face list and hands it back at the end.
    struct alignas(64) TFaceWork
    {
        std::vector<TOBJFace> Faces;
        std::int32_t Triangles = 0;
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
            : Reader({ NoVertices, NoNormals, NoUVs, Faces, Triangles }, TLineReader::FaceShare)
        {
        }
    };
    const auto work = std::make_unique<TFaceWork>();
    work->Faces.swap(Faces);

    auto readFaces = [&file, &work = *work, this] {
        bool failed = false;
        try {
            TTextReader reader(file, &FReadBuffers[1]);
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
        return ReadOBJInOrder(file, 0); // no second thread to be had
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
            ShowProgress(pending[nextPending].Sum, size);
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
        std::int32_t noTriangles = 0;
        TLineReader vertexLines(
            { Vertices, Normals, UVs, noFaces, noTriangles }, TLineReader::VertexShare);
        std::uint64_t number = 0; // lines this thread has read without a failure
        std::uint64_t sum = 0;
        ForEachLine(
            file,
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
    if (!failed && !work->Failed) {
        TriangleCount = work->Triangles;
        return work->Reader.FacesWithoutUV;
    }

    ClearLists();
    Progress.SetState(startState);
    return ReadOBJInOrder(file, shownBefore);
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

void TOBJModel::AssignDefaultUVs()
{
    // The first material of each name; names compare byte for byte.
    std::unordered_map<std::string_view, std::size_t> byName;
    for (std::size_t i = 0; i < Materials.size(); ++i)
        byName.emplace(Materials[i].Name, i);

    for (TOBJFace& face : Faces) {
        if (face.Corners[0].UV != NoUV)
            continue;
        const auto found = byName.find(face.MaterialName);
        if (found == byName.end())
            continue;
        TOBJMaterial& material = Materials[found->second];
        if (!material.DefaultUVsMade) {
            for (int k = 0; k < 4; ++k) {
                AddUV(DefaultU[k], DefaultV[k]);
                material.DefaultUV[k] = UVCount();
            }
            material.DefaultUVsMade = true;
        }
        // All four corners, also on a triangle.
        for (int k = 0; k < 4; ++k)
            face.Corners[k].UV = material.DefaultUV[k];
    }
}

void TOBJModel::SetUVRect(std::int32_t UVIndex, std::int32_t MaterialIndex)
{
    // A corner without a texture index, or one past the list, has no entry
    // to stamp.
    if (UVIndex < 1 || UVIndex > UVCount() || MaterialIndex < 0 || MaterialIndex >= MaterialCount())
        return;
    const TOBJMaterial& material = Materials[static_cast<std::size_t>(MaterialIndex)];
    TOBJUV& uv = UVs[static_cast<std::size_t>(UVIndex - 1)];
    uv.Rect = material.Rect;
}

void TOBJModel::UnifyTextures(const std::string& AtlasFileName)
{
    TBitmap atlas;
    atlas.SetBitsPerPixel(24);
    TBitmap tile;
    tile.SetBitsPerPixel(24);

    // The textures already in the atlas, by map name, with their rectangle.
    std::unordered_map<std::string, TAtlasRect> placed;

    // The faces of each material name, in list order, gathered once instead
    // of scanning every face for every material.
    // Faces come in runs of one material, so the list of the previous face
    // is tried before the table.
    std::unordered_map<std::string_view, std::vector<std::size_t>> facesByName;
    std::vector<std::size_t>* runList = nullptr;
    std::string_view runName;
    for (std::size_t f = 0; f < Faces.size(); ++f) {
        const std::string_view name = Faces[f].MaterialName;
        if (!runList || name != runName) {
            runList = &facesByName[name];
            runName = name;
        }
        runList->push_back(f);
    }

    for (std::size_t i = 0; i < Materials.size(); ++i) {
        TOBJMaterial& material = Materials[i];
        if (material.MapKd.empty())
            material.MapKd = "created_mtl" + std::to_string(i);
        const std::string texturePath = TexturePath(AtlasFileName, material.MapKd);

        // A file already there is used as it is, whatever it holds.
        if (!FileExists(texturePath)) {
            tile.SetWidth(PlaceholderSize);
            tile.SetHeight(PlaceholderSize);
            TCanvas& canvas = tile.Canvas();
            canvas.Brush.Color = VecToColor(material.Kd);
            canvas.Brush.Style = bsSolid;
            canvas.FillRect(TRect { 0, 0, tile.Width(), tile.Height() });
            tile.SaveBmpFile(texturePath);
        }

        const auto known = placed.find(material.MapKd);
        if (known != placed.end()) {
            material.Rect = known->second;
        } else {
            tile.LoadBmpFile(texturePath);
            const std::int32_t left = atlas.Width();
            CheckAtlasSide(std::int64_t(left) + tile.Width());
            atlas.SetWidth(left + tile.Width());
            if (atlas.Height() < tile.Height())
                atlas.SetHeight(tile.Height());
            material.Rect = TAtlasRect { static_cast<std::uint16_t>(left), 0,
                static_cast<std::uint16_t>(tile.Width()),
                static_cast<std::uint16_t>(tile.Height()) };
            TCanvas& canvas = atlas.Canvas();
            canvas.CopyMode = cmSrcCopy;
            canvas.StretchCopy(TRect { left, 0, atlas.Width(), tile.Height() }, tile.Canvas(),
                TRect { 0, 0, tile.Width(), tile.Height() });
            placed.emplace(material.MapKd, material.Rect);
            // The texture is in the atlas now. Its pixels are dropped, so a
            // large one is not held while the atlas grows or is written;
            // depth and colour table stay for the next placeholder.
            tile.SetWidth(0);
        }

        // The remainder is added, not rounded up: 99 becomes 102, and a side
        // keeps growing over the next materials until it is a multiple of 8.
        const std::int64_t width = atlas.Width();
        CheckAtlasSide(width + width % 8);
        atlas.SetWidth(static_cast<std::int32_t>(width + width % 8));
        const std::int64_t height = atlas.Height();
        CheckAtlasSide(height + height % 8);
        atlas.SetHeight(static_cast<std::int32_t>(height + height % 8));

        const auto faces = facesByName.find(material.Name);
        if (faces == facesByName.end())
            continue;
        for (const std::size_t f : faces->second) {
            const TOBJFace& face = Faces[f];
            for (int k = 0; k < face.CornerCount && k < 4; ++k)
                SetUVRect(face.Corners[k].UV, static_cast<std::int32_t>(i));
        }
    }
    atlas.SaveBmpFile(AtlasFileName);
}
