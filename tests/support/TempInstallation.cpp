#include "TempInstallation.h"

#include "Detection.h"
#include "OdbcOpen.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <stdexcept>

namespace {

QString DefaultDatabaseName(const TInstallationOptions& options)
{
    return options.databaseName.isEmpty() ? options.app.toLower() + QLatin1String(".db") : options.databaseName;
}

// Runs fn on a fresh ODBC connection to the database, closed and removed afterwards: a
// connection of its own sees only what the program's connection has committed.
template <typename Fn>
void WithConnection(const QString& databaseFile, Fn fn)
{
    static QAtomicInteger<int> counter;
    const QString name = QStringLiteral("taxas-test-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(SqliteOdbcConnectionString(databaseFile, false));
        if (!OpenOdbcDatabase(db)) {
            failure = db.lastError().text();
        } else {
            failure = fn(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty())
        throw TDbError(failure);
}

QString Run(QSqlQuery& query, const QString& sql)
{
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return query.lastError().text() + QStringLiteral(" [") + sql + u']';
    return {};
}

QString Shown(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("NULL");
    return v.toString();
}

}  // namespace

TTempInstallation::TTempInstallation(const TInstallationOptions& options) : options_(options)
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    MakeInstallation(dir_.path(), options_);
}

TTempInstallation::~TTempInstallation()
{
    if (!previousDir_.isEmpty())
        QDir::setCurrent(previousDir_);
}

QString TTempInstallation::folder() const
{
    return dir_.path();
}

QString TTempInstallation::databaseFile() const
{
    return QDir(dir_.path()).absoluteFilePath(DefaultDatabaseName(options_));
}

QString TTempInstallation::app() const
{
    return options_.app;
}

void TTempInstallation::enter()
{
    if (previousDir_.isEmpty())
        previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
}

void TTempInstallation::exec(const QString& sql) const
{
    rows(sql);
}

QVariant TTempInstallation::scalar(const QString& sql) const
{
    return rows(sql).value(0).value(0);
}

QList<QVariantList> TTempInstallation::rows(const QString& sql) const
{
    QList<QVariantList> out;
    WithConnection(databaseFile(), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        QString failure = Run(query, sql);
        if (!failure.isEmpty())
            return failure;
        const int columns = query.record().count();
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < columns; ++i)
                row << query.value(i);
            out << row;
        }
        return QString();
    });
    return out;
}

QString TTempInstallation::dump() const
{
    QString out;
    WithConnection(databaseFile(), [&](QSqlDatabase& db) {
        QSqlQuery tables(db);
        QString failure = Run(tables, QStringLiteral(
            "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name"));
        if (!failure.isEmpty())
            return failure;
        QList<QPair<QString, QString>> list;
        while (tables.next())
            list << qMakePair(tables.value(0).toString(), tables.value(1).toString());
        for (const auto& table : list) {
            out += table.second + QLatin1String(";\n");
            QSqlQuery columns(db);
            failure = Run(columns, QStringLiteral("SELECT * FROM \"%1\" LIMIT 0").arg(table.first));
            if (!failure.isEmpty())
                return failure;
            const int count = columns.record().count();
            // quote() writes every value whole (a binary fraction in 20 digits), where the
            // ODBC driver would round it to 15: the dump tells any change of a value.
            QStringList order, quoted;
            for (int i = 1; i <= count; ++i) {
                order << QString::number(i);
                quoted << QStringLiteral("quote(\"%1\")").arg(columns.record().fieldName(i - 1));
            }
            QSqlQuery data(db);
            failure = Run(data, QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY %3")
                                    .arg(quoted.join(u','), table.first, order.join(u',')));
            if (!failure.isEmpty())
                return failure;
            while (data.next()) {
                QStringList values;
                for (int i = 0; i < count; ++i)
                    values << Shown(data.value(i));
                out += table.first + QLatin1String(": ") + values.join(QLatin1String(" | ")) + u'\n';
            }
        }
        return QString();
    });
    return out;
}

void TTempInstallation::setLockTimeout(int milliseconds) const
{
    WriteDataLinkFile(QDir(folder()).filePath(options_.app.toLower() + QLatin1String(".udl")),
                      SqliteDataLinkText(databaseFile())
                          .replace(QLatin1String("Timeout=10000"), QStringLiteral("Timeout=%1").arg(milliseconds)));
}

std::unique_ptr<TDbConnection> TTempInstallation::connect() const
{
    auto db = std::make_unique<TDbConnection>();
    db->setConnectionString(ConnectionStringFor(AppKindNamed(options_.app).value_or(TAppKind::None)));
    return db;
}

void TStatementLog::attach(TDbConnection& db)
{
    db.setObserver([this](const QString& statement, TStatementKind kind) {
        statements << statement;
        kinds << kind;
        if (failAt > 0 && statements.size() == failAt)
            throw TDbError(QStringLiteral("Falha simulada na instrução %1: %2").arg(failAt).arg(statement));
    });
}

QString ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const TDbError& e) {
        return e.text();
    }
    return {};
}

std::unique_ptr<TTempInstallation> EnteredInstallation(const QString& app, bool sampleData)
{
    TInstallationOptions options;
    options.app = app;
    options.sampleData = sampleData;
    auto inst = std::make_unique<TTempInstallation>(options);
    inst->enter();
    return inst;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString RefusedMoveTrigger(int rate, const QString& why)
{
    return QStringLiteral("CREATE TRIGGER recusa BEFORE UPDATE OF iva ON produtos WHEN NEW.iva = %1 "
                          "BEGIN SELECT RAISE(ABORT, '%2'); END")
        .arg(rate)
        .arg(why);
}

QString SlowPricesTrigger()
{
    return QStringLiteral("CREATE TRIGGER lento BEFORE UPDATE OF precovenda ON produtos BEGIN "
                          "SELECT count(*) FROM produtos a, produtos b, produtos c, produtos d; END");
}
