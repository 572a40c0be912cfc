// How long the window takes to convert a model, its log, status panel and
// event pump included. The program stands in for the user: the open dialog
// is answered with INPUT.obj and the save dialog with OUTPUT.mdl. Only the
// command is timed, not Qt's start-up or the window's creation, so the
// number compares with tarvex-cli converting the same job. Prints
// "window SECONDS"; a conversion that ends in the error box prints its text
// and exits 1.
//
// Usage: tarvex_bench_window INPUT.obj OUTPUT.mdl
// (with QT_QPA_PLATFORM=offscreen where there is no display)

#include <chrono>
#include <clocale>
#include <cstdio>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "BenchUtil.h"
#include "app/MainForm.h"

namespace {

class TScriptedForm : public TMainForm
{
public:
    QString OBJFile;
    QString MDLFile;
    QString ErrorText;

protected:
    bool ExecDialog(QFileDialog& Dialog) override
    {
        Dialog.selectFile(Dialog.acceptMode() == QFileDialog::AcceptOpen ? OBJFile : MDLFile);
        return true;
    }

    void ExecMessageBox(QMessageBox& Box) override { ErrorText = Box.text(); }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // As the program does: numbers must not follow the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s INPUT.obj OUTPUT.mdl\n", argv[0]);
        return 2;
    }

    TScriptedForm form;
    // The dialogs start in the program's folder; relative names would land there.
    form.OBJFile = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    form.MDLFile = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    form.show();
    // The window is up and painted before the user could pick the command.
    QCoreApplication::processEvents();

    const auto start = std::chrono::steady_clock::now();
    const TConversionCommand::TResult result = form.Command.Execute();
    const auto stop = std::chrono::steady_clock::now();

    if (result != TConversionCommand::TResult::Completed) {
        std::fprintf(stderr, "FAILED: %s\n",
            form.ErrorText.isEmpty() ? "the conversion did not complete"
                                     : form.ErrorText.toUtf8().constData());
        return 1;
    }
    std::printf("window %.6f\n", bench::Seconds(stop - start));
    return 0;
}
