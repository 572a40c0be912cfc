// Tarvex's model viewer: tarvex-view [FILE.mdl]
#include <clocale>

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "viewer/ViewerWindow.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // The recent files are kept under these names.
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-view"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    // As in the converter's window: numbers never take the user's decimal
    // separator, messages take the user's language.
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(ViewerTitle));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.mdl"), QStringLiteral("The model to show."),
        QStringLiteral("[FILE.mdl]"));
    parser.process(application);

    TViewerWindow window;
    window.show();
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) {
        // Once the window is on screen, so that an error box has it as parent.
        const QString file = files.front();
        QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
    }
    return application.exec();
}
