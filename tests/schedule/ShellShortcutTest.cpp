// The start-up entry in the user's autostart folder: what a session reads from it (the
// program, quoted, and its folder as working directory), one entry only, and nothing else in
// the folder touched.

#include "ShellShortcut.h"
#include "TempInstallation.h"
#include <QtTest>

namespace {

std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

class ShellShortcutTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString config_;
    QString autostart_;
    QByteArray savedConfig_, savedHome_;

    QString program(const QString& relative) {
        const QString path = dir_.filePath("programs/" + relative);
        WriteFileBytes(path, "#!/bin/sh\n");  // a target that failed to appear fails the entry checks
        return path;
    }
    QStringList entries() const {
        return QDir(autostart_).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QByteArray entry() const { return FileBytes(autostart_ + "/Qorvanta.desktop"); }

private slots:
    void initTestCase() {
        savedConfig_ = qgetenv("XDG_CONFIG_HOME");
        savedHome_ = qgetenv("HOME");
    }
    void init() {
        config_ = dir_.filePath("config");
        QDir(config_).removeRecursively();
        QDir(dir_.filePath("programs")).removeRecursively();
        QVERIFY(QDir().mkpath(config_));
        autostart_ = config_ + "/autostart";
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_));
    }
    void cleanupTestCase() {
        qputenv("XDG_CONFIG_HOME", savedConfig_);
        qputenv("HOME", savedHome_);
    }

    void createsEntry_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QByteArray>("exec");  // inside the quotes, after the folder prefix
        QTest::addColumn<QByteArray>("path");
        QTest::addRow("plain") << "bin/taxas-iva" << QByteArray("bin/taxas-iva") << QByteArray("bin/");
        QTest::addRow("blanks") << "Taxas de IVA/taxas iva" << QByteArray("Taxas de IVA/taxas iva")
                                << QByteArray("Taxas de IVA/");
        QTest::addRow("shell characters") << "a$b`c\"d/x%y" << QByteArray("a\\\\$b\\\\`c\\\\\"d/x%%y")
                                          << QByteArray("a$b`c\"d/");
        QTest::addRow("backslash") << "a\\b/prog" << QByteArray("a\\\\\\\\b/prog") << QByteArray("a\\\\b/");
        QTest::addRow("accented") << QString::fromUtf8("Gestão/prog") << QByteArray("Gest\xC3\xA3o/prog")
                                  << QByteArray("Gest\xC3\xA3o/");
    }
    void createsEntry() {
        QFETCH(QString, relative);
        QFETCH(QByteArray, exec);
        QFETCH(QByteArray, path);
        const QByteArray prefix = QFile::encodeName(dir_.filePath("programs")) + '/';
        QVERIFY2(QRegularExpression("^[A-Za-z0-9/._-]+$").match(QString::fromUtf8(prefix)).hasMatch(),
                 "the temporary folder needs no quoting");

        QVERIFY(CreateShellShortcut(kStartupFolder, "Qorvanta", Local(program(relative))));
        QCOMPARE(entry(), "[Desktop Entry]\nType=Application\nName=Qorvanta\nExec=\"" + prefix + exec +
                              "\"\nPath=" + prefix + path + "\n");
        QCOMPARE(ShellShortcutPath(kStartupFolder, "Qorvanta"), Local(autostart_ + "/Qorvanta.desktop"));
    }

    void replacedNeverDoubled() {
        CreateShellShortcut(kStartupFolder, "Qorvanta", Local(program("old/prog")));
        CreateShellShortcut(kStartupFolder, "Qorvanta", Local(program("new/prog")));
        QCOMPARE(entries(), QStringList{"Qorvanta.desktop"});
        QVERIFY(entry().contains("/new/prog\"\n"));
        QVERIFY(!entry().contains("/old/"));
    }

    // Every missing folder up to the entry's is made; where one cannot be, the caller hears
    // that there is no entry.
    void folderCreated_data() {
        QTest::addColumn<QString>("config");  // XDG_CONFIG_HOME below the test folder
        QTest::addColumn<bool>("removeConfig");
        QTest::addColumn<bool>("created");
        QTest::addRow("autostart missing") << "config" << false << true;
        QTest::addRow("its parent missing too") << "config" << true << true;
        QTest::addRow("several levels missing") << "config/a/b" << false << true;
        QTest::addRow("a file in place of a folder") << "file/config" << false << false;
    }
    void folderCreated() {
        QFETCH(QString, config);
        QFETCH(bool, removeConfig);
        QFETCH(bool, created);
        QVERIFY(WriteFileBytes(dir_.filePath("file"), "x"));
        if (removeConfig) QVERIFY(QDir(config_).removeRecursively());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(config)));
        QCOMPARE(CreateShellShortcut(kStartupFolder, "Qorvanta", Local(program("prog"))), created);
        QCOMPARE(QFileInfo::exists(dir_.filePath(config + "/autostart/Qorvanta.desktop")), created);
    }

    void missingTargetMakesNothing_data() {
        QTest::addColumn<QString>("target");
        QTest::addRow("no such file") << dir_.filePath("programs/none");
        QTest::addRow("a folder") << dir_.path();
        QTest::addRow("empty") << QString();
    }
    void missingTargetMakesNothing() {
        QFETCH(QString, target);
        QVERIFY(!CreateShellShortcut(kStartupFolder, "Qorvanta", Local(target)));
        QVERIFY(!QFileInfo::exists(autostart_));
    }

    void deleteLeavesOtherFiles() {
        QVERIFY(WriteFileBytes(autostart_ + "/other.desktop", "[Desktop Entry]\nName=other\n"));
        QVERIFY(WriteFileBytes(autostart_ + "/Qorvanta.txt", "keep"));
        CreateShellShortcut(kStartupFolder, "Qorvanta", Local(program("prog")));
        DeleteShellShortcut(kStartupFolder, "Qorvanta");
        QCOMPARE(entries(), (QStringList{"Qorvanta.txt", "other.desktop"}));
        QCOMPARE(FileBytes(autostart_ + "/other.desktop"), QByteArray("[Desktop Entry]\nName=other\n"));
        QCOMPARE(FileBytes(autostart_ + "/Qorvanta.txt"), QByteArray("keep"));
        DeleteShellShortcut(kStartupFolder, "Qorvanta");  // already gone: no error
        QVERIFY(QDir(autostart_).removeRecursively());
        DeleteShellShortcut(kStartupFolder, "Qorvanta");  // folder gone: no error
    }

    void folderFromEnvironment_data() {
        QTest::addColumn<int>("folder");
        QTest::addColumn<QByteArray>("xdg");  // null: unset
        QTest::addColumn<QString>("expected");
        QTest::addRow("XDG_CONFIG_HOME") << 7 << QByteArray("/x/conf") << "/x/conf/autostart/Qorvanta.desktop";
        QTest::addRow("unset") << 7 << QByteArray() << "/home/op/.config/autostart/Qorvanta.desktop";
        QTest::addRow("empty") << 7 << QByteArray("") << "/home/op/.config/autostart/Qorvanta.desktop";
        QTest::addRow("relative is ignored") << 7 << QByteArray("conf") << "/home/op/.config/autostart/Qorvanta.desktop";
        QTest::addRow("another shell folder") << 5 << QByteArray("/x/conf") << "";
    }
    void folderFromEnvironment() {
        QFETCH(int, folder);
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        qputenv("HOME", "/home/op");
        if (xdg.isNull()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", xdg);
        const std::string path = ShellShortcutPath(folder, "Qorvanta");
        qputenv("HOME", savedHome_);
        QCOMPARE(QString::fromStdString(path), expected);
    }
};

QTEST_GUILESS_MAIN(ShellShortcutTest)
#include "ShellShortcutTest.moc"
