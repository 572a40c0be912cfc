// The window, driven offscreen: the dialogs and the error box are answered
// by a script instead of a user.
#include <clocale>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QCursor>
#include <QDir>
#include <QExposeEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "Language.h"
#include "app/MainForm.h"
#include "mdl/MDLClass.h"
#include "obj/OBJClass.h"

// Readable failure messages for Qt's strings.
void PrintTo(const QString& Text, std::ostream* Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

void PrintTo(const QStringList& Lines, std::ostream* Out)
{
    *Out << "{\n";
    for (const QString& line : Lines)
        *Out << "  \"" << line.toStdString() << "\"\n";
    *Out << "}";
}

namespace {

constexpr int BannerLineCount = 15;

struct TBoxSeen
{
    QMessageBox::Icon Icon;
    QString Title;
    QString Text;
    QMessageBox::StandardButtons Buttons;
    qsizetype ButtonCount;
    bool BusyCursor; // the busy cursor showed while the box was up
};

bool BusyCursorShown()
{
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

class TScriptedForm : public TMainForm
{
public:
    // The files the dialogs give, in turn; an empty one cancels.
    std::deque<std::string> Answers;
    // The dialogs shown, in turn.
    std::vector<QFileDialog::AcceptMode> Asked;
    // The folder each dialog started in, in turn.
    std::vector<QString> StartFolders;
    // Run as each dialog is shown; Shown is the dialog.
    std::function<void()> OnDialog;
    QFileDialog* Shown = nullptr;
    std::vector<TBoxSeen> Boxes;
    // Stands in for a window manager's frame when set.
    std::optional<QMargins> Frame;

    // What the platform sends when the window manager has framed the window.
    void Expose()
    {
        QExposeEvent event { QRegion(rect()) };
        QCoreApplication::sendEvent(windowHandle(), &event);
    }

protected:
    bool ExecDialog(QFileDialog& Dialog) override
    {
        Asked.push_back(Dialog.acceptMode());
        StartFolders.push_back(Dialog.directory().absolutePath());
        Shown = &Dialog;
        if (OnDialog)
            OnDialog();
        if (Answers.empty()) {
            ADD_FAILURE() << "a dialog the script did not expect";
            return false;
        }
        const std::string answer = Answers.front();
        Answers.pop_front();
        if (answer.empty())
            return false;
        Dialog.selectFile(QString::fromStdString(answer));
        return true;
    }

    void ExecMessageBox(QMessageBox& Box) override
    {
        Boxes.push_back(TBoxSeen { Box.icon(), Box.windowTitle(), Box.text(), Box.standardButtons(),
            Box.buttons().size(), BusyCursorShown() });
    }

    QMargins FrameMargins() const override { return Frame ? *Frame : TMainForm::FrameMargins(); }
};

class MainFormTest : public ::testing::Test
{
protected:
    MainFormTest()
    {
        Form.Command.TimeStamp = [] { return std::string("STAMP"); };
        Form.show();
    }

    // ship_0.obj and ship_1.obj beside ship.mtl; no ship.fns.
    void WriteShip()
    {
        WriteCube(Dir, "ship");
        WriteText(Dir.File("ship_1.obj"), CubeOBJ(0.25f));
    }

    // The log below the banner.
    QStringList Log() const
    {
        return Form.StsMemo->toPlainText().split(QLatin1Char('\n')).mid(BannerLineCount);
    }

    std::size_t FramesIn(const std::string& FileName)
    {
        TMDLModel model;
        model.LoadFromFile(FileName);
        return model.Frames.size();
    }

    TScratchDir Dir;
    TScriptedForm Form;
};

const QStringList ShipLog = {
    "STAMP:Loading ship_0.obj..",
    "MTL Loaded.",
    "STAMP:Unifying textures into ship.bmp..",
    "STAMP:Done.",
    "STAMP:Making MDL Frame_0..",
    "Using default frame name.",
    "MDL status:8Verts,12Faces,14UV Verts",
    "STAMP:Loading Frame_1..",
    "STAMP:Adding to MDL Frame_1..",
    "STAMP:Done.",
    "STAMP:Writing MDL..",
    "STAMP:All Done.",
};

} // namespace

TEST_F(MainFormTest, StartsWithBannerEmptyPanelAndCentredWindow)
{
    EXPECT_EQ(Form.windowTitle(), "Tarvex Ver0.9");
    const QString rule(92, QLatin1Char('-'));
    const QStringList banner = {
        rule,
        "Tarvex",
        "Written by the Tarvex developers.",
        "Please read Readme.txt.",
        "Free to use; no warranty of any kind.",
        rule,
        "PLEASE NOTE THAT:",
        "This software supports subset feature of the OBJ format.",
        "Backup your original models before using this software.",
        rule,
        "CAUTION:",
        "When using someone's mesh model,",
        "you must check and follow legal stuff(like EULA)",
        "of the original mesh model in advance.",
        rule,
    };
    EXPECT_EQ(Form.StsMemo->toPlainText().split(QLatin1Char('\n')), banner);
    EXPECT_TRUE(Form.StatusText->text().isEmpty());

    // The icon file is compiled in: a broken one gives no picture.
    EXPECT_EQ(Form.windowIcon().pixmap(32, 32).size(), QSize(32, 32));

    // Under a window manager (scripts/window-check.sh) the frame comes after
    // the window is shown, and the window is placed again for it.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    static_cast<void>(
        QTest::qWaitFor([&] { return Form.frameGeometry().size() == QSize(537, 366); }, 3000));
    EXPECT_EQ(Form.frameGeometry().size(), QSize(537, 366));
    const QPoint offset
        = Form.frameGeometry().center() - Form.screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
}

TEST(MainFormFrame, OuterSizeAndCentreHoldForTheFrameKnownAfterShowing)
{
    TScriptedForm form;
    form.Frame = QMargins();
    form.show();
    EXPECT_EQ(form.geometry().size(), QSize(537, 366));

    // The frame a window manager adds: 4 pixels around, a caption of 23.
    const QMargins frame(4, 23, 4, 4);
    form.Frame = frame;
    form.Expose();
    const QRect outer = form.geometry().marginsAdded(frame);
    EXPECT_EQ(outer.size(), QSize(537, 366));
    const QPoint offset = outer.center() - form.screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);

    // Once framed, the window is the user's to move and size.
    form.move(form.pos() + QPoint(30, 40));
    const QRect moved = form.geometry();
    form.Frame = QMargins(1, 1, 1, 1);
    form.Expose();
    EXPECT_EQ(form.geometry(), moved);
}

