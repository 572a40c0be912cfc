// Tarvex: the window.
#include <clocale>

#include <QApplication>

#include "app/MainForm.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));
    // QApplication took every locale category from the environment; numbers
    // must not depend on the user's decimal separator, while the time stamps
    // of the log keep the user's date and time formats and the messages the
    // user's language.
    std::setlocale(LC_NUMERIC, "C");

    TMainForm form;
    form.show();
    return application.exec();
}
