#include "Installation.h"
#include "AppKind.h"
#include "Errors.h"
#include "OdbcOpen.h"
#include "QuotedSpan.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QUrl>

// Outside any namespace: a resource compiled into a static library is linked in only when
// something refers to its initialiser.
static void InitSchemaResources()
{
    Q_INIT_RESOURCE(schema);
}

namespace {

const QLatin1String kSampleDataMark("-- dados de exemplo");

QString CanonicalAppName(const QString& app)
{
    if (const std::optional<TAppKind> kind = AppKindNamed(app))
        return AppName(*kind);
    throw TTaxasError(QStringLiteral("Aplicação desconhecida: \"%1\" (%2)").arg(app, InstalledKindNames()));
}

void RemoveIfPresent(const QString& path)
{
    if (QFileInfo::exists(path) && !QFile::remove(path))
        throw TFileError(QStringLiteral("Não foi possível apagar %1").arg(path));
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()
        || !file.flush())
        throw TFileError(QStringLiteral("Não foi possível escrever %1: %2").arg(path, file.errorString()));
}

}  // namespace

QStringList SplitSqlScript(const QString& script)
{
    QStringList statements;
    QString current;
    const int n = script.size();
    int i = 0;
    auto flush = [&]() {
        const QString s = current.trimmed();
        if (!s.isEmpty())
            statements << s;
        current.clear();
    };
    while (i < n) {
        const QChar c = script[i];
        if (c == u'-' && i + 1 < n && script[i + 1] == u'-') {
            while (i < n && script[i] != u'\n')
                ++i;
            current += u' ';
            continue;
        }
        if (c == u'/' && i + 1 < n && script[i + 1] == u'*') {
            const int end = script.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            current += u' ';
            continue;
        }
        if (c == u'\'' || c == u'"' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            const int j = int(QuotedSpanEnd(script, i, close));
            current += script.mid(i, j - i);
            i = j;
            continue;
        }
        if (c == u';') {
            flush();
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    flush();
    return statements;
}

static QString SchemaResource(const QString& name)
{
    InitSchemaResources();
    QFile file(QStringLiteral(":/schema/%1.sql").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        throw TFileError(QStringLiteral("Falta o script da base de dados %1").arg(name));
    return QString::fromUtf8(file.readAll());
}

QString SchemaScript(const QString& app)
{
    // The four applications sell the same sample catalogue; each script names the place
    // where it is read in, so every kind's products come from one list.
    static const QRegularExpression include(QStringLiteral("^-- @catalogo\\b.*$"),
                                            QRegularExpression::MultilineOption);
    QString script = SchemaResource(CanonicalAppName(app).toLower());
    const QRegularExpressionMatch match = include.match(script);
    if (match.hasMatch())
        script.replace(match.capturedStart(), match.capturedLength(), SchemaResource(QStringLiteral("catalogo")));
    return script;
}

// The database as the SQLite driver can be told of it in a connection string. The driver ends
// a value at the first ';' and knows no braces, so a path that holds ';', '{' or '}' goes as a
// SQLite URI, where they are percent-encoded; any other path goes as it is.
static QString SqliteDatabaseValue(const QString& databaseFile)
{
    const QString path = QFileInfo(databaseFile).absoluteFilePath();
    if (!path.contains(u';') && !path.contains(u'{') && !path.contains(u'}'))
        return path;
    const QString root = path.startsWith(u'/') ? QString() : QStringLiteral("/");  // C:/ on Windows
    return QStringLiteral("file://") + root + QString::fromLatin1(QUrl::toPercentEncoding(path, "/:"));
}

QString SqliteOdbcConnectionString(const QString& databaseFile, bool mayCreate)
{
    // NoTXN=0 keeps real transactions (the change runs as one); BigInt=1 hands integers over
    // as 64 bits, where 32 would wrap a large value silently; NoCreat=1 makes a missing
    // database an error instead of a new empty file; the lock timeout is kept short so that a
    // locked demo database fails within seconds rather than hanging the window.
    QString s = QStringLiteral("DRIVER=SQLite3;Database=%1;NoTXN=0;BigInt=1;Timeout=10000")
                    .arg(SqliteDatabaseValue(databaseFile));
    if (!mayCreate)
        s += QStringLiteral(";NoCreat=1");
    return s;
}

void RunSqliteScript(const QString& databaseFile, const QString& script)
{
    static QAtomicInteger<int> counter;
    const QString name = QStringLiteral("taxas-script-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(SqliteOdbcConnectionString(databaseFile, true));
        if (!OpenOdbcDatabase(db)) {
            failure = db.lastError().databaseText();
            if (failure.isEmpty())
                failure = db.lastError().driverText();
        } else {
            // One transaction: all of the script or none of it, and far fewer syncs.
            db.transaction();
            const QStringList statements = SplitSqlScript(script);
            for (int i = 0; i < statements.size() && failure.isEmpty(); ++i) {
                QSqlQuery query(db);
                query.setForwardOnly(true);
                if (!query.exec(statements[i]))
                    failure = QStringLiteral("%1 (instrução %2 do script: %3)")
                                  .arg(query.lastError().databaseText())
                                  .arg(i + 1)
                                  .arg(statements[i].left(200));
            }
            if (failure.isEmpty() && !db.commit())
                failure = db.lastError().databaseText();
            if (!failure.isEmpty())
                db.rollback();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty())
        throw TDbError(failure);
}

QString SqliteDataLinkText(const QString& databaseFile)
{
    QString properties = SqliteOdbcConnectionString(databaseFile, false);
    properties.replace(u'"', QLatin1String("\"\""));
    return QStringLiteral("Provider=MSDASQL.1;Persist Security Info=False;Extended Properties=\"%1\"")
        .arg(properties);
}

void WriteDataLinkFile(const QString& path, const QString& connectionLine)
{
    // As the Windows data-link editor writes it: UTF-16LE with its mark, CR LF line ends.
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n")
                         + connectionLine + QStringLiteral("\r\n");
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
    WriteFile(path, encoder.encode(text));
}

void MakeInstallation(const QString& folder, const TInstallationOptions& options)
{
    const QString app = CanonicalAppName(options.app);
    const QString base = app.toLower();
    if (!QDir().mkpath(folder))
        throw TFileError(QStringLiteral("Não foi possível criar a pasta %1").arg(folder));
    const QDir dir(QFileInfo(folder).absoluteFilePath());
    const QString database = dir.absoluteFilePath(options.databaseName.isEmpty() ? base + QLatin1String(".db")
                                                                                 : options.databaseName);
    RemoveIfPresent(database);
    RemoveIfPresent(database + QLatin1String("-journal"));

    QString script = SchemaScript(app);
    if (!options.sampleData) {
        const int mark = script.indexOf(kSampleDataMark);
        if (mark >= 0)
            script.truncate(mark);
    }
    RunSqliteScript(database, script);

    const QString udl = dir.absoluteFilePath(base + QLatin1String(".udl"));
    const QString ini = dir.absoluteFilePath(base + QLatin1String(".ini"));
    RemoveIfPresent(udl);
    RemoveIfPresent(ini);
    if (options.writeUdl)
        WriteDataLinkFile(udl, SqliteDataLinkText(database));
    if (options.writeIni)
        WriteFile(ini, QStringLiteral("[Geral]\r\nEmpresa=1\r\nLigacao=%1.udl\r\n").arg(base).toLatin1());
}