TEST_F(MainFormTest, DialogsStartBesideTheProgramWhenTheUserMayWriteThere)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    EXPECT_EQ(Form.OpenDialog->directory().absolutePath(), programDir);
    EXPECT_EQ(Form.SaveDialog->directory().absolutePath(), programDir);
    EXPECT_EQ(Form.OpenDialog->nameFilters(), QStringList { "OBJ (*.obj)" });
    EXPECT_EQ(Form.SaveDialog->nameFilters(), QStringList { "3DGS MDL5 (*.mdl)" });
    EXPECT_EQ(Form.OpenDialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(Form.SaveDialog->testOption(QFileDialog::DontConfirmOverwrite));

    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), "" };
    Form.OptionOBJLoad->trigger();
    ASSERT_EQ(Form.StartFolders.size(), 2u);
    EXPECT_EQ(Form.StartFolders[1], programDir);
}

TEST_F(MainFormTest, DialogsStartAtHomeThenBesideTheLastOBJFileWhenTheProgramsFolderIsClosed)
{
    Form.SetProgramFolder(QString::fromStdString(Dir.File("no-such-folder")));
    EXPECT_EQ(Form.OpenDialog->directory().absolutePath(), QDir::homePath());
    EXPECT_EQ(Form.SaveDialog->directory().absolutePath(), QDir::homePath());

    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), "" };
    Form.OptionOBJLoad->trigger();
    const QString objFolder = QDir(QString::fromStdString(Dir.Path().string())).absolutePath();
    ASSERT_EQ(Form.StartFolders.size(), 2u);
    EXPECT_EQ(Form.StartFolders[1], objFolder);
    EXPECT_EQ(Form.OpenDialog->directory().absolutePath(), objFolder);
}

TEST_F(MainFormTest, MenuCommandAsksForAnOBJFileAndCancellingLogsNothing)
{
    ASSERT_EQ(Form.MainMenu->actions().size(), 1);
    // The captions as shown; the keys are mnemonics, not shortcuts.
    EXPECT_EQ(Form.MainMenu->actions()[0]->iconText(), "File");
    ASSERT_EQ(Form.OBJ1->actions().size(), 1);
    EXPECT_EQ(Form.OBJ1->actions()[0], Form.OptionOBJLoad);
    EXPECT_EQ(Form.OptionOBJLoad->iconText(), "Load OBJ and Convert to MDL");
    EXPECT_TRUE(Form.OptionOBJLoad->shortcut().isEmpty());
    EXPECT_EQ(
        QKeySequence::mnemonic(Form.OptionOBJLoad->text()), QKeySequence(Qt::ALT | Qt::Key_L));

    Form.Answers = { "" };
    Form.OptionOBJLoad->trigger();
    EXPECT_EQ(Form.Asked, std::vector { QFileDialog::AcceptOpen });
    EXPECT_TRUE(Log().isEmpty());
}

