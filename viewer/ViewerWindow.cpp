#include "viewer/ViewerWindow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <sstream>

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCursor>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include "app/ConversionCommand.h"
#include "app/ModelInfo.h"
#include "app/tarvex.xpm"
#include "util/Printable.h"
#include "util/Translate.h"

const char* const ViewerTitle = "Tarvex Viewer";

namespace {

const char* const RecentFilesKey = "RecentFiles";
const char* const ModelFilter = "3DGS MDL5 (*.mdl)";
constexpr int InitialWidth = 900;
constexpr int InitialHeight = 600;
constexpr int ViewHintSide = 480;
constexpr int InfoWidth = 360;
// A notch of the wheel zooms by this factor.
constexpr double ZoomPerNotch = 1.25;
constexpr int WheelNotch = 120;
// The triangles over the skin: a colour seldom found on a texture.
const QColor SkinLineColour(255, 0, 255);

QString Shown(const char* Text)
{
    return QString::fromUtf8(Text);
}

QColor ColourOf(TColor Colour)
{
    return QColor(Colour & 0xFF, (Colour >> 8) & 0xFF, (Colour >> 16) & 0xFF);
}

// The first skin, opaque: a skin's alpha says where the engine cuts holes,
// which would hide the pixels the user wants to see.
QImage SkinImage(const TMDLModel& Model)
{
    const std::vector<const TMDLSkin5*> skins = Model.FileSkins();
    if (skins.empty() || !skins[0]->Decodable())
        return QImage();
    const TMDLSkin5& skin = *skins[0];
    const std::vector<std::uint32_t> colours = skin.DecodeColours();
    QImage image(skin.Width, skin.Height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (std::int32_t y = 0; y < skin.Height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        const std::uint32_t* from = colours.data() + std::size_t(y) * skin.Width;
        for (std::int32_t x = 0; x < skin.Width; ++x)
            row[x] = from[x] | 0xFF000000u;
    }
    return image;
}

// Each triangle's edges through the middles of its skin vertices' pixels;
// a triangle naming a skin vertex that does not exist is left out.
std::vector<QLineF> SkinLines(const TMDLModel& Model, const QSize& Size)
{
    std::vector<QLineF> lines;
    if (!Model.Triangles || !Model.SkinVerts)
        return lines;
    const std::vector<TMDLSkinVert>& verts = Model.SkinVerts->Items;
    lines.reserve(Model.Triangles->Items.size() * 3);
    for (const TMDLTriangle& triangle : Model.Triangles->Items) {
        QPointF corners[3];
        bool inside = true;
        for (int k = 0; k < 3 && inside; ++k) {
            const std::int32_t index = triangle.UVIndex[k];
            inside = index >= 0 && std::size_t(index) < verts.size();
            if (inside)
                corners[k] = QPointF(SkinPixel(verts[index].U, Size.width()) + 0.5,
                    SkinPixel(verts[index].V, Size.height()) + 0.5);
        }
        if (!inside)
            continue;
        for (int k = 0; k < 3; ++k)
            lines.emplace_back(corners[k], corners[(k + 1) % 3]);
    }
    return lines;
}

class TBusyCursor
{
public:
    TBusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

} // namespace

TModelView::TModelView(TViewerWindow& Window)
    : QWidget(&Window)
    , FWindow(Window)
{
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
}

QSize TModelView::sizeHint() const
{
    return QSize(ViewHintSide, ViewHintSide);
}

void TModelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), ColourOf(RenderBackground));
    if (FWindow.ShowingSkin()) {
        painter.setTransform(FWindow.SkinTransform());
        painter.drawImage(QPointF(0, 0), FWindow.FSkin);
        QPen pen(SkinLineColour);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.drawLines(FWindow.FSkinLines.data(), int(FWindow.FSkinLines.size()));
        return;
    }
    const QImage& picture = FWindow.FPicture;
    if (picture.isNull())
        return;
    // A picture drawn for another size (the view was resized since) is
    // stretched over the view until the new one arrives.
    const QSizeF shown = QSizeF(picture.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(
        QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
}

void TModelView::resizeEvent(QResizeEvent* Event)
{
    QWidget::resizeEvent(Event);
    FWindow.RequestPicture();
}

void TModelView::mousePressEvent(QMouseEvent* Event)
{
    FLastDrag = Event->position().toPoint();
}

void TModelView::mouseMoveEvent(QMouseEvent* Event)
{
    if (!(Event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = Event->position().toPoint();
    FWindow.Turn(at - FLastDrag);
    FLastDrag = at;
}

void TModelView::wheelEvent(QWheelEvent* Event)
{
    FWindow.ZoomBy(Event->angleDelta().y());
    Event->accept();
}

TViewerWindow::TViewerWindow(QWidget* Parent)
    : QMainWindow(Parent)
{
    CreateComponents();
    // The worker calls back on its own thread; the picture is handed to the
    // window's thread, and dropped with the window if it is closed first.
    FWorker = std::make_unique<TRenderWorker>([this](TRenderResult Result) {
        QMetaObject::invokeMethod(
            this, [this, Result]() { PictureDone(Result); }, Qt::QueuedConnection);
    });
}

TViewerWindow::~TViewerWindow() = default;

void TViewerWindow::CreateComponents()
{
    setWindowTitle(QString::fromUtf8(ViewerTitle));
    setWindowIcon(QIcon(QPixmap(tarvex_xpm)));
    setAcceptDrops(true);
    resize(InitialWidth, InitialHeight);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    ModelView = new TModelView(*this);
    column->addWidget(ModelView, 1);
    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(4, 2, 4, 2);
    PlayButton = new QToolButton(central);
    FrameSlider = new QSlider(Qt::Horizontal, central);
    FrameSlider->setRange(0, 0);
    FrameSlider->setEnabled(false);
    controls->addWidget(PlayButton);
    controls->addWidget(FrameSlider, 1);
    column->addLayout(controls);
    setCentralWidget(central);
    connect(FrameSlider, &QSlider::valueChanged, this, [this] {
        UpdateFrameText();
        RequestPicture();
    });

    auto* dock = new QDockWidget(Shown(Tr("Model")), this);
    dock->setObjectName(QStringLiteral("ModelDock"));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    InfoText = new QPlainTextEdit(dock);
    InfoText->setReadOnly(true);
    InfoText->setLineWrapMode(QPlainTextEdit::NoWrap);
    InfoText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    dock->setWidget(InfoText);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    // Wide enough for the header's fields and most of a frame's line.
    resizeDocks({ dock }, { InfoWidth }, Qt::Horizontal);

    PlayTimer = new QTimer(this);
    PlayTimer->setInterval(1000 / FramesPerSecond);
    connect(PlayTimer, &QTimer::timeout, this, &TViewerWindow::NextFrame);

    FileMenu = menuBar()->addMenu(Shown(Tr("&File")));
    OpenAction = FileMenu->addAction(Shown(Tr("&Open...")));
    OpenAction->setShortcut(QKeySequence::Open);
    connect(OpenAction, &QAction::triggered, this, &TViewerWindow::OpenClick);
    RecentMenu = FileMenu->addMenu(Shown(Tr("Open &Recent")));
    FileMenu->addSeparator();
    QAction* quit = FileMenu->addAction(Shown(Tr("&Quit")));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* viewMenu = menuBar()->addMenu(Shown(Tr("&View")));
    PlayAction = viewMenu->addAction(Shown(Tr("&Play")));
    PlayAction->setCheckable(true);
    PlayAction->setShortcut(QKeySequence(Qt::Key_Space));
    PlayAction->setEnabled(false);
    connect(PlayAction, &QAction::toggled, this, &TViewerWindow::PlayToggled);
    PlayButton->setDefaultAction(PlayAction);
    QAction* next = viewMenu->addAction(Shown(Tr("&Next Frame")));
    next->setShortcut(QKeySequence(Qt::Key_Right));
    connect(next, &QAction::triggered, this, &TViewerWindow::NextFrame);
    QAction* previous = viewMenu->addAction(Shown(Tr("P&revious Frame")));
    previous->setShortcut(QKeySequence(Qt::Key_Left));
    connect(previous, &QAction::triggered, this, [this] {
        const int count = FrameSlider->maximum() + 1;
        SetFrame((Frame() + count - 1) % count);
    });
    viewMenu->addSeparator();
    SkinAction = viewMenu->addAction(Shown(Tr("Show &Skin")));
    SkinAction->setCheckable(true);
    SkinAction->setShortcut(QKeySequence(Qt::Key_S));
    SkinAction->setEnabled(false);
    connect(SkinAction, &QAction::toggled, ModelView, qOverload<>(&QWidget::update));
    ResetViewAction = viewMenu->addAction(Shown(Tr("Reset &View")));
    ResetViewAction->setShortcut(QKeySequence(Qt::Key_Home));
    connect(ResetViewAction, &QAction::triggered, this, [this] { SetView(TRenderView()); });

    FrameText = new QLabel(statusBar());
    FrameText->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(FrameText, 1);
    TimeText = new QLabel(statusBar());
    TimeText->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(TimeText);

    UpdateRecentMenu();
}

bool TViewerWindow::OpenFile(const QString& FileName)
{
    const std::string name = QFile::encodeName(FileName).toStdString();
    std::shared_ptr<const TViewedModel> loaded;
    try {
        // Read on this thread: even a model at the format's limits takes a
        // fraction of a second, and the error box belongs here anyway.
        TBusyCursor busy;
        loaded = TViewedModel::Load(name);
    } catch (const std::exception& failure) {
        const std::string place = FailurePlace(failure);
        ShowError(QString::fromStdString(FailureText(failure)),
            QString::fromStdString(place.empty() ? Printable(name) : place));
        return false;
    }
    ShowModel(std::move(loaded));
    AddRecentFile(QFileInfo(FileName).absoluteFilePath());
    setWindowTitle(
        QFileInfo(FileName).fileName() + QStringLiteral(" - ") + QString::fromUtf8(ViewerTitle));
    return true;
}

void TViewerWindow::ShowModel(std::shared_ptr<const TViewedModel> Model)
{
    FModel = std::move(Model);
    FPicture = QImage();
    const TMDLModel& model = FModel->Model;

    std::ostringstream info;
    DescribeMDL(model, Printable(FModel->FileName), FModel->FileSize, info);
    InfoText->setPlainText(QString::fromStdString(info.str()));

    FSkin = SkinImage(model);
    FSkinLines = FSkin.isNull() ? std::vector<QLineF>() : SkinLines(model, FSkin.size());
    SkinAction->setEnabled(!FSkin.isNull());
    if (FSkin.isNull())
        SkinAction->setChecked(false);

    PlayAction->setChecked(false);
    const std::size_t frames = FModel->Renderer->FrameCount();
    const QSignalBlocker blocker(FrameSlider);
    FrameSlider->setRange(0, frames > 0 ? int(frames - 1) : 0);
    FrameSlider->setValue(0);
    FrameSlider->setEnabled(frames > 1);
    PlayAction->setEnabled(frames > 1);
    UpdateFrameText();
    TimeText->clear();
    RequestPicture();
    ModelView->update();
}

void TViewerWindow::UpdateFrameText()
{
    if (!FModel) {
        FrameText->clear();
        return;
    }
    const std::vector<TMDLFrame>& frames = FModel->Model.Frames;
    if (frames.empty()) {
        FrameText->setText(Shown(Tr("No frames")));
        return;
    }
    const std::size_t frame = Frame();
    FrameText->setText(Shown(Tr("Frame %1 of %2: %3"))
                           .arg(frame + 1)
                           .arg(frames.size())
                           .arg(QString::fromStdString(Printable(frames[frame].NameText()))));
}

std::size_t TViewerWindow::Frame() const
{
    return std::size_t(FrameSlider->value());
}

void TViewerWindow::SetFrame(std::size_t Frame)
{
    FrameSlider->setValue(int(Frame));
}

void TViewerWindow::NextFrame()
{
    const int count = FrameSlider->maximum() + 1;
    SetFrame((Frame() + 1) % count);
}

void TViewerWindow::PlayToggled(bool Playing)
{
    PlayAction->setText(Playing ? Shown(Tr("&Pause")) : Shown(Tr("&Play")));
    if (Playing)
        PlayTimer->start();
    else
        PlayTimer->stop();
}

void TViewerWindow::SetView(const TRenderView& View)
{
    FView = View;
    FView.Yaw = std::remainder(FView.Yaw, 360.0);
    FView.Pitch = std::clamp(FView.Pitch, -MaxPitch, MaxPitch);
    FView.Zoom = std::clamp(FView.Zoom, MinZoom, MaxZoom);
    RequestPicture();
}

void TViewerWindow::Turn(QPoint Delta)
{
    TRenderView view = FView;
    view.Yaw -= Delta.x() * DegreesPerPixel;
    view.Pitch += Delta.y() * DegreesPerPixel;
    SetView(view);
}

void TViewerWindow::ZoomBy(int Angle)
{
    TRenderView view = FView;
    view.Zoom *= std::pow(ZoomPerNotch, double(Angle) / WheelNotch);
    SetView(view);
}

bool TViewerWindow::ShowingSkin() const
{
    return SkinAction->isChecked() && !FSkin.isNull();
}

QTransform TViewerWindow::SkinTransform() const
{
    if (FSkin.isNull())
        return QTransform();
    const double scale = std::min(
        double(ModelView->width()) / FSkin.width(), double(ModelView->height()) / FSkin.height());
    return QTransform::fromTranslate((ModelView->width() - FSkin.width() * scale) / 2,
        (ModelView->height() - FSkin.height() * scale) / 2)
        .scale(scale, scale);
}

void TViewerWindow::RequestPicture()
{
    if (!FModel || !FWorker)
        return;
    const qreal ratio = ModelView->devicePixelRatioF();
    const auto side = [ratio](int Logical) {
        return std::clamp<std::int32_t>(
            std::int32_t(std::lround(Logical * ratio)), 1, TModelRenderer::MaxSide);
    };
    TRenderRequest request;
    request.Model = FModel;
    request.Frame = Frame();
    request.View = FView;
    request.Width = side(ModelView->width());
    request.Height = side(ModelView->height());
    request.Serial = ++FSerial;
    FWorker->Request(std::move(request));
}

void TViewerWindow::PictureDone(TRenderResult Result)
{
    // A picture of a model since replaced, or older than the one shown.
    if (Result.Request.Model != FModel || Result.Request.Serial < FPictureSerial)
        return;
    if (!Result.Failure.empty()) {
        TimeText->setText(QString::fromStdString(Result.Failure));
        return;
    }
    FPicture = std::move(Result.Picture);
    FPicture.setDevicePixelRatio(ModelView->devicePixelRatioF());
    FPictureSerial = Result.Request.Serial;
    TimeText->setText(Shown(Tr("Rendered in %1 ms")).arg(Result.Milliseconds, 0, 'f', 1));
    // The skin and its lines take long to paint on a large model; they do
    // not change with the picture.
    if (!ShowingSkin())
        ModelView->update();
}

void TViewerWindow::OpenClick()
{
    QFileDialog dialog(this, Shown(Tr("Open")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({ QString::fromUtf8(ModelFilter), Shown(Tr("All files (*)")) });
    if (FModel)
        dialog.setDirectory(QFileInfo(QString::fromStdString(FModel->FileName)).absolutePath());
    if (!ExecOpenDialog(dialog))
        return;
    const QString chosen = dialog.selectedFiles().value(0);
    if (!chosen.isEmpty())
        OpenFile(chosen);
}

void TViewerWindow::ShowError(const QString& Text, const QString& Place)
{
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ViewerTitle),
        Place.isEmpty() ? Text : Text + QLatin1Char('\n') + Place, QMessageBox::Ok, this);
    // File names in a message must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::WindowModal);
    ExecMessageBox(box);
}

QStringList TViewerWindow::RecentFiles() const
{
    return QSettings().value(QString::fromUtf8(RecentFilesKey)).toStringList();
}

void TViewerWindow::AddRecentFile(const QString& FileName)
{
    QStringList files = RecentFiles();
    files.removeAll(FileName);
    files.prepend(FileName);
    while (files.size() > RecentCount)
        files.removeLast();
    QSettings().setValue(QString::fromUtf8(RecentFilesKey), files);
    UpdateRecentMenu();
}

void TViewerWindow::UpdateRecentMenu()
{
    RecentMenu->clear();
    const QStringList files = RecentFiles();
    for (int i = 0; i < files.size(); ++i) {
        QString shown = files[i];
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = RecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        const QString file = files[i];
        connect(action, &QAction::triggered, this, [this, file] { OpenFile(file); });
    }
    RecentMenu->setEnabled(!files.isEmpty());
}

bool TViewerWindow::ExecOpenDialog(QFileDialog& Dialog)
{
    return Dialog.exec() == QDialog::Accepted;
}

void TViewerWindow::ExecMessageBox(QMessageBox& Box)
{
    Box.exec();
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* Event)
{
    const QList<QUrl> urls = Event->mimeData()->urls();
    if (urls.size() == 1 && urls[0].isLocalFile())
        Event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* Event)
{
    const QList<QUrl> urls = Event->mimeData()->urls();
    if (urls.size() != 1 || !urls[0].isLocalFile())
        return;
    Event->acceptProposedAction();
    // Opened once the drop is over: the error box would otherwise hold the
    // program the file was dragged from.
    const QString file = urls[0].toLocalFile();
    QTimer::singleShot(0, this, [this, file] { OpenFile(file); });
}
