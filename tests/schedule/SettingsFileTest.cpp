// The settings file as the Windows INI service keeps it (byte layout, case, defaults, the
// whole-number booleans), and its moment reading back as the same second in every locale.

#include "Detection.h"
#include "SettingsFile.h"
#include "TempInstallation.h"
#include <QtTest>
#include <functional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QDateTime kNow(QDate(2030, 1, 1), QTime(12, 0, 0));

// Every stored field of a request, for comparing two of them.
QStringList Fields(const TChangeRequest& r) {
    QStringList out;
    for (const auto& row : r.rows) out << QString::number(row.enabled) << row.existing << row.replacement << row.description;
    const TChangeOptions& o = r.options;
    for (bool on : {o.keepCurrentRate, o.purchasePrices, o.salePrices, o.roundPrices}) out << QString::number(on);
    return out << o.places << r.moment.toString(Qt::ISODateWithMs) << AppName(r.app);
}

TChangeRequest Sample() {
    TChangeRequest r;
    r.rows[0] = {true, "23", "24", QString::fromUtf8("Nova descrição")};
    r.rows[1] = {false, "06", "7", QString::fromUtf8("Taxa € reduzida")};
    r.rows[2] = {true, "", "", ""};
    r.options = {true, false, true, false, "3"};
    r.app = TAppKind::Quibon;
    r.moment = QDateTime(QDate(2026, 3, 14), QTime(22, 0, 47));
    return r;
}

}  // namespace

using TField = std::function<QVariant(const TSchedule&)>;
Q_DECLARE_METATYPE(TField)
Q_DECLARE_METATYPE(TChangeRequest)

class SettingsFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path_;