TEST_F(MainFormTest, AltFOpensTheFileMenu)
{
    Form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    EXPECT_FALSE(Form.OBJ1->isVisible());
    QTest::keyClick(&Form, Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(Form.OBJ1->isVisible());
    Form.OBJ1->close();
}

TEST_F(MainFormTest, TheCompletionPopUpOfADialogClosesWithIt)
{
    QWidget* popup = nullptr;
    Form.OnDialog = [&] {
        auto* completer = Form.Shown->findChild<QCompleter*>();
        ASSERT_NE(completer, nullptr);
        popup = completer->popup();
        popup->show();
    };
    Form.Answers = { "" };
    Form.OptionOBJLoad->trigger();
    ASSERT_NE(popup, nullptr);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(MainFormTest, AppendedLinesFollowTheBannerAndStayInView)
{
    for (int i = 0; i < 40; ++i)
        Form.AddLine("line " + std::to_string(i));
    // The user scrolled back; the next line still brings the end into view.
    QScrollBar* bar = Form.StsMemo->verticalScrollBar();
    bar->setValue(0);
    Form.AddLine("last");
    const QStringList log = Log();
    ASSERT_EQ(log.size(), 41);
    EXPECT_EQ(log.front(), "line 0");
    EXPECT_EQ(log.back(), "last");
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(MainFormTest, ConvertsAModelWithItsFrames)
{
    WriteShip();
    // Typed without its extension: the save dialog adds ".mdl".
    Form.Answers = { Dir.File("ship_0.obj"), Dir.File("ship") };
    Form.Command.OBJModel.Progress.SetState(0);
    Form.OptionOBJLoad->trigger();

    EXPECT_EQ(Log(), ShipLog);
    EXPECT_EQ(Form.Asked, (std::vector { QFileDialog::AcceptOpen, QFileDialog::AcceptSave }));
    EXPECT_TRUE(Form.StatusText->text().startsWith("Loading OBJ.. "));
    EXPECT_TRUE(Form.Boxes.empty());
    EXPECT_EQ(FramesIn(Dir.File("ship.mdl")), 2u);
}

TEST_F(MainFormTest, CancellingTheSaveDialogWritesNoFile)
{
    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), "" };
    Form.OptionOBJLoad->trigger();

    EXPECT_EQ(Log().back(), "STAMP:Done.");
    EXPECT_EQ(Log().size(), 10);
    for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
        EXPECT_NE(entry.path().extension(), ".mdl") << entry.path();
}

TEST_F(MainFormTest, SecondRunLogsBelowTheFirstAndWritesOnlyItsOwnFrames)
{
    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), Dir.File("first.mdl"), Dir.File("ship_1.obj"),
        Dir.File("second.mdl") };
    Form.OptionOBJLoad->trigger();
    Form.OptionOBJLoad->trigger();

    const QStringList log = Log();
    ASSERT_EQ(log.size(), ShipLog.size() + 10);
    EXPECT_EQ(log.mid(0, ShipLog.size()), ShipLog);
    EXPECT_EQ(log[ShipLog.size()], "STAMP:Loading ship_1.obj..");
    EXPECT_EQ(log.back(), "STAMP:All Done.");
    EXPECT_EQ(FramesIn(Dir.File("first.mdl")), 2u);
    // ship_1 starts no frame series.
    EXPECT_EQ(FramesIn(Dir.File("second.mdl")), 1u);
}

