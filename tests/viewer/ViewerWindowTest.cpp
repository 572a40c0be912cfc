// The viewer, driven offscreen: a two-frame model converted from the test
// cube, pictures waited for with a bound, the error box recorded.
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/AppTestUtil.h"
#include "app/ModelInfo.h"
#include "mdl/MDLClass.h"
#include "viewer/ViewerWindow.h"

// Readable failure messages for Qt's strings.
void PrintTo(const QString& Text, std::ostream* Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// Long enough for a loaded machine; a pass takes milliseconds.
constexpr int WaitMs = 10000;

class TScriptedViewer : public TViewerWindow
{
public:
    QStringList Boxes;

protected:
    void ExecMessageBox(QMessageBox& Box) override { Boxes.push_back(Box.text()); }
};

class ViewerWindowTest : public ::testing::Test
{
protected:
    ViewerWindowTest()
    {
        QSettings().clear();
        WriteCube(Dir, "ship");
        WriteText(Dir.File("ship_1.obj"), CubeOBJ(0.25f));
        TScriptedHost host;
        host.OBJFile = Dir.File("ship_0.obj");
        host.MDLFile = Ship;
        TConversionCommand(host).Execute();
        EXPECT_TRUE(host.Errors.empty());
        Viewer.resize(640, 480);
        Viewer.show();
    }

    QString Name(const std::string& File) const { return QString::fromStdString(File); }

    // Waits until the picture for the latest request is shown.
    bool PictureCaughtUp()
    {
        return QTest::qWaitFor(
            [&] { return Viewer.PictureSerial() == Viewer.LastSerial(); }, WaitMs);
    }

    TScratchDir Dir;
    const std::string Ship = Dir.File("ship.mdl");
    TScriptedViewer Viewer;
};

TEST_F(ViewerWindowTest, OpensAModelWithItsPictureFrameAndDescription)
{
    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    ASSERT_TRUE(PictureCaughtUp());
    EXPECT_EQ(Viewer.Picture().size(), Viewer.ModelView->size());
    EXPECT_EQ(Viewer.windowTitle(), "ship.mdl - Tarvex Viewer");
    EXPECT_EQ(Viewer.FrameSlider->maximum(), 1);
    EXPECT_TRUE(Viewer.FrameSlider->isEnabled());
    EXPECT_EQ(Viewer.FrameText->text(), "Frame 1 of 2: frame0");

    // What info prints from the file's layout alone, though the viewer
    // holds every vertex and pixel.
    TMDLModel layout;
    layout.LoadLayoutFromFile(Ship);
    std::ostringstream info;
    DescribeMDL(layout, Ship, ReadAllBytes(Ship).size(), info);
    EXPECT_EQ(Viewer.InfoText->toPlainText().toStdString(), info.str());

    EXPECT_EQ(Viewer.RecentFiles(), QStringList { Name(Ship) });
    EXPECT_EQ(Viewer.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
}

TEST_F(ViewerWindowTest, StepsAndPlaysTheFramesRoundAndRound)
{
    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    Viewer.FrameSlider->setValue(1);
    EXPECT_EQ(Viewer.FrameText->text(), "Frame 2 of 2: frame1");
    Viewer.NextFrame();
    EXPECT_EQ(Viewer.Frame(), 0u);
    EXPECT_EQ(Viewer.FrameText->text(), "Frame 1 of 2: frame0");

    // Playing goes on past the last frame to the first.
    Viewer.PlayAction->trigger();
    EXPECT_EQ(Viewer.PlayTimer->interval(), 100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Viewer.Frame() == 1; }, WaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Viewer.Frame() == 0; }, WaitMs));
    Viewer.PlayAction->trigger();
    EXPECT_FALSE(Viewer.PlayTimer->isActive());
    ASSERT_TRUE(PictureCaughtUp());
}

