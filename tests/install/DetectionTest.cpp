// Which application the probe finds in a folder, through the files as they lie on disk.

#include "Detection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
    }
    void probes()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, detected);
        QTemporaryDir dir;
        for (const QString& f : files) {
            if (f.endsWith('/')) {
                QVERIFY(QDir(dir.path()).mkdir(f.chopped(1)));
                continue;
            }
            QFile file(dir.filePath(f));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(ProbeInstalledApp(dir.path()), detected);
    }

    void connectionStrings()
    {
        QCOMPARE(ConnectionStringFor("Tosvel"), QString("FILE NAME=.\\Tosvel.UDL"));
        QCOMPARE(ConnectionStringFor("Nenhum"), QString("FILE NAME=.\\Nenhum.UDL"));
    }
};

QTEST_GUILESS_MAIN(DetectionTest)
#include "DetectionTest.moc"
