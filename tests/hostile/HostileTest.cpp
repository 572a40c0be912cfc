// The hostile-file suite: every case that generate.py wrote is converted by
// the built tarvex-cli in a scratch copy of its folder. Whatever the input,
// the program must end by itself, within 10 seconds and 1 GiB (or the
// tighter limits of its case, in a build without sanitizers), with no
// sanitizer report: either with exit status 0, nothing on standard error and
// a model the reader accepts, or with exit status 1, the expected message
// and no model. It must never write outside the model's folder, nor change
// a file it was given.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestUtil.h"
#include "app/RunProgram.h"
#include "mdl/MDLClass.h"

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds TimeLimit { 10 };
constexpr long MemoryLimitKiB = 1024L * 1024L; // 1 GiB

// The sanitizers' shadow memory and slower code would break a case's own
// tighter limits; the suite's limits hold under them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

struct THostileCase
{
    std::string Name;
    std::string Input; // relative to the case folder
    int Exit = 0;
    std::string MDLFile; // relative to the case folder
    std::string Check; // the message (exit 1) or the facts (exit 0), still escaped
    std::string Reason;
    std::string Output; // the MDL file named on the command line, or empty
    std::chrono::milliseconds Time = TimeLimit; // the case's limits
    long MemoryKiB = MemoryLimitKiB;
    std::string Problem; // why the manifest line cannot be used; empty when it can
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const THostileCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

// The manifest's escapes: \\, \t, \n, \r and \xHH.
bool Unescape(const std::string& Text, std::string& Result)
{
    Result.clear();
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\\') {
            Result += Text[i];
            continue;
        }
        if (++i >= Text.size())
            return false;
        switch (Text[i]) {
        case '\\':
            Result += '\\';
            break;
        case 't':
            Result += '\t';
            break;
        case 'n':
            Result += '\n';
            break;
        case 'r':
            Result += '\r';
            break;
        case 'x': {
            if (i + 2 >= Text.size())
                return false;
            const std::string hex = Text.substr(i + 1, 2);
            if (!std::isxdigit(static_cast<unsigned char>(hex[0]))
                || !std::isxdigit(static_cast<unsigned char>(hex[1])))
                return false;
            Result += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::string Unescaped(const std::string& Text)
{
    std::string result;
    if (!Unescape(Text, result))
        ADD_FAILURE() << "bad escape in the manifest: " << Text;
    return result;
}

std::vector<std::string> SplitAt(const std::string& Text, char Separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = Text.find(Separator, start);
        parts.push_back(Text.substr(start, at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

std::vector<THostileCase> LoadManifest()
{
    std::vector<THostileCase> cases;
    std::ifstream in(TARVEX_HOSTILE_MANIFEST, std::ios::binary);
    if (!in) {
        THostileCase missing;
        missing.Name = "ManifestUnreadable";
        missing.Problem = std::string("cannot read ") + TARVEX_HOSTILE_MANIFEST;
        return { missing };
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = SplitAt(line, '\t');
        THostileCase item;
        item.Name = fields[0];
        if (fields.size() != 8) {
            item.Problem = "line " + std::to_string(number) + " has "
                + std::to_string(fields.size()) + " fields instead of 8";
        } else if (!Unescape(fields[1], item.Input) || !Unescape(fields[3], item.MDLFile)
            || !Unescape(fields[6], item.Output) || (fields[2] != "0" && fields[2] != "1")) {
            item.Problem = "line " + std::to_string(number) + " cannot be read";
        } else {
            item.Exit = fields[2] == "1" ? 1 : 0;
            item.Check = fields[4];
            item.Reason = fields[5];
            // SECONDS,MIB, tighter than the suite's own.
            const std::vector<std::string> limits = SplitAt(fields[7], ',');
            if (limits.size() == 2 && !Sanitized) {
                item.Time = std::chrono::seconds(std::stol(limits[0]));
                item.MemoryKiB = std::stol(limits[1]) * 1024;
            } else if (!fields[7].empty() && limits.size() != 2) {
                item.Problem = "line " + std::to_string(number) + " has bad limits";
            }
        }
        cases.push_back(item);
    }
    return cases;
}

// Every entry under Root except the case folder and what it holds.
std::vector<std::string> EntriesOutside(const fs::path& Root, const fs::path& Work)
{
    std::vector<std::string> entries;
    for (auto it = fs::recursive_directory_iterator(Root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->path() == Work) {
            it.disable_recursion_pending();
            continue;
        }
        entries.push_back(fs::relative(it->path(), Root).string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The entries under Folder, relative to it, links not followed.
std::vector<std::string> EntriesUnder(const fs::path& Folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(Folder))
        entries.push_back(fs::relative(entry.path(), Folder).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The model files in Work that the case's own folder Source did not hold.
std::vector<std::string> NewModelFiles(const fs::path& Work, const fs::path& Source)
{
    std::vector<std::string> models;
    for (const std::string& entry : EntriesUnder(Work)) {
        std::error_code ignored;
        if (fs::path(entry).extension() == ".mdl"
            && !fs::exists(fs::symlink_status(Source / entry)))
            models.push_back(entry);
    }
    return models;
}

// The regular files of Source (not links, nor what they lead to) whose
// bytes Work no longer holds under the same name, less Replaced.
std::vector<std::string> ChangedInputs(
    const fs::path& Source, const fs::path& Work, const std::vector<std::string>& Replaced)
{
    std::vector<std::string> changed;
    for (const std::string& entry : EntriesUnder(Source)) {
        if (!fs::is_regular_file(fs::symlink_status(Source / entry))
            || std::find(Replaced.begin(), Replaced.end(), entry) != Replaced.end())
            continue;
        if (!fs::is_regular_file(fs::symlink_status(Work / entry))
            || ReadAllBytes((Source / entry).string()) != ReadAllBytes((Work / entry).string()))
            changed.push_back(entry);
    }
    return changed;
}

// The names the facts say are replaced on purpose (the old files of mode=).
std::vector<std::string> ReplacedByFacts(const std::string& Facts)
{
    std::vector<std::string> names;
    for (const std::string& fact : SplitAt(Facts, ' ')) {
        if (fact.rfind("mode=", 0) != 0)
            continue;
        for (const std::string& entry : SplitAt(fact.substr(5), '|'))
            names.push_back(Unescaped(entry.substr(0, entry.find(','))));
    }
    return names;
}

std::string ReplaceAll(std::string Text, const std::string& From, const std::string& To)
{
    for (std::size_t at = Text.find(From); at != std::string::npos;
         at = Text.find(From, at + To.size()))
        Text.replace(at, From.size(), To);
    return Text;
}

std::string Hex(const std::uint8_t* Bytes, std::size_t Count)
{
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < Count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", Bytes[i]);
        text += digits;
    }
    return text;
}

// The facts the manifest gives about a converted model.
void CheckFacts(
    const std::string& Facts, const TMDLModel& Model, const fs::path& Work, const std::string& Log)
{
    for (const std::string& fact : SplitAt(Facts, ' ')) {
        const std::size_t equals = fact.find('=');
        ASSERT_NE(equals, std::string::npos) << "fact without a value: " << fact;
        const std::string key = fact.substr(0, equals);
        const std::string value = fact.substr(equals + 1);
        if (key == "verts") {
            EXPECT_EQ(Model.Header.NumVerts, std::stoi(value)) << fact;
        } else if (key == "tris") {
            EXPECT_EQ(Model.Header.NumTris, std::stoi(value)) << fact;
        } else if (key == "frames") {
            EXPECT_EQ(Model.Frames.size(), std::stoul(value)) << fact;
        } else if (key == "skins") {
            EXPECT_EQ(Model.Header.NumSkins, std::stoi(value)) << fact;
        } else if (key == "atlas") {
            ASSERT_TRUE(Model.TextureSkin) << fact;
            EXPECT_EQ(std::to_string(Model.TextureSkin->Width) + "x"
                    + std::to_string(Model.TextureSkin->Height),
                value);
        } else if (key == "texel") {
            // X,Y,BBGGRRAA of the texture skin.
            const std::vector<std::string> parts = SplitAt(value, ',');
            ASSERT_EQ(parts.size(), 3u) << fact;
            ASSERT_TRUE(Model.TextureSkin) << fact;
            const TMDLSkin5& skin = *Model.TextureSkin;
            const std::size_t x = std::stoul(parts[0]);
            const std::size_t y = std::stoul(parts[1]);
            ASSERT_LT(x, std::size_t(skin.Width)) << fact;
            ASSERT_LT(y, std::size_t(skin.Height)) << fact;
            EXPECT_EQ(Hex(skin.Data.data() + (y * skin.Width + x) * 4, 4), parts[2]) << fact;
        } else if (key == "names") {
            std::vector<std::string> names;
            for (const TMDLFrame& frame : Model.Frames)
                names.push_back(frame.NameText());
            std::vector<std::string> expected;
            for (const std::string& name : SplitAt(value, '|'))
                expected.push_back(Unescaped(name));
            EXPECT_EQ(names, expected);
        } else if (key == "files") {
            for (const std::string& name : SplitAt(value, '|'))
                EXPECT_TRUE(fs::exists(Work / Unescaped(name))) << "missing: " << name;
        } else if (key == "regular") {
            for (const std::string& name : SplitAt(value, '|'))
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Work / Unescaped(name))))
                    << "not a regular file: " << name;
        } else if (key == "mode") {
            // NAME,OCTAL|...
            for (const std::string& entry : SplitAt(value, '|')) {
                const std::size_t comma = entry.find(',');
                ASSERT_NE(comma, std::string::npos) << fact;
                struct stat info = {};
                ASSERT_EQ(::lstat((Work / Unescaped(entry.substr(0, comma))).c_str(), &info), 0)
                    << entry;
                EXPECT_EQ(info.st_mode & 07777, std::stoul(entry.substr(comma + 1), nullptr, 8))
                    << entry;
            }
        } else if (key == "log") {
            const std::string line = Unescaped(value);
            EXPECT_NE(("\n" + Log).find("\n" + line + "\n"), std::string::npos)
                << "the log lacks \"" << line << "\":\n"
                << Log;
        } else {
            ADD_FAILURE() << "unknown fact " << fact;
        }
    }
}

class Hostile : public ::testing::TestWithParam<THostileCase>
{
};

TEST_P(Hostile, File)
{
    const THostileCase& item = GetParam();
    ASSERT_TRUE(item.Problem.empty()) << item.Problem;
    SCOPED_TRACE(Unescaped(item.Reason));

    // The case runs two folders down in a scratch root, so that a texture
    // named ../../x would land inside the root, where it is looked for.
    TScratchDir root;
    const fs::path work = root.Path() / "outer" / "inner" / "case";
    fs::create_directories(work.parent_path());
    const fs::path source = fs::path(TARVEX_HOSTILE_MANIFEST).parent_path() / item.Name;
    fs::copy(source, work, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string dir = work.string();
    // A file beside the case folder, where links in the cases lead.
    const fs::path outside = work.parent_path() / "outside.bmp";
    const std::vector<std::uint8_t> outsideBytes = { 'o', 'u', 't', 's', 'i', 'd', 'e' };
    WriteAllBytes(outside.string(), outsideBytes);
    // The modes the cases expect are those under the usual umask.
    ::umask(022);

    TRunOptions options;
    options.TimeLimit = item.Time;
    // A sanitizer report must end the program by a signal, never by an
    // exit status that could pass for a refused file.
    options.Environment
        = { { "LC_ALL", "C" }, { "ASAN_OPTIONS", "abort_on_error=1:detect_leaks=1" },
              { "UBSAN_OPTIONS", "halt_on_error=1:abort_on_error=1:print_stacktrace=1" } };
    std::vector<std::string> arguments = { "convert", dir + "/" + item.Input };
    if (!item.Output.empty())
        arguments.push_back(dir + "/" + item.Output);
    const TRun run = RunProgram(dir, TARVEX_CLI, arguments, options);

    ASSERT_FALSE(run.TimedOut) << "killed after " << item.Time.count() << " ms\n" << run.Err;
    ASSERT_EQ(run.Signal, 0) << "ended by signal " << run.Signal << " (" << strsignal(run.Signal)
                             << ")\n"
                             << run.Err;
    EXPECT_LE(run.PeakRSSKiB, item.MemoryKiB) << "peak memory " << run.PeakRSSKiB / 1024 << " MiB";
    EXPECT_EQ(run.Status, item.Exit) << run.Err;
    EXPECT_EQ(EntriesOutside(root.Path(), work),
        (std::vector<std::string> { "outer", "outer/inner", "outer/inner/outside.bmp" }))
        << "written outside the model's folder";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(outside)));
    EXPECT_EQ(ReadAllBytes(outside.string()), outsideBytes) << "a file outside was replaced";
    EXPECT_EQ(ChangedInputs(source, work, ReplacedByFacts(item.Check)), std::vector<std::string> {})
        << "an input was changed";

    if (item.Exit == 0) {
        EXPECT_EQ(run.Err, "");
        TMDLModel model;
        try {
            model.LoadFromFile((work / item.MDLFile).string());
        } catch (const std::exception& failure) {
            FAIL() << "the model does not load: " << failure.what();
        }
        CheckFacts(item.Check, model, work, run.Out);
    } else {
        const std::string message = ReplaceAll(Unescaped(item.Check), "{dir}", dir);
        EXPECT_EQ(run.Err, "tarvex: " + message + "\n");
        EXPECT_EQ(NewModelFiles(work, source), std::vector<std::string> {})
            << "a model was written";
        // An output refused as one of the inputs is refused before anything
        // is written.
        if (!item.Output.empty()) {
            EXPECT_EQ(EntriesUnder(work), EntriesUnder(source)) << "written before the refusal";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(LoadManifest()),
    [](const ::testing::TestParamInfo<THostileCase>& info) { return info.param.Name; });

} // namespace
