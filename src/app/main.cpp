#include "ErrorReport.h"
#include "Tmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetApplicationTitle();

    Tmain window;
    window.show();
    return app.exec();
}
