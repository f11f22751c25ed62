// taxas-make-installation <folder> [Varlo|Meltra|Quibon|Tosvel]
// Creates an installation of a sibling application in folder: its SQLite database with sample
// data, the data-link file that opens it through the SQLite ODBC driver, and the settings file
// the program looks for.

#include "Installation.h"
#include "TDbConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2 || args.first().startsWith(u'-')) {
        std::fprintf(stderr, "uso: taxas-make-installation <pasta> [Varlo|Meltra|Quibon|Tosvel]\n");
        return 2;
    }
    TInstallationOptions options;
    if (args.size() == 2)
        options.app = args[1];
    try {
        MakeInstallation(args[0], options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "taxas-make-installation: %s\n", e.what());
        return 1;
    }
    const QString base = options.app.toLower();
    const QString name = base.left(1).toUpper() + base.mid(1);
    std::printf("%s\n", qPrintable(QStringLiteral("Instalação %1 criada em %2 (%3.udl, %3.ini, %3.db)")
                                       .arg(name, QDir(args[0]).absolutePath(), base)));
    return 0;
}
