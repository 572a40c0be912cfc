// tarvex-cli: the conversion command without a window, for scripts and
// batches; a description of MDL5 files, their export to OBJ and their
// pictures.
#include <cctype>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/ConversionCommand.h"
#include "app/ModelExport.h"
#include "app/ModelInfo.h"
#include "image/Bitmap.h"
#include "image/TextureFile.h"
#include "render/Renderer.h"
#include "util/AtomicFile.h"
#include "util/FileIO.h"
#include "util/Printable.h"
#include "util/ReadFiles.h"

namespace {

const char* const ProgramName = "tarvex-cli";
const char* const Version = TARVEX_VERSION;

const char* const UsageText
    = "Usage: tarvex-cli convert INPUT.obj [OUTPUT.mdl]\n"
      "  or:  tarvex-cli info FILE.mdl\n"
      "  or:  tarvex-cli export [--force] FILE.mdl [OUTDIR]\n"
      "  or:  tarvex-cli render FILE.mdl OUT.png|OUT.bmp [--frame N | --all]\n"
      "                  [--size WxH] [--yaw DEG] [--pitch DEG]\n"
      "  or:  tarvex-cli --help | --version\n";

const char* const HelpText
    = "Converts a Wavefront OBJ mesh with its MTL materials and textures into\n"
      "one 3DGS MDL5 model; describes MDL5 files and turns them back into OBJ.\n"
      "\n"
      "  convert INPUT.obj [OUTPUT.mdl]\n"
      "      Reads INPUT.obj and, beside it, BASE.mtl, where BASE is the file name\n"
      "      up to its first \"_\". Writes the texture atlas BASE.bmp (and a flat\n"
      "      texture for every material whose texture is missing) beside it, reads\n"
      "      the frame names from BASE.fns when present, and adds BASE_1.obj,\n"
      "      BASE_2.obj, ... as further frames when INPUT is BASE_0.obj.\n"
      "      OUTPUT defaults to BASE.mdl beside INPUT. The log goes to standard\n"
      "      output; the reading progress to standard error when it is a terminal.\n"
      "  info FILE.mdl\n"
      "      Prints the header, skins, counts and frames of an MDL5 file.\n"
      "  export [--force] FILE.mdl [OUTDIR]\n"
      "      Writes the model as NAME_0.obj, NAME_1.obj, ... (one per frame),\n"
      "      NAME.mtl, NAME_skin.bmp (the first skin) and NAME.fns (the frame\n"
      "      names) into OUTDIR, by default FILE's folder; NAME is FILE's name\n"
      "      without extension, with \"_\" made \"-\". Converting NAME_0.obj gives\n"
      "      the model back. Existing files are replaced only with --force.\n"
      "  render FILE.mdl OUT.png|OUT.bmp [options]\n"
      "      Draws a frame of the model, textured from its first skin and lit from\n"
      "      the upper left, as a PNG or BMP picture (by OUT's extension).\n"
      "      --frame N    the frame to draw, counted from 0 (default 0)\n"
      "      --all        every frame in a grid, each with its name under it\n"
      "      --size WxH   the picture (with --all, each frame's) in pixels, or N for\n"
      "                   N x N (default 512x512, at most 4096 a side)\n"
      "      --yaw DEG    the turn round the model, from its front (default 30)\n"
      "      --pitch DEG  the height of the view above the horizon (default 20)\n"
      "\n"
      "  --help     display this help and exit\n"
      "  --version  output version information and exit\n"
      "\n"
      "Exit status: 0 on success, 1 when the conversion, the reading, the export or\n"
      "the rendering fails or the log could not be written (a closed pipe: the\n"
      "model is still saved), 2 on bad usage.\n";

// The window's services on a terminal: the log to standard output as it
// happens, the progress on one rewritten line of standard error.
class TConsoleHost : public TConversionHost
{
public:
    TConsoleHost(std::string Input, std::string Output)
        : FInput(std::move(Input))
        , FOutput(std::move(Output))
        , FShowStatus(::isatty(STDERR_FILENO) == 1)
    {
    }
    ~TConsoleHost() override { ClearStatus(); }

    bool AskOBJFile(std::string& FileName) override
    {
        FileName = FInput;
        return true;
    }
    bool AskMDLFile(const std::string& Suggestion, std::string& FileName) override
    {
        FileName = FOutput.empty() ? Suggestion : FOutput;
        return true;
    }
    // In the form of compilers and other tools, so that editors can jump to
    // the place: "FILE:LINE: message".
    void ShowError(const std::string& Text, const std::string& Place) override
    {
        FError = Place.empty() ? Text : Place + ": " + Text;
    }
    bool KnowsMDLFileFirst() const override { return true; }
    void AddLine(const std::string& Text) override
    {
        // Once standard output is gone (a reader that closed the pipe) the
        // log stops; the conversion goes on and saves its model.
        if (!std::cout)
            return;
        ClearStatus();
        std::cout << Text << std::endl;
    }
    void SetText(const std::string& Text) override
    {
        if (!FShowStatus)
            return;
        std::cerr << "\r" << Text << "\033[K" << std::flush;
        FStatusShown = true;
    }
    void ProcessMessages() override { }