TEST_F(ViewerWindowTest, DraggingTurnsAndTheWheelZoomsWithinBounds)
{
    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    const TRenderView start = Viewer.View();
    QWidget* view = Viewer.ModelView;
    const auto send = [view](QEvent::Type Type, QPoint At, Qt::MouseButtons Buttons) {
        QMouseEvent event(Type, At, view->mapToGlobal(At), Qt::LeftButton, Buttons, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(120, 90), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(Viewer.View().Yaw, start.Yaw - 20 * TViewerWindow::DegreesPerPixel);
    EXPECT_DOUBLE_EQ(Viewer.View().Pitch, start.Pitch - 10 * TViewerWindow::DegreesPerPixel);
    // Far down: the camera stops short of straight above.
    send(QEvent::MouseMove, QPoint(120, 2000), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(Viewer.View().Pitch, TViewerWindow::MaxPitch);
    // Moving with no button pressed turns nothing.
    send(QEvent::MouseMove, QPoint(0, 0), Qt::NoButton);
    EXPECT_DOUBLE_EQ(Viewer.View().Pitch, TViewerWindow::MaxPitch);

    const auto wheel = [view](int Angle) {
        QWheelEvent event(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(),
            QPoint(0, Angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &event);
    };
    wheel(120);
    EXPECT_DOUBLE_EQ(Viewer.View().Zoom, 1.25);
    for (int i = 0; i < 40; ++i)
        wheel(-120);
    EXPECT_DOUBLE_EQ(Viewer.View().Zoom, TViewerWindow::MinZoom);
    ASSERT_TRUE(PictureCaughtUp());
}

TEST_F(ViewerWindowTest, ShowsTheSkinWithItsTrianglesDrawnOver)
{
    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    ASSERT_TRUE(Viewer.SkinAction->isEnabled());
    Viewer.SkinAction->trigger();
    ASSERT_TRUE(Viewer.ShowingSkin());
    const QImage skin = Viewer.Skin();
    TMDLModel model;
    model.LoadFromFile(Ship);
    ASSERT_EQ(skin.size(), QSize(model.FileSkins()[0]->Width, model.FileSkins()[0]->Height));

    const QImage shown = Viewer.ModelView->grab().toImage();
    const QTransform toView = Viewer.SkinTransform();
    const TMDLTriangle& triangle = model.Triangles->Items[0];
    QPointF corners[3];
    for (int k = 0; k < 3; ++k) {
        const TMDLSkinVert& vert = model.SkinVerts->Items[triangle.UVIndex[k]];
        corners[k] = QPointF(vert.U + 0.5, vert.V + 0.5);
    }
    // Inside the triangle the skin shows; on its edge a line over it.
    const QPointF middle = (corners[0] + corners[1] + corners[2]) / 3;
    EXPECT_EQ(shown.pixel(toView.map(middle).toPoint()), skin.pixel(middle.toPoint()));
    const QPointF edge = (corners[0] + corners[1]) / 2;
    EXPECT_NE(shown.pixel(toView.map(edge).toPoint()), skin.pixel(edge.toPoint()));

    Viewer.SkinAction->trigger();
    EXPECT_FALSE(Viewer.ShowingSkin());
}

struct TBrokenFile
{
    const char* Name;
    std::vector<std::uint8_t> Bytes; // none: the file is missing
    const char* Reason;
};

TEST_F(ViewerWindowTest, RefusesABrokenFileByNameAndKeepsTheModelShown)
{
    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    const std::vector<std::uint8_t> ship = ReadAllBytes(Ship);
    const TBrokenFile cases[] = {
        { "missing.mdl", {}, "File not found." },
        { "text.mdl", { 'v', ' ', '1', '\n' }, "Not an MDL5 file" },
        { "cut.mdl", std::vector<std::uint8_t>(ship.begin(), ship.begin() + 100),
            "The MDL5 file is truncated" },
    };
    const auto shown = Viewer.Model();
    const QString info = Viewer.InfoText->toPlainText();
    for (const TBrokenFile& broken : cases) {
        const std::string file = Dir.File(broken.Name);
        if (!broken.Bytes.empty())
            WriteAllBytes(file, broken.Bytes);
        Viewer.Boxes.clear();
        EXPECT_FALSE(Viewer.OpenFile(Name(file))) << broken.Name;
        ASSERT_EQ(Viewer.Boxes.size(), 1) << broken.Name;
        EXPECT_TRUE(Viewer.Boxes[0].startsWith(broken.Reason)) << Viewer.Boxes[0].toStdString();
        EXPECT_TRUE(Viewer.Boxes[0].contains(Name(file))) << Viewer.Boxes[0].toStdString();
        EXPECT_EQ(Viewer.Model(), shown);
        EXPECT_EQ(Viewer.InfoText->toPlainText(), info);
    }
    EXPECT_EQ(Viewer.RecentFiles(), QStringList { Name(Ship) });
}

TEST_F(ViewerWindowTest, OpensAFileDroppedOnItOrChosenFromTheRecentOnes)
{
    std::filesystem::copy_file(Ship, Dir.File("other.mdl"));
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(Name(Dir.File("other.mdl"))) });
    // As the platform delivers a drop: the window must have taken the drag
    // as it entered.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Viewer, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Viewer, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Viewer.Model() != nullptr; }, WaitMs));
    EXPECT_EQ(Viewer.Model()->FileName, Dir.File("other.mdl"));

    ASSERT_TRUE(Viewer.OpenFile(Name(Ship)));
    EXPECT_EQ(Viewer.RecentFiles(), (QStringList { Name(Ship), Name(Dir.File("other.mdl")) }));
    const QList<QAction*> entries = Viewer.RecentMenu->actions();
    ASSERT_EQ(entries.size(), 2);
    entries[1]->trigger();
    EXPECT_EQ(Viewer.Model()->FileName, Dir.File("other.mdl"));
    EXPECT_EQ(Viewer.RecentFiles().front(), Name(Dir.File("other.mdl")));
}

TEST(RenderWorker, DrawsTheLatestRequestForAModelNoOneElseHolds)
{
    TScratchDir dir;
    WriteCube(dir, "cube");
    TScriptedHost host;
    host.OBJFile = dir.File("cube_0.obj");
    host.MDLFile = dir.File("cube.mdl");
    TConversionCommand(host).Execute();

    std::mutex lock;
    std::vector<TRenderResult> results;
    std::condition_variable done;
    {
        TRenderWorker worker([&](TRenderResult Result) {
            std::lock_guard<std::mutex> guard(lock);
            results.push_back(std::move(Result));
            done.notify_one();
        });
        std::weak_ptr<const TViewedModel> held;
        for (std::uint64_t serial = 1; serial <= 20; ++serial) {
            TRenderRequest request;
            request.Model = TViewedModel::Load(host.MDLFile);
            held = request.Model;
            request.Width = 64;
            request.Height = 48;
            request.Serial = serial;
            worker.Request(std::move(request));
        }
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(done.wait_for(guard, std::chrono::milliseconds(WaitMs),
            [&] { return !results.empty() && results.back().Request.Serial == 20; }));
        EXPECT_FALSE(held.expired());
    }
    // Each picture answers a later request than the one before.
    for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_GT(results[i].Request.Serial, results[i - 1].Request.Serial);
    EXPECT_EQ(results.back().Picture.size(), QSize(64, 48));
    EXPECT_EQ(results.back().Picture.format(), QImage::Format_BGR888);
}

TEST(PictureOf, TakesTheBitmapsRowsWithoutTheirPadding)
{
    TBitmap image;
    image.SetBitsPerPixel(24);
    image.SetWidth(3);
    image.SetHeight(2);
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 3; ++x) {
            std::uint8_t* pixel = image.RowData(y) + 3 * x;
            pixel[0] = std::uint8_t(10 * x); // blue
            pixel[1] = std::uint8_t(100 + y); // green
            pixel[2] = 200; // red
        }
    }
    const QImage picture = PictureOf(image);
    ASSERT_EQ(picture.size(), QSize(3, 2));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(picture.pixelColor(x, y), QColor(200, 100 + y, 10 * x)) << x << "," << y;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The recent files of the tests, never the user's, nor those of another
    // test process running at the same time.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-view"));
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_MESSAGES, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