TEST_F(MainFormTest, FailureShowsTheErrorBoxAndTheWindowGoesOn)
{
    Form.Answers = { Dir.File("missing_0.obj") };
    Form.OptionOBJLoad->trigger();

    ASSERT_EQ(Form.Boxes.size(), 1u);
    const TBoxSeen& box = Form.Boxes.front();
    EXPECT_EQ(box.Icon, QMessageBox::Critical);
    EXPECT_EQ(box.Title, "Tarvex");
    // The file goes on a second line.
    EXPECT_EQ(box.Text,
        QString::fromUtf8("File not found.\n") + QString::fromStdString(Dir.File("missing_0.obj")));
    EXPECT_EQ(box.Buttons, QMessageBox::Ok);
    EXPECT_EQ(box.ButtonCount, 1);
    // The run is over when its failure is shown, and so is its busy state.
    EXPECT_FALSE(box.BusyCursor);
    EXPECT_FALSE(BusyCursorShown());
    EXPECT_TRUE(Form.OptionOBJLoad->isEnabled());
    // Nothing is logged for the failure itself.
    EXPECT_EQ(Log(), QStringList { "STAMP:Loading missing_0.obj.." });

    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), Dir.File("ship.mdl") };
    Form.OptionOBJLoad->trigger();
    EXPECT_EQ(Log().back(), "STAMP:All Done.");
    EXPECT_EQ(Form.Boxes.size(), 1u);
}

TEST_F(MainFormTest, RefusesASecondRunAndClosingWhileConverting)
{
    WriteShip();
    Form.Answers = { Dir.File("ship_0.obj"), Dir.File("ship.mdl") };
    // Posted from the open dialog, so it runs in the OBJ reader's first
    // event pump, in the middle of the conversion.
    bool pumped = false;
    bool busyThen = false;
    bool cursorThen = false;
    bool enabledThen = true;
    bool closed = true;
    Form.OnDialog = [&] {
        if (Form.Asked.size() != 1)
            return;
        QTimer::singleShot(0, &Form, [&] {
            pumped = true;
            busyThen = Form.Command.Busy();
            cursorThen = BusyCursorShown();
            enabledThen = Form.OptionOBJLoad->isEnabled();
            Form.OptionOBJLoad->trigger();
            closed = Form.close();
        });
    };
    Form.Command.OBJModel.Progress.SetState(0);
    Form.OptionOBJLoad->trigger();

    ASSERT_TRUE(pumped);
    EXPECT_TRUE(busyThen);
    EXPECT_TRUE(cursorThen);
    EXPECT_FALSE(enabledThen);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Form.isVisible());
    // One open dialog: the second run never started.
    EXPECT_EQ(Form.Asked, (std::vector { QFileDialog::AcceptOpen, QFileDialog::AcceptSave }));
    EXPECT_EQ(Log(), ShipLog);

    EXPECT_FALSE(BusyCursorShown());
    EXPECT_TRUE(Form.OptionOBJLoad->isEnabled());
    // Once the run is over the window closes as usual.
    EXPECT_TRUE(Form.close());
}

TEST(MainFormJapanese, ShowsTheJapaneseMessagesAndKeepsEveryOtherText)
{
    TLanguage language(JapaneseLocale);
    ASSERT_TRUE(language.Available()) << MissingJapaneseLocale();
    TScratchDir dir;
    WriteCube(dir, "ship");
    WriteText(dir.File("ship_1.obj"), CubeOBJ(0.25f));
    TScriptedForm form;
    form.Command.TimeStamp = [] { return std::string("STAMP"); };
    form.show();
    EXPECT_EQ(form.windowTitle(), "Tarvex Ver0.9");
    EXPECT_EQ(form.MainMenu->actions()[0]->iconText(), "File");
    EXPECT_EQ(form.OptionOBJLoad->iconText(), "Load OBJ and Convert to MDL");

    form.Answers = { dir.File("missing_0.obj"), dir.File("ship_0.obj"), dir.File("ship.mdl") };
    form.OptionOBJLoad->trigger();
    form.OptionOBJLoad->trigger();
    ASSERT_EQ(form.Boxes.size(), 1u);
    EXPECT_EQ(form.Boxes[0].Title, "Tarvex");
    EXPECT_EQ(form.Boxes[0].Text,
        QString::fromUtf8("ファイルが見つかりません.\n")
            + QString::fromStdString(dir.File("missing_0.obj")));
    // The log lines are the program's own in every language.
    const QStringList log = form.StsMemo->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(log.mid(BannerLineCount), QStringList { "STAMP:Loading missing_0.obj.." } + ShipLog);
}

int main(int argc, char** argv)
{
    // The tests are written for windows without a frame and need no display;
    // the build lists them with no platform chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // As the program does: QApplication took the user's locale, and the
    // numbers written into the test files must keep their ".".
    std::setlocale(LC_NUMERIC, "C");
    // English, whatever the user's language; one test switches to Japanese.
    std::setlocale(LC_MESSAGES, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
