#include "app/MainForm.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QStringList>
#include <QTextCursor>
#include <QWindow>

#include <unistd.h>

#include "app/tarvex.xpm"
#include "util/Translate.h"

const char* const ApplicationTitle = "Tarvex";

namespace {

const char* const FormCaption = "Tarvex Ver" TARVEX_VERSION;
// The outer size, frame included, and the height of the status bar.
constexpr int FormWidth = 537;
constexpr int FormHeight = 366;
constexpr int StatusBarHeight = 19;
constexpr int FontPixelSize = 12;
constexpr int RuleLength = 92;
// The OBJ reader reports its progress every hundred lines or so: tens of
// thousands of times a second on a large model. Letting events run, and
// repainting the panel, on every report made the window's conversion much
// slower than the command line's, while a screen shows a new picture only
// every 7 to 17 ms and a click or a key handled a few milliseconds later goes
// unnoticed. While the reader works, events wait at most this long.
constexpr qint64 PumpIntervalNs = 5'000'000;

QStringList BannerLines()
{
    const QString rule(RuleLength, QLatin1Char('-'));
    return {
        rule,
        QStringLiteral("Tarvex"),
        QStringLiteral("Written by the Tarvex developers."),
        QStringLiteral("Please read Readme.txt."),
        QStringLiteral("Free to use; no warranty of any kind."),
        rule,
        QStringLiteral("PLEASE NOTE THAT:"),
        QStringLiteral("This software supports subset feature of the OBJ format."),
        QStringLiteral("Backup your original models before using this software."),
        rule,
        QStringLiteral("CAUTION:"),
        QStringLiteral("When using someone's mesh model,"),
        QStringLiteral("you must check and follow legal stuff(like EULA)"),
        QStringLiteral("of the original mesh model in advance."),
        rule,
    };
}

} // namespace

// The command borrows the window as its host; it calls back only once a run
// has started, long after construction.
TMainForm::TMainForm(QWidget* Parent)
    : QMainWindow(Parent)
    , Command(*this)
{
    CreateComponents();
    FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateComponents()
{
    setWindowTitle(QString::fromUtf8(FormCaption));
    setWindowIcon(QIcon(QPixmap(tarvex_xpm)));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(FontPixelSize);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    setFont(font);
    resize(FormWidth, FormHeight);

    OpenDialog = MakeFileDialog(QFileDialog::AcceptOpen, "OBJ (*.obj)", "obj");

    StsMemo = new QPlainTextEdit(this);
    StsMemo->setReadOnly(true);
    StsMemo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The log only grows; an undo history of it would be memory for nothing.
    StsMemo->setUndoRedoEnabled(false);
    StsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StsMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    StsMemo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    StsMemo->setPlainText(BannerLines().join(QLatin1Char('\n')));
    setCentralWidget(StsMemo);
    // The only control that takes focus, so it is first in the tab order.
    StsMemo->setFocus();

    MainMenu = new QMenuBar(this);
    setMenuBar(MainMenu);

    SaveDialog = MakeFileDialog(QFileDialog::AcceptSave, "3DGS MDL5 (*.mdl)", "mdl");
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite);

    // Alt+F opens the menu and L then runs the command; the "&" marks the
    // key and is not shown.
    OBJ1 = MainMenu->addMenu(QString::fromUtf8(Tr("&File")));
    OptionOBJLoad = OBJ1->addAction(QString::fromUtf8(Tr("&Load OBJ and Convert to MDL")));
    connect(OptionOBJLoad, &QAction::triggered, this, &TMainForm::OptionOBJLoadClick);

    StatusBar = new QStatusBar(this);
    StatusBar->setFixedHeight(StatusBarHeight);
    StatusText = new QLabel(StatusBar);
    StatusText->setTextFormat(Qt::PlainText);
    // A stretch makes the one panel span the whole bar.
    StatusBar->addWidget(StatusText, 1);
    setStatusBar(StatusBar);
}

QFileDialog* TMainForm::MakeFileDialog(
    QFileDialog::AcceptMode Mode, const char* Filter, const char* DefaultSuffix)
{
    // Qt's own dialogs rather than the desktop's: the same on every
    // platform, and their settings can be read back.
    auto* dialog = new QFileDialog(this);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(Mode);
    // A name that does not exist is handed on; reading it then fails.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QString::fromUtf8(Filter));
    dialog->setDefaultSuffix(QString::fromUtf8(DefaultSuffix));
    return dialog;
}

void TMainForm::FormCreate()
{
    // Both dialogs start beside the program. The command and its models
    // exist already: they are members and were wired up with the window.
    SetProgramFolder(QCoreApplication::applicationDirPath());
}

void TMainForm::SetProgramFolder(const QString& Folder)
{
    // A program installed under /usr is in a folder an ordinary user cannot
    // write to: a dialog started there only leads to a refused save.
    FProgramFolder = Folder;
    FProgramFolderWritable = ::access(QFile::encodeName(Folder).constData(), W_OK) == 0;
    const QString start = FProgramFolderWritable ? Folder + QLatin1Char('/') : QDir::homePath();
    OpenDialog->setDirectory(start);
    SaveDialog->setDirectory(start);
}

