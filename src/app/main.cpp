#include "ErrorReport.h"
#include "QtTranslations.h"
#include "Tmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetApplicationTitle();
    const TQtTranslations qtTexts = InstallQtTranslations();

    Tmain window;
    window.show();
    return app.exec();
}
