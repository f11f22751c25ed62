// Which application the probe finds in a folder, through the files as they lie on disk.

#include "Detection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lays an entry: "name" an empty file, "name/" a folder, "name -> target" a link, "name |" a FIFO.
bool MakeEntry(const QDir& folder, const QString& entry)
{
    const QLatin1String arrow(" -> ");
    if (entry.endsWith(u'/'))
        return folder.mkdir(entry.chopped(1));
    if (entry.contains(arrow))
        return QFile::link(entry.section(arrow, 1), folder.filePath(entry.section(arrow, 0, 0)));
    if (entry.endsWith(QLatin1String(" |")))
        return mkfifo(QFile::encodeName(folder.filePath(entry.chopped(2))).constData(), 0644) == 0;
    return QFile(folder.filePath(entry)).open(QIODevice::WriteOnly);
}

// The probe in a folder that may be entered but not listed. Root lists every folder, so as
// root the probe runs as nobody, whom the folder lets only enter.
QString ProbeUnlisted(const QString& folder)
{
    const bool root = geteuid() == 0;
    chmod(QFile::encodeName(folder).constData(), root ? 0711 : 0311);
    if (root && seteuid(65534) != 0)
        return QStringLiteral("no other user");
    const bool listed = !QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).empty();
    const QString detected = listed ? QStringLiteral("listed") : AppName(ProbeInstalledApp(folder));
    if (root && seteuid(0) != 0)
        qFatal("could not become root again");
    chmod(QFile::encodeName(folder).constData(), 0700);
    return detected;
}

}  // namespace

class DetectionTest : public QObject {
    Q_OBJECT

private slots:
    void probes_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("detected");
        QTest::newRow("empty folder") << QStringList{} << "Nenhum";
        QTest::newRow("Varlo") << QStringList{"varlo.udl", "varlo.ini"} << "Varlo";
        QTest::newRow("Meltra") << QStringList{"meltra.udl", "meltra.ini"} << "Meltra";
        QTest::newRow("Quibon") << QStringList{"quibon.udl", "quibon.ini"} << "Quibon";
        QTest::newRow("Tosvel") << QStringList{"tosvel.udl", "tosvel.ini"} << "Tosvel";
        QTest::newRow("udl without ini") << QStringList{"meltra.udl"} << "Nenhum";
        QTest::newRow("ini without udl") << QStringList{"meltra.ini"} << "Nenhum";
        QTest::newRow("halves of two kinds") << QStringList{"varlo.udl", "quibon.ini"} << "Nenhum";
        QTest::newRow("Varlo and Tosvel: the last wins") << QStringList{"varlo.udl", "varlo.ini", "tosvel.udl", "tosvel.ini"} << "Tosvel";
        QTest::newRow("all four") << QStringList{"tosvel.udl", "tosvel.ini", "quibon.udl", "quibon.ini", "meltra.udl", "meltra.ini", "varlo.udl", "varlo.ini"} << "Tosvel";
        QTest::newRow("complete Varlo, incomplete Quibon") << QStringList{"varlo.udl", "varlo.ini", "quibon.udl"} << "Varlo";
        QTest::newRow("upper-case names") << QStringList{"QUIBON.UDL", "Quibon.Ini"} << "Quibon";
        QTest::newRow("a folder is not a file") << QStringList{"varlo.udl/", "varlo.ini"} << "Nenhum";
        QTest::newRow("other extensions") << QStringList{"varlo.udl.bak", "varlo.ini~"} << "Nenhum";
        QTest::newRow("links to files") << QStringList{"varlo.udl -> v", "v", "varlo.ini -> v"} << "Varlo";
        QTest::newRow("broken link") << QStringList{"varlo.udl -> nada", "varlo.ini"} << "Nenhum";
        QTest::newRow("link to a folder") << QStringList{"p/", "varlo.udl -> p", "varlo.ini"} << "Nenhum";
        QTest::newRow("FIFO") << QStringList{"varlo.udl", "varlo.ini |"} << "Nenhum";
        QTest::newRow("any spelling where the folder is listed") << QStringList{"vArLo.uDl", "VaRlO.iNi"} << "Varlo";
        // Rows named "unlisted": the folder may be entered but not listed.
        QTest::newRow("unlisted, lower case") << QStringList{"meltra.udl", "meltra.ini"} << "Meltra";
        QTest::newRow("unlisted, upper case") << QStringList{"QUIBON.UDL", "QUIBON.INI"} << "Quibon";
        QTest::newRow("unlisted, as the connection names it") << QStringList{"Tosvel.UDL", "Tosvel.ini"} << "Tosvel";
        QTest::newRow("unlisted, FIFO") << QStringList{"varlo.udl |", "varlo.ini"} << "Nenhum";
    }
    void probes()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, detected);
        QTemporaryDir dir;
        for (const QString& f : files)
            QVERIFY2(MakeEntry(QDir(dir.path()), f), qPrintable(f));
        const bool unlisted = QByteArray(QTest::currentDataTag()).startsWith("unlisted");
        QCOMPARE(unlisted ? ProbeUnlisted(dir.path()) : AppName(ProbeInstalledApp(dir.path())), detected);
    }

    void connectionStrings()
    {
        QCOMPARE(ConnectionStringFor(TAppKind::Tosvel), QString("FILE NAME=.\\Tosvel.UDL"));
        QCOMPARE(ConnectionStringFor(TAppKind::None), QString("FILE NAME=.\\Nenhum.UDL"));
    }
};

QTEST_GUILESS_MAIN(DetectionTest)
#include "DetectionTest.moc"
