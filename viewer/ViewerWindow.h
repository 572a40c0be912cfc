// The model viewer's window: the rendered model in the middle, turned by
// dragging and zoomed by the wheel; the frame slider and its play button
// under it; the model's description beside it; the frame and the time of
// the last picture in the status bar. Pictures are drawn by a worker
// thread (RenderWorker.h); the window never waits for one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QLineF>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTransform>

#include "render/Renderer.h"
#include "viewer/RenderWorker.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QFileDialog;
class QLabel;
class QMenu;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;
class QWheelEvent;
class QMessageBox;
class QPlainTextEdit;
class QSlider;
class QTimer;
class QToolButton;
class TViewerWindow;

// The viewer's title: the window's name without a model and the title of
// the error box.
extern const char* const ViewerTitle;

// The picture area: the latest picture (or the skin), scaled to fit while
// a new one is drawn; a drag turns the model, the wheel zooms.
class TModelView : public QWidget
{
public:
    explicit TModelView(TViewerWindow& Window);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;

private:
    TViewerWindow& FWindow;
    QPoint FLastDrag;
};

class TViewerWindow : public QMainWindow
{
    Q_OBJECT

public:
    // How far the view turns for a pixel dragged, the pitch's bounds (the
    // camera never passes over the top), and the zoom's.
    static constexpr double DegreesPerPixel = 0.5;
    static constexpr double MaxPitch = 89;
    static constexpr double MinZoom = 0.125;
    static constexpr double MaxZoom = 16;
    // Frames a second while playing.
    static constexpr int FramesPerSecond = 10;
    // Entries of File > Open Recent.
    static constexpr int RecentCount = 8;

    explicit TViewerWindow(QWidget* Parent = nullptr);
    ~TViewerWindow() override;

    // The components, owned by the window through Qt's parent links.
    TModelView* ModelView = nullptr;
    QSlider* FrameSlider = nullptr;
    QToolButton* PlayButton = nullptr;
    QPlainTextEdit* InfoText = nullptr;
    QLabel* FrameText = nullptr;
    QLabel* TimeText = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* RecentMenu = nullptr;
    QAction* OpenAction = nullptr;
    QAction* PlayAction = nullptr;
    QAction* SkinAction = nullptr;
    QAction* ResetViewAction = nullptr;
    QTimer* PlayTimer = nullptr;

    // Shows the model in FileName. A file that cannot be read is named in
    // the error box with what is wrong, and the model shown stays.
    bool OpenFile(const QString& FileName);

    // What the view shows: the current model (null before the first) and
    // how it is looked at.
    std::shared_ptr<const TViewedModel> Model() const { return FModel; }
    const TRenderView& View() const { return FView; }
    void SetView(const TRenderView& View);
    std::size_t Frame() const;
    void SetFrame(std::size_t Frame);
    // Rotates as a drag of Delta pixels does.
    void Turn(QPoint Delta);
    // Zooms as the wheel does when turned by Angle eighths of a degree
    // (120 a notch).
    void ZoomBy(int Angle);

    // The last picture the worker drew for the current model, and the
    // request it answers.
    const QImage& Picture() const { return FPicture; }
    std::uint64_t PictureSerial() const { return FPictureSerial; }
    std::uint64_t LastSerial() const { return FSerial; }
    // The first skin, which the view shows scaled by SkinTransform with
    // the triangles over it; null when the model has no skin that can be
    // shown.
    const QImage& Skin() const { return FSkin; }
    QTransform SkinTransform() const;
    bool ShowingSkin() const;
    // The recent files, newest first.
    QStringList RecentFiles() const;

public slots:
    void OpenClick();
    void PlayToggled(bool Playing);
    void NextFrame();

protected:
    // Every dialog and box is shown through these two, so that tests can
    // stand in for the user.
    virtual bool ExecOpenDialog(QFileDialog& Dialog);
    virtual void ExecMessageBox(QMessageBox& Box);

    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    friend class TModelView;

    void CreateComponents();
    void ShowError(const QString& Text, const QString& Place);
    void AddRecentFile(const QString& FileName);
    void UpdateRecentMenu();
    void ShowModel(std::shared_ptr<const TViewedModel> Model);
    void UpdateFrameText();
    // Asks the worker for the picture the view needs now.
    void RequestPicture();
    void PictureDone(TRenderResult Result);

    std::shared_ptr<const TViewedModel> FModel;
    TRenderView FView;
    QImage FPicture;
    QImage FSkin;
    // The skin's triangles, in skin pixels.
    std::vector<QLineF> FSkinLines;
    std::uint64_t FSerial = 0;
    std::uint64_t FPictureSerial = 0;
    // Last, so that it stops before anything its pictures reach.
    std::unique_ptr<TRenderWorker> FWorker;
};