    const std::string& Error() const { return FError; }

private:
    void ClearStatus()
    {
        if (FStatusShown)
            std::cerr << "\r\033[K" << std::flush;
        FStatusShown = false;
    }

    std::string FInput;
    std::string FOutput;
    std::string FError;
    bool FShowStatus;
    bool FStatusShown = false;
};

int Fail(const std::string& Text)
{
    std::cerr << "tarvex: " << Text << std::endl;
    return 1;
}

int BadUsage(const std::string& Problem)
{
    std::cerr << ProgramName << ": " << Printable(Problem) << "\n" << UsageText;
    return 2;
}

int Convert(const std::string& Input, const std::string& Output)
{
    TConsoleHost host(Input, Output);
    TConversionCommand command(host);
    const TConversionCommand::TResult result = command.Execute();
    std::cout.flush();
    if (result != TConversionCommand::TResult::Completed)
        return Fail(host.Error());
    if (!std::cout)
        return Fail("cannot write the log to standard output.");
    return 0;
}

// A failure in reading FileName, led by the file (or the place in it), as
// compilers write it: what is wrong says little without where.
int FailIn(const std::string& FileName, const std::exception& Failure)
{
    const std::string place = FailurePlace(Failure);
    return Fail((place.empty() ? Printable(FileName) : place) + ": " + FailureText(Failure));
}

int Info(const std::string& FileName)
{
    TMDLModel model;
    try {
        model.LoadLayoutFromFile(FileName);
    } catch (const std::exception& failure) {
        return FailIn(FileName, failure);
    }
    struct stat info = {};
    const std::uint64_t size
        = ::stat(FileName.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    DescribeMDL(model, FileName, size, std::cout);
    std::cout.flush();
    if (!std::cout)
        return Fail("cannot write to standard output.");
    return 0;
}

std::string Joined(const std::vector<std::string>& Names)
{
    std::string text;
    for (std::size_t i = 0; i < Names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == Names.size() ? " and " : ", ") + Printable(Names[i]);
    return text;
}

int Export(const std::string& FileName, const std::string& OutDir, bool Force)
{
    // The model file is noted as it is read: no file of the export may
    // replace it, --force or not.
    TReadFiles reads;
    TMDLModel model;
    std::unique_ptr<TModelExport> made;
    try {
        model.LoadFromFile(FileName);
        made = std::make_unique<TModelExport>(model, TExportNames::For(FileName, OutDir));
    } catch (const std::exception& failure) {
        return FailIn(FileName, failure);
    }
    const TModelExport& exporter = *made;
    try {
        const std::vector<std::string> files = exporter.Files();
        for (const std::string& file : files)
            reads.CheckNotRead(file);
        if (!Force) {
            std::vector<std::string> existing;
            for (const std::string& file : files) {
                struct stat info = {};
                if (::lstat(file.c_str(), &info) == 0)
                    existing.push_back(file);
            }
            if (!existing.empty())
                return Fail(Joined(existing) + (existing.size() == 1 ? " exists" : " exist")
                    + "; add --force to replace " + (existing.size() == 1 ? "it." : "them."));
        }
        const TExportNames& names = exporter.Names();
        // A model of many frames, each repeating the texture coordinates
        // and triangles, may need far more room than its file takes.
        const std::uint64_t needed = exporter.EstimatedBytes();
        struct statvfs room = {};
        // The folder, or the nearest one above it that is there yet.
        std::filesystem::path folder = std::filesystem::path(names.Dir).parent_path();
        std::error_code failure;
        while (!folder.empty() && !std::filesystem::exists(folder, failure))
            folder = folder.parent_path();
        if (folder.empty())
            folder = ".";
        if (::statvfs(folder.c_str(), &room) == 0
            && needed > std::uint64_t(room.f_bavail) * room.f_frsize)
            return Fail("The export needs about " + std::to_string((needed >> 20) + 1)
                + " MiB, but " + Printable(folder.string()) + " has "
                + std::to_string((std::uint64_t(room.f_bavail) * room.f_frsize) >> 20)
                + " MiB free.");
        exporter.Write();

        if (names.Renamed)
            std::cout << "The files are named " << Printable(names.BaseName)
                      << "_N.obj: a conversion reads the name up to its first \"_\".\n";
        // The frame files first, as one line however many there are.
        const std::size_t frames = model.Frames.size();
        if (frames == 1)
            std::cout << "Wrote " << Printable(files[0]) << "\n";
        else if (frames > 1)
            std::cout << "Wrote " << Printable(files[0]) << " ... "
                      << Printable(NamePart(files[frames - 1])) << " (" << frames << " frames)\n";
        for (std::size_t i = frames; i < files.size(); ++i)
            std::cout << "Wrote " << Printable(files[i]) << "\n";
        if (const std::size_t skipped = exporter.SkippedTriangles())
            std::cout << "Left out " << skipped
                      << (skipped == 1 ? " triangle that names a vertex"
                                       : " triangles that name vertices")
                      << " the frames do not have.\n";
        if (exporter.DDSSkin())
            std::cout << "The first skin is a DDS file, written as it is; a conversion does not "
                         "read DDS textures.\n";
        // Converting the first frame without naming an output writes
        // NAME.mdl in that folder, which may be the very file exported.
        if (!model.Frames.empty() && reads.ReadAs(names.Dir + names.BaseName + ".mdl"))
            std::cout << "Converting " << Printable(names.FrameFile(0))
                      << " back without naming an output would replace " << Printable(FileName)
                      << ".\n";
    } catch (const std::filesystem::filesystem_error& failure) {
        return Fail("The folder " + Printable(failure.path1().string()) + " cannot be made ("
            + Printable(failure.code().message()) + ").");
    } catch (const std::exception& failure) {
        return Fail(FailureText(failure));
    }
    std::cout.flush();
    if (!std::cout)
        return Fail("cannot write to standard output.");
    return 0;
}

// What render draws, from its options.
struct TRenderRequest
{
    std::size_t Frame = 0;
    bool All = false;
    std::int32_t Width = 512;
    std::int32_t Height = 512;
    TRenderView View;
};

bool ParseCount(const std::string& Text, std::uint64_t Limit, std::uint64_t& Value)
{
    if (Text.empty() || Text.size() > 19
        || Text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    Value = std::stoull(Text);
    return Value <= Limit;
}

// "WxH", or "N" for a square (what a thumbnailer passes).
bool ParseSize(const std::string& Text, std::int32_t& Width, std::int32_t& Height)
{
    const std::size_t x = Text.find_first_of("xX");
    std::uint64_t w = 0, h = 0;
    const std::uint64_t limit = TModelRenderer::MaxSide;
    if (x == std::string::npos) {
        if (!ParseCount(Text, limit, w))
            return false;
        h = w;
    } else if (!ParseCount(Text.substr(0, x), limit, w)
        || !ParseCount(Text.substr(x + 1), limit, h)) {
        return false;
    }
    if (w == 0 || h == 0)
        return false;
    Width = static_cast<std::int32_t>(w);
    Height = static_cast<std::int32_t>(h);
    return true;
}

bool ParseDegrees(const std::string& Text, double& Value)
{
    if (Text.empty() || Text.size() > 40)
        return false;
    char* end = nullptr;
    Value = std::strtod(Text.c_str(), &end);
    return end == Text.c_str() + Text.size() && std::isfinite(Value) && std::fabs(Value) <= 1e6;
}

// The picture's format by its name's extension, in any case: ".png" or
// ".bmp"; empty for any other.
std::string PictureExtension(const std::string& Output)
{
    const std::string name = NamePart(Output);
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".png" || extension == ".bmp" ? extension : std::string();
}

int Render(const std::string& FileName, const std::string& Output, const TRenderRequest& Request)
{
    // The picture may never replace the model it shows.
    TReadFiles reads;
    TMDLModel model;
    try {
        model.LoadFromFile(FileName);
    } catch (const std::exception& failure) {
        return FailIn(FileName, failure);
    }
    const std::size_t frames = model.Frames.size();
    if (!Request.All && Request.Frame > 0 && Request.Frame >= frames)
        return Fail(Printable(FileName) + ": there is no frame " + std::to_string(Request.Frame)
            + "; the model has " + std::to_string(frames) + (frames == 1 ? " frame" : " frames")
            + ", counted from 0.");
    try {
        const TModelRenderer renderer(model);
        TBitmap picture;
        if (Request.All)
            RenderContactSheet(renderer, Request.View,
                TSheetLayout::For(frames, Request.Width, Request.Height), picture);
        else
            renderer.Render(Request.Frame, Request.View, Request.Width, Request.Height, picture);
        const std::vector<std::uint8_t> bytes
            = PictureExtension(Output) == ".png" ? EncodePng(picture) : picture.EncodeBmp();
        if (const std::string* model = reads.ReadAs(Output))
            return Fail("Writing " + Printable(Output) + " would replace " + Printable(*model)
                + ", the model it shows; choose another name.");
        TAtomicFile file(Output, TLinkRule::Follow);
        file.Write(bytes.data(), bytes.size());
        file.Commit();
        std::cout << "Wrote " << Printable(Output) << " (" << picture.Width() << " x "
                  << picture.Height() << ")\n";
    } catch (const std::exception& failure) {
        const std::string place = FailurePlace(failure);
        return Fail((place.empty() ? "" : place + ": ") + FailureText(failure));
    }
    std::cout.flush();
    if (!std::cout)
        return Fail("cannot write to standard output.");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The stamps of the log follow the user's date and time formats and the
    // messages the user's language; numbers keep the "." the files use.
    std::setlocale(LC_TIME, "");
    std::setlocale(LC_MESSAGES, "");
    // A reader that closes the pipe of the log (convert ... | grep -q WARN)
    // must not kill the program halfway through a save: the write fails
    // with EPIPE instead, the log stops and the save completes.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> operands;
    bool optionsEnd = false;
    bool force = false;
    TRenderRequest render;
    std::string renderOption; // the first option of render met, for a misplaced one
    bool frameGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool takesValue = argument == "--frame" || argument == "--size" || argument == "--yaw"
            || argument == "--pitch";
        if (!optionsEnd && takesValue) {
            if (i + 1 == argc)
                return BadUsage(argument + " needs a value");
            const std::string value = argv[++i];
            bool good = true;
            if (argument == "--frame") {
                std::uint64_t frame = 0;
                good = ParseCount(value, std::uint64_t(1) << 40, frame);
                render.Frame = static_cast<std::size_t>(frame);
                frameGiven = true;
            } else if (argument == "--size")
                good = ParseSize(value, render.Width, render.Height);
            else if (argument == "--yaw")
                good = ParseDegrees(value, render.View.Yaw);
            else
                good = ParseDegrees(value, render.View.Pitch);
            if (!good)
                return BadUsage("'" + value + "' is no valid value of " + argument
                    + (argument == "--size"         ? " (WxH or N, 1 to 4096 pixels a side)"
                            : argument == "--frame" ? " (a frame number from 0)"
                                                    : " (degrees)"));
            if (renderOption.empty())
                renderOption = argument;
        } else if (!optionsEnd && argument == "--all") {
            render.All = true;
            if (renderOption.empty())
                renderOption = argument;
        } else if (!optionsEnd && argument == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && argument == "--help") {
            std::cout << UsageText << "\n" << HelpText;
            return 0;
        } else if (!optionsEnd && argument == "--version") {
            std::cout << ProgramName << " (Tarvex) " << Version << "\n"
                      << "This is free software: you are free to change and redistribute it.\n"
                      << "There is NO WARRANTY, to the extent permitted by law.\n";
            return 0;
        } else if (!optionsEnd && argument == "--force") {
            force = true;
        } else if (!optionsEnd && argument.size() > 1 && argument[0] == '-') {
            return BadUsage("unknown option '" + argument + "'");
        } else {
            operands.push_back(argument);
        }
    }

    if (operands.empty())
        return BadUsage("no command given");
    const std::string& command = operands[0];
    if (command == "convert") {
        if (operands.size() < 2 || operands.size() > 3)
            return BadUsage("convert takes an OBJ file and an optional MDL file");
        // An empty name would quietly stand for the default one.
        if (operands.size() == 3 && operands[2].empty())
            return BadUsage("the MDL file name is empty");
        return Convert(operands[1], operands.size() == 3 ? operands[2] : std::string());
    }
    if (force && command != "export")
        return BadUsage("--force belongs to export");
    if (!renderOption.empty() && command != "render")
        return BadUsage(renderOption + " belongs to render");
    if (command == "render") {
        if (operands.size() != 3)
            return BadUsage("render takes an MDL file and a picture file");
        if (operands[1].empty() || operands[2].empty())
            return BadUsage("a file name is empty");
        if (frameGiven && render.All)
            return BadUsage("--frame and --all exclude each other");
        if (PictureExtension(operands[2]).empty())
            return BadUsage("the picture's name must end in .png or .bmp");
        return Render(operands[1], operands[2], render);
    }
    if (command == "export") {
        if (operands.size() < 2 || operands.size() > 3)
            return BadUsage("export takes an MDL file and an optional folder");
        if (operands[1].empty() || (operands.size() == 3 && operands[2].empty()))
            return BadUsage("a file or folder name is empty");
        return Export(operands[1], operands.size() == 3 ? operands[2] : std::string(), force);
    }
    if (command == "info") {
        if (operands.size() != 2)
            return BadUsage("info takes one MDL file");
        return Info(operands[1]);
    }
    return BadUsage("unknown command '" + command + "'");
}
