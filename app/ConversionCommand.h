// The conversion command, "Load OBJ and Convert to MDL": it asks for an OBJ
// file, derives the companion file names from it, drives the OBJ and MDL
// models through the conversion, logs its time-stamped progress and finally
// asks where to save the MDL file. It holds no conversion logic of its own.
//
// The command is written once, against TConversionHost; the window and the
// command-line tool are two hosts.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "mdl/MDLClass.h"
#include "obj/OBJClass.h"
#include "util/Activity.h"

// What the command needs of its front end.
class TConversionHost : public TActivityLog, public TStatusPanel, public TEventPump
{
public:
    // The open dialog: false when the user cancels.
    virtual bool AskOBJFile(std::string& FileName) = 0;
    // The save dialog: false when the user cancels. Suggestion is the OBJ's
    // folder + base name + ".mdl"; a host without a dialog may use it.
    virtual bool AskMDLFile(const std::string& Suggestion, std::string& FileName) = 0;
    // The error box; Text already has its final "." (ErrorBoxText). Place
    // is where in an input file the failure was found, "FILE:LINE" or
    // "FILE", or empty (FailurePlace).
    virtual void ShowError(const std::string& Text, const std::string& Place) = 0;
    // True when AskMDLFile answers without asking anyone, so that the
    // command may learn the output before it writes anything and refuse an
    // output that is one of its inputs before the atlas is written.
    virtual bool KnowsMDLFileFirst() const { return false; }
};

// The time stamp of a log line: the locale's date ("%x"), a blank and its
// time ("%X"); only the date at midnight exactly.
std::string FormatTimeStamp(const std::tm& Time);
// The stamp of the current local time.
std::string NowTimeStamp();

// The names the command derives from the OBJ file it is given.
struct TConversionNames
{
    std::string Dir; // with its trailing "/", or empty
    std::string BaseName; // trimmed file-name part before the first "_"
    std::string FrameTag; // untrimmed part after it; empty without "_"
    std::string MTLFile;
    std::string SkinFile;
    std::string FrameNamesFile;

    static TConversionNames FromOBJFile(const std::string& OBJFile);
    // The OBJ file of further frame Number (1, 2, ...).
    std::string FrameFile(unsigned long Number) const;
    // Where the MDL file goes when no one chooses: beside the OBJ file.
    std::string DefaultMDLFile() const;
};

// The text the error box shows for whatever left a command.
std::string FailureText(const std::exception& Failure);
// Where in an input file a failure was found, in the form compilers use:
// "FILE:LINE", "FILE" when it concerns the file as a whole, or empty.
std::string FailurePlace(const std::exception& Failure);

class TConversionCommand
{
public:
    explicit TConversionCommand(TConversionHost& Host);
    TConversionCommand(const TConversionCommand&) = delete;
    TConversionCommand& operator=(const TConversionCommand&) = delete;

    // The models live as long as the command and are reused by every run.
    TOBJModel OBJModel;
    TMDLModel MDLModel;

    // The names of the current (or last) run; the next run overwrites them.
    std::string MTLFile;
    std::string SkinFile;
    std::string FrameFile;
    std::string BaseName;
    std::string FrameTag;

    // Replaceable so that tests see fixed stamps.
    std::function<std::string()> TimeStamp = NowTimeStamp;

    // Runs the command once. A failure ends it where it happens and is shown
    // through the host's error box; nothing is logged for it. Returns
    // Completed when the MDL file was written, Cancelled when a dialog was
    // cancelled and Failed after a failure; Refused when a run is already
    // going on (from inside the event pump), which it leaves alone.
    enum class TResult { Completed, Cancelled, Failed, Refused };
    TResult Execute();

    // True while Execute runs: the window must neither start a second run nor
    // close meanwhile.
    bool Busy() const { return FBusy; }

private:
    // The command itself; failures leave it as exceptions.
    TResult Run();
    void LogStamped(const std::string& Text);

    TConversionHost& FHost;
    bool FBusy = false;
};
