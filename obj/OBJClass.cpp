#include "obj/OBJClass.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
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
std::uint32_t ProgressState = 0;

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

} // namespace

float StrToFloat(std::string_view Text)
{
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

std::uint32_t ProgressRandom()
{
    ProgressState = ProgressState * ProgressMultiplier + 1;
    return static_cast<std::uint32_t>((std::uint64_t(ProgressState) * ProgressRange) >> 32);
}

void SetProgressRandomState(std::uint32_t State)
{
    ProgressState = State;
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
    UVs.push_back(TOBJUV { U, V, 0, 0, 0, 0 });
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
    ReadOBJ(FileName);
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

void TOBJModel::ReadOBJ(const std::string& FileName)
{
    TTextReader reader(FileName);
    const std::uint64_t size = reader.Size();
    // clear() keeps the capacity, so the frames of an animation reuse it.
    Vertices.clear();
    Normals.clear();
    UVs.clear();
    Faces.clear();
    TriangleCount = 0;
    std::string materialName;

    std::uint64_t sum = 0;
    std::string_view line;
    while (reader.ReadLine(line)) {
        std::string_view keyword, rest;
        SplitFirst(line, Blanks, keyword, rest);
        if (KeywordIs(keyword, "V") || KeywordIs(keyword, "VN")) {
            const std::string_view x = NextArgument(rest);
            const std::string_view y = NextArgument(rest);
            const std::string_view z = NextArgument(rest);
            // Appended first: a bad number leaves the entry counted with the
            // coordinates read before it.
            std::vector<TVec3>& list = keyword.size() == 1 ? Vertices : Normals;
            list.push_back(Vec3Zero());
            TVec3& v = list.back();
            v.X = StrToFloat(x);
            v.Y = StrToFloat(y);
            v.Z = StrToFloat(z);
        } else if (KeywordIs(keyword, "VT")) {
            const float u = StrToFloat(NextArgument(rest));
            const float v = StrToFloat(NextArgument(rest));
            AddUV(u, v);
        } else if (KeywordIs(keyword, "F") || KeywordIs(keyword, "FO")) {
            TOBJFace face {};
            face.MaterialName = materialName;
            Faces.push_back(std::move(face));
            ReadFace(rest);
        } else if (KeywordIs(keyword, "USEMTL")) {
            materialName = std::string(NextArgument(rest));
        }

        sum += line.size() + 2;
        if (ProgressRandom() == 0)
            ShowProgress(sum, size);
    }
}

void TOBJModel::ReadFace(std::string_view Arguments)
{
    std::string_view arguments[4];
    for (std::string_view& argument : arguments)
        argument = NextArgument(Arguments);

    TOBJFace& face = Faces.back();
    for (int k = 0; k < 4; ++k) {
        // Arguments come trimmed: empty means two delimiters in a row or the
        // end of the line, and the corner keeps its zeros.
        if (arguments[k].empty())
            continue;
        std::string_view vertexText, rest, uvText, normalText;
        SplitFirst(arguments[k], "/", vertexText, rest);
        SplitFirst(rest, "/", uvText, normalText);
        TOBJCorner& corner = face.Corners[k];
        corner.Vertex = ResolveIndex(StrToInt(vertexText), VertexCount());
        corner.UV = uvText.empty() ? NoUV : ResolveIndex(StrToInt(uvText), UVCount());
        corner.Normal = ResolveIndex(StrToInt(normalText), NormalCount());
        face.CornerCount = static_cast<std::uint8_t>(k + 1);
    }
    if (face.CornerCount == 3)
        TriangleCount += 1;
    else if (face.CornerCount == 4)
        TriangleCount += 2;
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
        StatusPanel->SetText(
            "Loading OBJ.. " + std::to_string(static_cast<std::int64_t>(percent)) + "% Complete");
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
    uv.RectX = material.RectX;
    uv.RectY = material.RectY;
    uv.RectW = material.RectW;
    uv.RectH = material.RectH;
}

void TOBJModel::UnifyTextures(const std::string& AtlasFileName)
{
    TBitmap atlas;
    atlas.SetBitsPerPixel(24);
    TBitmap tile;
    tile.SetBitsPerPixel(24);

    // The textures already in the atlas, by map name, with their rectangle.
    struct TPlaced
    {
        std::uint16_t RectX, RectY, RectW, RectH;
    };
    std::unordered_map<std::string, TPlaced> placed;

    // The faces of each material name, in list order, gathered once instead
    // of scanning every face for every material.
    std::unordered_map<std::string_view, std::vector<std::size_t>> facesByName;
    for (std::size_t f = 0; f < Faces.size(); ++f)
        facesByName[Faces[f].MaterialName].push_back(f);

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
            material.RectX = known->second.RectX;
            material.RectY = known->second.RectY;
            material.RectW = known->second.RectW;
            material.RectH = known->second.RectH;
        } else {
            tile.LoadBmpFile(texturePath);
            const std::int32_t left = atlas.Width();
            CheckAtlasSide(std::int64_t(left) + tile.Width());
            atlas.SetWidth(left + tile.Width());
            if (atlas.Height() < tile.Height())
                atlas.SetHeight(tile.Height());
            material.RectX = static_cast<std::uint16_t>(left);
            material.RectY = 0;
            material.RectW = static_cast<std::uint16_t>(tile.Width());
            material.RectH = static_cast<std::uint16_t>(tile.Height());
            TCanvas& canvas = atlas.Canvas();
            canvas.CopyMode = cmSrcCopy;
            canvas.StretchCopy(TRect { left, 0, atlas.Width(), tile.Height() }, tile.Canvas(),
                TRect { 0, 0, tile.Width(), tile.Height() });
            placed.emplace(material.MapKd,
                TPlaced { material.RectX, material.RectY, material.RectW, material.RectH });
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