void TMainForm::AddLine(const std::string& Text)
{
    // A line follows every file the reader has read, and the work after it
    // lets no events run for a while. The reader's last percentages may have
    // come after its last pump; they are painted now, as a pump at the end of
    // the reading would have left the panel, but no event runs here.
    if (FStatusUnpainted) {
        StatusText->repaint();
        FStatusUnpainted = false;
    }
    StsMemo->appendPlainText(QString::fromStdString(Text));
    // The newest line is the one to see, wherever the user had scrolled to.
    StsMemo->moveCursor(QTextCursor::End);
    QScrollBar* bar = StsMemo->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TMainForm::SetText(const std::string& Text)
{
    // The reader repeats each percentage many times over; only a new text
    // is worth converting for the label.
    if (Text == FStatusText)
        return;
    FStatusText = Text;
    StatusText->setText(QString::fromStdString(Text));
    FStatusUnpainted = true;
}

void TMainForm::ProcessMessages()
{
    // The interval counts from the end of a pump, so that a slow repaint
    // still leaves the reader its share of the time.
    if (FLastPump.isValid() && FLastPump.nsecsElapsed() < PumpIntervalNs)
        return;
    QCoreApplication::processEvents();
    FLastPump.start();
    FStatusUnpainted = false;
}

bool TMainForm::AskOBJFile(std::string& FileName)
{
    // A run starts here. The window has just lost the dialog and must be
    // repainted, so the reader's first report lets events run whenever the
    // last pump was.
    FLastPump.invalidate();
    if (!RunFileDialog(*OpenDialog))
        return false;
    const QString chosen = OpenDialog->selectedFiles().value(0);
    FileName = chosen.toStdString();
    if (FileName.empty())
        return false;
    if (!FProgramFolderWritable) {
        const QString folder = QFileInfo(chosen).absolutePath();
        OpenDialog->setDirectory(folder);
        SaveDialog->setDirectory(folder);
    }
    ShowBusy(true);
    return true;
}

bool TMainForm::AskMDLFile(const std::string& Suggestion, std::string& FileName)
{
    // The dialog offers its own folder and the name typed last, not the
    // suggestion beside the OBJ file.
    static_cast<void>(Suggestion);
    // The window waits for the user now, not the user for the window.
    ShowBusy(false);
    if (!RunFileDialog(*SaveDialog))
        return false;
    FileName = SaveDialog->selectedFiles().value(0).toStdString();
    if (FileName.empty())
        return false;
    ShowBusy(true);
    return true;
}

bool TMainForm::RunFileDialog(QFileDialog& Dialog)
{
    const bool accepted = ExecDialog(Dialog);
    // A name typed into the dialog that matches a file opens the completion
    // pop-up, which outlives the dialog; the user's next click would only
    // close it.
    for (QCompleter* completer : Dialog.findChildren<QCompleter*>()) {
        if (completer->popup())
            completer->popup()->hide();
    }
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    return accepted;
}

void TMainForm::ShowBusy(bool Busy)
{
    // Balanced: the override cursors of Qt form a stack.
    if (Busy == FBusyShown)
        return;
    FBusyShown = Busy;
    if (Busy)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

void TMainForm::ShowError(const std::string& Text, const std::string& Place)
{
    ShowBusy(false);
    // The place goes on a line of its own under the message.
    const std::string shown = Place.empty() ? Text : Text + "\n" + Place;
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle),
        QString::fromStdString(shown), QMessageBox::Ok, this);
    // File names in a message must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::WindowModal);
    ExecMessageBox(box);
}

void TMainForm::OptionOBJLoadClick()
{
    // The OBJ reader lets events run: a second run is refused inside the
    // command, and the user sees why, the command disabled and the busy
    // cursor, until the run ends however it ends.
    if (Command.Busy())
        return;
    class TRunScope
    {
    public:
        explicit TRunScope(TMainForm& Form)
            : FForm(Form)
        {
            FForm.OptionOBJLoad->setEnabled(false);
        }
        ~TRunScope()
        {
            FForm.ShowBusy(false);
            FForm.OptionOBJLoad->setEnabled(true);
        }
        TRunScope(const TRunScope&) = delete;
        TRunScope& operator=(const TRunScope&) = delete;

    private:
        TMainForm& FForm;
    } scope(*this);
    Command.Execute();
}

bool TMainForm::ExecDialog(QFileDialog& Dialog)
{
    return Dialog.exec() == QDialog::Accepted;
}

void TMainForm::ExecMessageBox(QMessageBox& Box)
{
    Box.exec();
}

void TMainForm::closeEvent(QCloseEvent* Event)
{
    // The OBJ reader lets window events run; the models must outlive the
    // run that is using them.
    if (Command.Busy())
        Event->ignore();
    else
        Event->accept();
}

void TMainForm::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    if (!FPlaced && !Event->spontaneous()) {
        FPlaced = true;
        PlaceOnScreen();
        // A window manager frames the window after it is shown; its margins
        // are known at the first expose or when it announces them, and the
        // window is placed again then.
        if (!FFramed && windowHandle())
            windowHandle()->installEventFilter(this);
    }
}

QMargins TMainForm::FrameMargins() const
{
    const QWindow* window = windowHandle();
    return window ? window->frameMargins() : QMargins();
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (!FFramed && Watched == windowHandle()) {
        switch (Event->type()) {
        case QEvent::Expose:
        case QEvent::Move:
        case QEvent::Resize:
            if (FrameMargins() != FPlacedMargins)
                PlaceOnScreen();
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TMainForm::PlaceOnScreen()
{
    // Qt sizes and places the client area; the frame around it is the
    // window manager's.
    const QMargins frame = FrameMargins();
    FPlacedMargins = frame;
    QPoint outer = frameGeometry().topLeft();
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        outer = QPoint(
            area.x() + (area.width() - FormWidth) / 2, area.y() + (area.height() - FormHeight) / 2);
    }
    setGeometry(QRect(outer + QPoint(frame.left(), frame.top()),
        QSize(
            FormWidth - frame.left() - frame.right(), FormHeight - frame.top() - frame.bottom())));
    if (!frame.isNull()) {
        FFramed = true;
        if (QWindow* window = windowHandle())
            window->removeEventFilter(this);
    }
}