private slots:
    void init() { path_ = dir_.filePath("Qorvanta.ini"); QFile::remove(path_); }

    void everyKeyRoundTrips_data() {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addRow("mixed") << Sample();
        TChangeRequest flipped = Sample();
        for (auto& row : flipped.rows) row.enabled = !row.enabled;
        flipped.options = {false, true, false, true, ""};
        flipped.rows[2].description = QString(50, QChar(0xE9));
        flipped.app = TAppKind::Meltra;
        flipped.moment = QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59));
        QTest::addRow("flipped") << flipped;
        // What the reading strips (blanks at an end, enclosing quotes) is written so as to come back.
        TChangeRequest quoted = Sample();
        quoted.rows[0].description = " Normal ";
        quoted.rows[1].description = "'23%'";
        quoted.rows[2].description = "\"x\"";
        quoted.options.places = " ";
        QTest::addRow("blanks and quotes") << quoted;
    }
    void everyKeyRoundTrips() {
        QFETCH(TChangeRequest, request);
        WriteSettingsFile(path_, request, ConnectionStringFor(request.app));
        const TSchedule s = ReadSettingsFile(path_, kNow);
        QCOMPARE(Fields(s.request), Fields(request));
        QCOMPARE(s.connectionString, ConnectionStringFor(request.app));
    }

    // A new file as the INI service makes it: one section, keys in writing order, ANSI
    // bytes, CR LF after every line.
    void newFileLayout() {
        WriteSettingsFile(path_, Sample(), "FILE NAME=.\\Quibon.UDL", QLocale("pt_PT"));
        const QByteArray expected =
            "[OPCOES]\r\nTAXA1=1\r\nANTERIOR=23\r\nNOVA=24\r\nDESCRICAO=Nova descri\xE7\xE3o\r\n"
            "TAXA2=0\r\nANTERIOR2=06\r\nNOVA2=7\r\nDESCRICAO2=Taxa \x80 reduzida\r\n"
            "TAXA3=1\r\nANTERIOR3=\r\nNOVA3=\r\nDESCRICAO3=\r\n"
            "CRIARNOVA=1\r\nPRECOSCOMPRA=0\r\nPRECOSVENDA=1\r\nARREDONDAR=0\r\nCASAS=3\r\n"
            "DATAHORA=14/03/2026 22:00:47\r\nSOFT=FILE NAME=.\\Quibon.UDL\r\nAPLICACAO=Quibon\r\n";
        QCOMPARE(FileBytes(path_), expected);
    }

    void readsWithDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<TField>("field");
        QTest::addColumn<QVariant>("expected");
        const TField taxa1 = [](const TSchedule& s) { return QVariant(s.request.rows[0].enabled); };
        const TField taxa3 = [](const TSchedule& s) { return QVariant(s.request.rows[2].enabled); };
        const TField criar = [](const TSchedule& s) { return QVariant(s.request.options.keepCurrentRate); };
        const TField casas = [](const TSchedule& s) { return QVariant(s.request.options.places); };
        const TField anterior = [](const TSchedule& s) { return QVariant(s.request.rows[0].existing); };
        const TField moment = [](const TSchedule& s) { return QVariant(s.request.moment); };
        const TField soft = [](const TSchedule& s) { return QVariant(s.connectionString); };
        const TField app = [](const TSchedule& s) { return QVariant(AppName(s.request.app)); };
        const QByteArray h = "[OPCOES]\r\n";

        QTest::addRow("only header: rows on") << h << taxa3 << QVariant(true);
        QTest::addRow("only header: options off") << h << criar << QVariant(false);
        QTest::addRow("only header: two places") << h << casas << QVariant("2");
        QTest::addRow("only header: empty rate") << h << anterior << QVariant("");
        QTest::addRow("only header: now") << h << moment << QVariant(kNow);
        QTest::addRow("only header: no connection") << h << soft << QVariant("");
        QTest::addRow("no file at all") << QByteArray() << taxa1 << QVariant(true);
        QTest::addRow("true is not a number") << h + "TAXA1=true\r\n" << taxa1 << QVariant(true);
        QTest::addRow("true, default off") << h + "CRIARNOVA=true\r\n" << criar << QVariant(false);
        QTest::addRow("0x1") << h + "CRIARNOVA=0x1\r\n" << criar << QVariant(true);
        QTest::addRow("0X10") << h + "CRIARNOVA=0X10\r\n" << criar << QVariant(true);
        QTest::addRow("0x0") << h + "TAXA1=0x0\r\n" << taxa1 << QVariant(false);
        QTest::addRow("0x alone") << h + "TAXA1=0x\r\n" << taxa1 << QVariant(true);
        QTest::addRow("0xG") << h + "CRIARNOVA=0xG\r\n" << criar << QVariant(false);
        QTest::addRow("0x+1") << h + "CRIARNOVA=0x+1\r\n" << criar << QVariant(false);
        QTest::addRow("00") << h + "TAXA1=00\r\n" << taxa1 << QVariant(false);
        QTest::addRow("-1") << h + "CRIARNOVA=-1\r\n" << criar << QVariant(true);
        QTest::addRow("blanks around") << h + "CRIARNOVA= 2 \r\n" << criar << QVariant(true);
        QTest::addRow("trailing letter") << h + "TAXA1=0a\r\n" << taxa1 << QVariant(true);
        QTest::addRow("empty value") << h + "TAXA1=\r\n" << taxa1 << QVariant(true);
        QTest::addRow("too big") << h + "CRIARNOVA=99999999999\r\n" << criar << QVariant(false);
        QTest::addRow("key case") << h + "taxa1=0\r\n" << taxa1 << QVariant(false);
        QTest::addRow("application name case") << h + "APLICACAO=qUIBON\r\n" << app << QVariant("Quibon");
        QTest::addRow("section case") << QByteArray("[opcoes]\r\nCasas=4\r\n") << casas << QVariant("4");
        QTest::addRow("blanks around key") << h + "  CASAS =4\r\n" << casas << QVariant("4");
        QTest::addRow("LF only") << QByteArray("[OPCOES]\nCASAS=5\nTAXA1=0") << casas << QVariant("5");
        QTest::addRow("other section") << QByteArray("[OUTRA]\r\nCASAS=4\r\n[OPCOES]\r\n") << casas << QVariant("2");
        QTest::addRow("first of two") << h + "CASAS=4\r\nCASAS=5\r\n" << casas << QVariant("4");
        QTest::addRow("blanks around a value") << h + "ANTERIOR = 23 \t\r\n" << anterior << QVariant("23");
        QTest::addRow("double quotes") << h + "ANTERIOR= \"2 3\" \r\n" << anterior << QVariant("2 3");
        QTest::addRow("single quotes") << h + "ANTERIOR='23'\r\n" << anterior << QVariant("23");
        QTest::addRow("one pair only") << h + "ANTERIOR=''23''\r\n" << anterior << QVariant("'23'");
        QTest::addRow("unmatched quotes kept") << h + "ANTERIOR=\"23'\r\n" << anterior << QVariant("\"23'");
        QTest::addRow("byte-order mark") << "\xEF\xBB\xBF" + h + "CASAS=3\r\n" << casas << QVariant("3");
        QTest::addRow("UTF-8 edited by hand") << h + "ANTERIOR=Ta\xC3\xA7" "a \xE2\x82\xAC\r\n" << anterior
                                             << QVariant(QString::fromUtf8("Taça €"));
        QTest::addRow("ANSI") << h + "ANTERIOR=Ta\xE7" "a \x80\r\nDESCRICAO=\xC3\xA7\r\n" << anterior
                              << QVariant(QString::fromUtf8("Taça €"));
        QTest::addRow("2047 characters") << h + "ANTERIOR=" + QByteArray(3000, 'x') + "\r\n" << anterior
                                        << QVariant(QString(2047, 'x'));
        QTest::addRow("empty moment") << h + "DATAHORA= \r\n" << moment << QVariant(kNow);
        QTest::addRow("two-digit year form") << h + "DATAHORA=14/03/26 22:00:47\r\n" << moment
                                            << QVariant(QDateTime(QDate(2026, 3, 14), QTime(22, 0, 47)));
        QTest::addRow("two-digit year 99, midnight") << h + "DATAHORA=31/12/99\r\n" << moment
                                                    << QVariant(QDateTime(QDate(2099, 12, 31), QTime(0, 0)));
        QTest::addRow("ISO form") << h + "DATAHORA=2026-03-14 22:00:47\r\n" << moment
                                 << QVariant(QDateTime(QDate(2026, 3, 14), QTime(22, 0, 47)));
        QTest::addRow("no seconds") << h + "DATAHORA=14/03/2026 22:00\r\n" << moment
                                   << QVariant(QDateTime(QDate(2026, 3, 14), QTime(22, 0)));
    }
    void readsWithDefaults() {
        QFETCH(QByteArray, content);
        QFETCH(TField, field);
        QFETCH(QVariant, expected);
        if (!content.isNull()) QVERIFY(WriteFileBytes(path_, content));
        QCOMPARE(field(ReadSettingsFile(path_, kNow, QLocale("pt_PT"))), expected);
    }

    void momentRoundTrips_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("text");  // empty: any form that reads back
        const QDateTime y2026(QDate(2026, 3, 14), QTime(22, 0, 47));
        const QDateTime y2099(QDate(2099, 12, 31), QTime(9, 5, 1, 999));
        const QDateTime midnight(QDate(2026, 1, 2), QTime(0, 0));
        QTest::addRow("de 2026") << "de_DE" << y2026 << "14.03.2026 22:00:47";
        QTest::addRow("pt 2026") << "pt_PT" << y2026 << "14/03/2026 22:00:47";
        QTest::addRow("us 2026") << "en_US" << y2026 << "3/14/2026 10:00:47 PM";
        QTest::addRow("gb 2026") << "en_GB" << y2026 << "14/03/2026 22:00:47";
        QTest::addRow("de 2099") << "de_DE" << y2099 << "31.12.2099 09:05:01";
        QTest::addRow("pt 2099") << "pt_PT" << y2099 << "31/12/2099 09:05:01";
        QTest::addRow("us 2099") << "en_US" << y2099 << "12/31/2099 9:05:01 AM";
        QTest::addRow("gb 2099") << "en_GB" << y2099 << "31/12/2099 09:05:01";
        QTest::addRow("de midnight") << "de_DE" << midnight << "02.01.2026";
        QTest::addRow("us midnight") << "en_US" << midnight << "1/2/2026";
        QTest::addRow("pt midnight") << "pt_PT" << midnight << "02/01/2026";
        QTest::addRow("C") << "C" << y2099 << "";
        for (const char* name : {"bg_BG", "ar_EG", "ko_KR", "fi_FI", "hu_HU", "sq_AL", "ja_JP"}) {
            QTest::addRow("%s", name) << name << y2026 << "";
            QTest::addRow("%s midnight", name) << name << midnight << "";
        }
    }
    void momentRoundTrips() {
        QFETCH(QString, locale);
        QFETCH(QDateTime, moment);
        QFETCH(QString, text);
        const QLocale l(locale);
        const QString written = MomentToText(moment, l);
        if (!text.isEmpty()) QCOMPARE(written, text);
        const QDateTime whole(moment.date(), QTime(moment.time().hour(), moment.time().minute(), moment.time().second()));
        QCOMPARE(MomentFromText(written, l), whole);

        // And through the file, as the resumed process reads it.
        TChangeRequest r;
        r.moment = moment;
        WriteSettingsFile(path_, r, "", l);
        QCOMPARE(ReadSettingsFile(path_, kNow, l).request.moment, whole);
    }

    // A stored request that the window could not have confirmed is refused, naming the key
    // and the value as stored, before any edit could cut it; one it could, or one that ticks
    // no row (it sends nothing), is not.
    void refusals_data() {
        QTest::addColumn<QString>("changes");  // "KEY=value" lines replacing those of a valid file
        QTest::addColumn<QString>("refusal");
        const auto row = [](const char* name, const char* changes, const char* refusal) {
            QTest::addRow("%s", name) << QString::fromUtf8(changes) << QString::fromUtf8(refusal);
        };
        row("valid", "", "");
        row("no row ticked", "TAXA1=0", "");
        row("new rate cut to 10", "NOVA=100", "NOVA '100' tem mais de 2 caracteres.");
        row("percent sign", "NOVA=13%", "NOVA '13%' tem mais de 2 caracteres.");
        row("places cut to 10", "CASAS=100", "CASAS '100' tem mais de 2 caracteres.");
        row("long description of an unticked row", "DESCRICAO3=123456789012345678901234567890123456789012345678901",
            "DESCRICAO3 '123456789012345678901234567890123456789012345678901' tem mais de 50 caracteres.");
        row("no such day", "DATAHORA=31/02/2099 10:00:00", "DATAHORA '31/02/2099 10:00:00' não é uma data válida.");
        row("garbage", "DATAHORA=garbage", "DATAHORA 'garbage' não é uma data válida.");
        row("another locale's date", "DATAHORA=14.03.2026 22:00:47",
            "DATAHORA '14.03.2026 22:00:47' não é uma data válida.");
        row("no application", "APLICACAO=", "APLICACAO '' não é uma das aplicações Varlo, Meltra, Quibon ou Tosvel.");
        row("application Nenhum", "APLICACAO=Nenhum",
            "APLICACAO 'Nenhum' não é uma das aplicações Varlo, Meltra, Quibon ou Tosvel.");
        row("unknown application", "APLICACAO=quibonx",
            "APLICACAO 'quibonx' não é uma das aplicações Varlo, Meltra, Quibon ou Tosvel.");
        row("application in lower case", "APLICACAO=quibon", "");
        for (const char* places : {"0", "1", "99"})  // 0: every price rounded to whole euros
            QTest::addRow("rounding to %s places", places)
                << QStringLiteral("CASAS=%1").arg(places)
                << QString::fromUtf8("CASAS '%1': O número de casas de arredondamento deve estar compreendido entre "
                                     "\"2\" e \"4\"!").arg(places);
        row("places unused without rounding", "CASAS=9\r\nARREDONDAR=0", "");
        row("equal rates", "NOVA=13", "ANTERIOR '13', NOVA '13': A nova taxa não pode ser igual à já existente!");
        row("06 and 6", "ANTERIOR=06\r\nNOVA=6", "ANTERIOR '06', NOVA '6': A nova taxa não pode ser igual à já existente!");
        row("no new rate", "NOVA=", "NOVA '': Falta indicar qual a primeira nova taxa!");
        row("not a number", "NOVA=2%", "NOVA '2%': '2%' não é um número inteiro válido.");
        row("existing rate of an unticked row", "ANTERIOR3=13",
            "ANTERIOR '13', ANTERIOR3 '13': Existem taxas de iva para alterar iguais! Verifique esta situação!");
        row("same description", "DESCRICAO2=Normal",
            "DESCRICAO 'Normal', DESCRICAO2 'Normal': Existem descrições iguais! Verifique esta situação!");
        row("an emoji in a file saved as UTF-8", "DESCRICAO=Normal \U0001F600",
            "DESCRICAO 'Normal \U0001F600': A nova descrição da primeira taxa contém caracteres que a base de dados "
            "não aceita (emojis ou caracteres de controlo)!");
        row("rounding without the sale update", "PRECOSVENDA=0",
            "O arredondamento dos preços só pode ser pedido com a actualização dos preços de venda!");
    }
    void refusals() {
        QFETCH(QString, changes);
        QFETCH(QString, refusal);
        QMap<QString, QString> keys = {{"TAXA1", "1"}, {"ANTERIOR", "13"}, {"NOVA", "23"}, {"DESCRICAO", "Normal"},
                                       {"TAXA2", "0"}, {"NOVA2", "7"}, {"DESCRICAO2", "Sete"}, {"TAXA3", "0"},
                                       {"ANTERIOR3", "6"}, {"PRECOSVENDA", "1"}, {"ARREDONDAR", "1"}, {"CASAS", "2"},
                                       {"DATAHORA", "14/03/2026 22:00:47"}, {"APLICACAO", "Varlo"}};
        for (const QString& line : changes.split("\r\n", Qt::SkipEmptyParts))
            keys[line.section('=', 0, 0)] = line.section('=', 1);
        QByteArray bytes = "[OPCOES]\r\n";
        for (auto k = keys.cbegin(); k != keys.cend(); ++k) bytes += (k.key() + '=' + k.value() + "\r\n").toUtf8();
        QVERIFY(WriteFileBytes(path_, bytes));
        QCOMPARE(ReadSettingsFile(path_, kNow, QLocale("pt_PT")).refusal, refusal);
    }

    // A file that is there but cannot be read holds no schedule anyone made.
    void unreadableFileIsRefused() {
        QVERIFY(QDir().mkpath(path_));
        QCOMPARE(ReadSettingsFile(path_, kNow).refusal,
                 QString::fromUtf8("Não foi possível ler o ficheiro ") + QDir::toNativeSeparators(path_) + '.');
        QDir().rmdir(path_);
    }

    // A second schedule over a file that still exists: its keys are replaced on their own
    // lines, keys it lacks are added to its section, everything else stays, in ANSI: without
    // the mark of a file saved as UTF-8, behind which the Windows profile functions read nothing.
    void rewriteKeepsForeignLines() {
        QVERIFY(WriteFileBytes(path_, "\xEF\xBB\xBF; feito \xC3\xA0 m\xC3\xA3o\r\n[OUTRA]\r\nTAXA1=9\r\n[opcoes]\r\n"
                                      "casas=7\r\nEXTRA=fica\r\nnova=99\r\n\r\n[FIM]\nY=2"));
        TChangeRequest r;
        r.options.places = "2";
        r.rows[0].replacement = "13";
        WriteSettingsFile(path_, r, "x");
        const QByteArray bytes = FileBytes(path_);
        QVERIFY2(bytes.startsWith("; feito \xE0 m\xE3o\r\n[OUTRA]\r\nTAXA1=9\r\n[opcoes]\r\nCASAS=2\r\nEXTRA=fica\r\n"
                                  "NOVA=13\r\nTAXA1=0\r\nANTERIOR=\r\nDESCRICAO=\r\nTAXA2=0\r\n"),
                 bytes.constData());
        QVERIFY2(bytes.endsWith("APLICACAO=Nenhum\r\n\r\n[FIM]\nY=2"), bytes.constData());
        QCOMPARE(bytes.count("CASAS="), 1);
        QCOMPARE(bytes.count("\r\n"), 4 + 20 + 1 + 1);  // foreign lines, keys, EXTRA, blank
    }

    void unwritableFolder() {
        // A folder that is really a file stops root as well.
        QVERIFY(WriteFileBytes(dir_.filePath("notafolder"), "x"));
        const QString path = dir_.filePath("notafolder/Qorvanta.ini");
        try {
            WriteSettingsFile(path, Sample(), "x");
            QFAIL("no error");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QString::fromUtf8("Não foi possível gravar o ficheiro ") + QDir::toNativeSeparators(path));
        }
    }

#ifdef Q_OS_UNIX
    // A write that fails part-way (the disk fills) leaves the old schedule whole.
    void failedWriteKeepsOldFile() {
        WriteSettingsFile(path_, Sample(), "old");
        const QByteArray before = FileBytes(path_);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &small);
        bool thrown = false;
        try {
            WriteSettingsFile(path_, TChangeRequest{}, "new");
        } catch (const std::runtime_error& e) {
            thrown = QString::fromUtf8(e.what()).startsWith(QString::fromUtf8("Não foi possível gravar o ficheiro "));
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        QVERIFY(thrown);
        QCOMPARE(FileBytes(path_), before);
        QCOMPARE(QDir(dir_.path()).entryList({"Qorvanta*"}, QDir::Files | QDir::Hidden), QStringList{"Qorvanta.ini"});
    }
#endif
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "SettingsFileTest.moc"
