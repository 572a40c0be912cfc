// The main window: the File menu with the conversion command, the activity
// log, the status panel, the two file dialogs and the error box. The window
// is the command's host; the command itself lives in ConversionCommand.
#pragma once

#include <string>

#include <QElapsedTimer>
#include <QFileDialog>
#include <QMainWindow>
#include <QMargins>
#include <QString>

#include "app/ConversionCommand.h"

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QMessageBox;
class QPlainTextEdit;
class QShowEvent;
class QStatusBar;

// The application's title: the name on the task bar and the title of the
// error box.
extern const char* const ApplicationTitle;

class TMainForm : public QMainWindow, public TConversionHost
{
    Q_OBJECT

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // The components, owned by the window through Qt's parent links.
    QFileDialog* OpenDialog = nullptr;
    QPlainTextEdit* StsMemo = nullptr;
    QMenuBar* MainMenu = nullptr;
    QFileDialog* SaveDialog = nullptr;
    QMenu* OBJ1 = nullptr;
    QAction* OptionOBJLoad = nullptr;
    QStatusBar* StatusBar = nullptr;
    // The status bar's only panel.
    QLabel* StatusText = nullptr;

    // The command and its two models, created with the window and released
    // with it.
    TConversionCommand Command;

    // Where both dialogs start: Folder, the program's, when the user may
    // write there; else the folder of the last OBJ file chosen in this
    // session, or the home folder before the first. FormCreate gives it the
    // program's folder.
    void SetProgramFolder(const QString& Folder);

    // TConversionHost
    void AddLine(const std::string& Text) override;
    void SetText(const std::string& Text) override;
    void ProcessMessages() override;
    bool AskOBJFile(std::string& FileName) override;
    bool AskMDLFile(const std::string& Suggestion, std::string& FileName) override;
    void ShowError(const std::string& Text, const std::string& Place) override;

public slots:
    void OptionOBJLoadClick();

protected:
    // Every dialog and box is shown through these two, so that tests can
    // stand in for the user. ExecDialog returns true when the dialog was
    // accepted; the chosen file is then Dialog.selectedFiles().value(0).
    virtual bool ExecDialog(QFileDialog& Dialog);
    virtual void ExecMessageBox(QMessageBox& Box);
    // The margins of the frame around the window, as the platform knows
    // them: zero without a window manager, and under one until it has framed
    // the window. Tests stand in for a window manager here.
    virtual QMargins FrameMargins() const;

    bool eventFilter(QObject* Watched, QEvent* Event) override;

    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void CreateComponents();
    QFileDialog* MakeFileDialog(
        QFileDialog::AcceptMode Mode, const char* Filter, const char* DefaultSuffix);
    void FormCreate();
    // Gives the window its outer size and centres it on its screen, for the
    // frame margins known now.
    void PlaceOnScreen();
    // Runs a file dialog and closes what it leaves open: its file-name
    // completion pop-up would otherwise stay over the window.
    bool RunFileDialog(QFileDialog& Dialog);
    // The busy cursor on the window while a conversion works.
    void ShowBusy(bool Busy);

    bool FPlaced = false;
    // The window has been placed for a frame a window manager gave it; no
    // later change of frame or place is the program's business.
    bool FFramed = false;
    QMargins FPlacedMargins;
    // Whether the user may write into the program's folder.
    QString FProgramFolder;
    bool FProgramFolderWritable = false;
    bool FBusyShown = false;
    // When the event pump last let events run; invalid before the first
    // pump of a run.
    QElapsedTimer FLastPump;
    // The text of the status panel, as last set.
    std::string FStatusText;
    // The panel's text changed after the last pump and may not be on screen.
    bool FStatusUnpainted = false;
};
