#include "ErrorReport.h"
#include "Tmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationDisplayName(kAppTitle);

    Tmain window;
    window.show();
    return app.exec();
}
