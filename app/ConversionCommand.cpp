#include "app/ConversionCommand.h"

#include <new>

#include "image/Bitmap.h"
#include "util/Errors.h"
#include "util/Printable.h"
#include "util/ReadFiles.h"
#include "util/Split.h"
#include "util/TextFile.h"
#include "util/Translate.h"

namespace {

// The message of memory that ran out, as the run-time library words it.
const char* const SOutOfMemory = N_("Out of memory");

std::string Strftime(const char* Format, const std::tm& Time)
{
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, Format, &Time);
    return std::string(text, length);
}

// Clears the busy flag however the run ends.
class TBusyScope
{
public:
    explicit TBusyScope(bool& Flag)
        : FFlag(Flag)
    {
        FFlag = true;
    }
    ~TBusyScope() { FFlag = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    bool& FFlag;
};

} // namespace

std::string FormatTimeStamp(const std::tm& Time)
{
    std::string stamp = Strftime("%x", Time);
    if (Time.tm_hour != 0 || Time.tm_min != 0 || Time.tm_sec != 0)
        stamp += " " + Strftime("%X", Time);
    return stamp;
}

std::string NowTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    return FormatTimeStamp(local);
}

TConversionNames TConversionNames::FromOBJFile(const std::string& OBJFile)
{
    TConversionNames names;
    names.Dir = FolderPart(OBJFile);
    std::string name = NamePart(OBJFile);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    SplitFirst(name, "_", names.BaseName, names.FrameTag);
    names.MTLFile = names.Dir + names.BaseName + ".mtl";
    names.SkinFile = names.Dir + names.BaseName + ".bmp";
    names.FrameNamesFile = names.Dir + names.BaseName + ".fns";
    return names;
}

std::string TConversionNames::FrameFile(unsigned long Number) const
{
    return Dir + BaseName + "_" + std::to_string(Number) + ".obj";
}

std::string TConversionNames::DefaultMDLFile() const
{
    return Dir + BaseName + ".mdl";
}

std::string FailureText(const std::exception& Failure)
{
    if (dynamic_cast<const std::bad_alloc*>(&Failure))
        return ErrorBoxText(Tr(SOutOfMemory));
    // Our messages may quote input that holds a NUL byte; what() would end
    // the text there.
    // Control bytes of quoted input are shown escaped, never sent to the
    // terminal or the window as they are.
    if (const auto* own = dynamic_cast<const Exception*>(&Failure)) {
        const std::string text = ErrorBoxText(own->Message());
        // A system error puts the system's text on a line of its own: that
        // line break is the message's, not input's.
        const std::size_t lineBreak = text.find('\n');
        if (dynamic_cast<const EWin32Error*>(own) && lineBreak != std::string::npos)
            return Printable(text.substr(0, lineBreak)) + "\n"
                + Printable(text.substr(lineBreak + 1));
        return Printable(text);
    }
    return Printable(ErrorBoxText(Failure.what()));
}

std::string FailurePlace(const std::exception& Failure)
{
    const auto* own = dynamic_cast<const Exception*>(&Failure);
    if (!own || !own->HasPlace())
        return std::string();
    if (own->PlaceLine() == 0)
        return Printable(own->PlaceFile());
    return Printable(own->PlaceFile()) + ":" + std::to_string(own->PlaceLine());
}

TConversionCommand::TConversionCommand(TConversionHost& Host)
    : FHost(Host)
{
    OBJModel.ActivityLog = &Host;
    OBJModel.StatusPanel = &Host;
    OBJModel.EventPump = &Host;
    MDLModel.ActivityLog = &Host;
    // Models in metres or centimetres reach well beyond -1..1; their frames
    // are packed once the range of all of them is known.
    MDLModel.FitRange = true;
}

TConversionCommand::TResult TConversionCommand::Execute()
{
    // The OBJ reader lets window events run; a second click on the command
    // arrives here while the first run is still going on.
    if (FBusy)
        return TResult::Refused;
    TBusyScope busy(FBusy);
    try {
        return Run();
    } catch (const std::exception& failure) {
        FHost.ShowError(FailureText(failure), FailurePlace(failure));
        return TResult::Failed;
    }
}

void TConversionCommand::LogStamped(const std::string& Text)
{
    FHost.AddLine(TimeStamp() + Printable(Text));
}

TConversionCommand::TResult TConversionCommand::Run()
{
    std::string objFile;
    if (!FHost.AskOBJFile(objFile))
        return TResult::Cancelled;

    const TConversionNames names = TConversionNames::FromOBJFile(objFile);
    BaseName = names.BaseName;
    FrameTag = names.FrameTag;
    MTLFile = names.MTLFile;
    SkinFile = names.SkinFile;

    // Every file read from here on is noted, so that no file written can
    // be one of them.
    TReadFiles inputs;
    LogStamped(":Loading " + objFile.substr(names.Dir.size()) + "..");
    OBJModel.LoadOBJ(objFile, MTLFile);
    // A model the format cannot hold is refused before any file is written.
    TMDLModel::CheckLimits(OBJModel);
    // So is an output that would replace an input: the files still to be
    // read are known by now.
    inputs.Expect(names.FrameNamesFile);
    if (FrameTag == "0") {
        for (unsigned long number = 1; FileExists(names.FrameFile(number)); ++number)
            inputs.Expect(names.FrameFile(number));
    }
    // A texture named like the atlas has a refusal of its own, which says
    // how to mend it.
    inputs.CheckNotRead(SkinFile);
    for (const std::string& texture : OBJModel.TextureFiles(SkinFile))
        inputs.Expect(texture);
    std::string mdlFile;
    if (FHost.KnowsMDLFileFirst() && FHost.AskMDLFile(names.DefaultMDLFile(), mdlFile))
        inputs.CheckNotRead(mdlFile);
    LogStamped(":Unifying textures into " + SkinFile.substr(names.Dir.size()) + "..");
    {
        // The atlas goes to the model as it was saved, not read back from
        // the file; its pixels are let go once they are in the skin.
        TBitmap atlas;
        OBJModel.UnifyTextures(SkinFile, atlas);
        LogStamped(":Done.");

        LogStamped(":Making MDL Frame_0..");
        MDLModel.MakeFromOBJ(OBJModel, &atlas, names.FrameNamesFile);
    }
    if (FrameTag == "0") {
        // The series ends at the first number without a file.
        for (unsigned long number = 1;; ++number) {
            FrameFile = names.FrameFile(number);
            if (!FileExists(FrameFile))
                break;
            LogStamped(":Loading Frame_" + std::to_string(number) + "..");
            OBJModel.LoadOBJ(FrameFile, std::string());
            LogStamped(":Adding to MDL Frame_" + std::to_string(number) + "..");
            MDLModel.AddFrame(OBJModel);
        }
    }
    MDLModel.FitFrames();
    LogStamped(":Done.");

    if (!FHost.AskMDLFile(names.DefaultMDLFile(), mdlFile))
        return TResult::Cancelled;
    inputs.CheckNotRead(mdlFile);
    LogStamped(":Writing MDL..");
    // The name the program chose is a side file like the atlas: a link
    // there is replaced, not followed. A name someone chose is followed.
    MDLModel.SaveToFile(
        mdlFile, mdlFile == names.DefaultMDLFile() ? TLinkRule::Replace : TLinkRule::Follow);
    LogStamped(":All Done.");
    return TResult::Completed;
}
