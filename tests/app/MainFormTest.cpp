// The window, driven offscreen: the dialogs and the error box are answered
// by a script instead of a user.
#include <clocale>
#include <deque>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

#include "AppTestUtil.h"
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
};

class TScriptedForm : public TMainForm
{
public:
    // The files the dialogs give, in turn; an empty one cancels.
    std::deque<std::string> Answers;
    // The dialogs shown, in turn.
    std::vector<QFileDialog::AcceptMode> Asked;
    // Run as each dialog is shown.
    std::function<void()> OnDialog;
    std::vector<TBoxSeen> Boxes;

protected:
    bool ExecDialog(QFileDialog& Dialog) override
    {
        Asked.push_back(Dialog.acceptMode());
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
            Box.buttons().size() });
    }
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

    EXPECT_EQ(Form.frameGeometry().size(), QSize(537, 366));
    const QPoint offset
        = Form.frameGeometry().center() - Form.screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
}

TEST_F(MainFormTest, DialogsStartBesideTheProgram)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    EXPECT_EQ(Form.OpenDialog->directory().absolutePath(), programDir);
    EXPECT_EQ(Form.SaveDialog->directory().absolutePath(), programDir);
    EXPECT_EQ(Form.OpenDialog->nameFilters(), QStringList { "OBJ (*.obj)" });
    EXPECT_EQ(Form.SaveDialog->nameFilters(), QStringList { "3DGS MDL5 (*.mdl)" });
    EXPECT_EQ(Form.OpenDialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(Form.SaveDialog->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(MainFormTest, MenuCommandAsksForAnOBJFileAndCancellingLogsNothing)
{
    ASSERT_EQ(Form.MainMenu->actions().size(), 1);
    EXPECT_EQ(Form.MainMenu->actions()[0]->text(), "File");
    ASSERT_EQ(Form.OBJ1->actions().size(), 1);
    EXPECT_EQ(Form.OBJ1->actions()[0], Form.OptionOBJLoad);
    EXPECT_EQ(Form.OptionOBJLoad->text(), "Load OBJ and Convert to MDL");
    EXPECT_TRUE(Form.OptionOBJLoad->shortcut().isEmpty());

    Form.Answers = { "" };
    Form.OptionOBJLoad->trigger();
    EXPECT_EQ(Form.Asked, std::vector { QFileDialog::AcceptOpen });
    EXPECT_TRUE(Log().isEmpty());
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
    bool closed = true;
    Form.OnDialog = [&] {
        if (Form.Asked.size() != 1)
            return;
        QTimer::singleShot(0, &Form, [&] {
            pumped = true;
            busyThen = Form.Command.Busy();
            Form.OptionOBJLoad->trigger();
            closed = Form.close();
        });
    };
    Form.Command.OBJModel.Progress.SetState(0);
    Form.OptionOBJLoad->trigger();

    ASSERT_TRUE(pumped);
    EXPECT_TRUE(busyThen);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Form.isVisible());
    // One open dialog: the second run never started.
    EXPECT_EQ(Form.Asked, (std::vector { QFileDialog::AcceptOpen, QFileDialog::AcceptSave }));
    EXPECT_EQ(Log(), ShipLog);

    // Once the run is over the window closes as usual.
    EXPECT_TRUE(Form.close());
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
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
