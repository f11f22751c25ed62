#include "TDbConnection.h"
#include "DriverManager.h"
#include "OdbcLink.h"
#include "OdbcOpen.h"
#include "TSqlDialect.h"

#include <QAtomicInteger>
#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>
#include <limits>
#include <mutex>

#ifdef _WIN32
#include <windows.h>  // MinGW's ODBC headers take their basic types from it
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace {

QString NewConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("taxas-db-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

// The SQLite driver says no more than "[SQLite]connect failed." about a database it cannot
// open (most often a file that is not there): the operator is told which one instead.
bool IsBareConnectFailure(const QString& text)
{
    static const QRegularExpression bare(QStringLiteral("^(\\[[^\\]]*\\])*\\s*connect failed\\.?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return bare.match(text).hasMatch();
}

}  // namespace

struct TDbConnection::Impl {
    QString connectionString = QStringLiteral("FILE NAME=.\\Meltra.UDL");
    QString connectionName;  // of the open QSqlDatabase; empty when closed
    QStringList secrets;     // of the open connection's data-link file
    bool translate = false;
    bool inTransaction = false;

    QString sql;
    std::unique_ptr<QSqlQuery> result;
    bool hasRow = false;

    Observer observer;
    qint64 rowsAffected = -1;

    // Prepared commands still open: their handles go before the connection does.
    std::vector<TDbConnection::TPrepared::State*> prepared;

    // Cancel() comes from another thread: it may only touch these.
    std::atomic<bool> cancelled{false};
    std::mutex inFlightMutex;
    SQLHSTMT inFlight = nullptr;

    QSqlDatabase database() const { return QSqlDatabase::database(connectionName, false); }

    QString textOf(const QSqlError& error) const
    {
        QString text = error.databaseText().trimmed();
        if (text.isEmpty())
            text = error.driverText().trimmed();
        if (text.isEmpty())
            text = QStringLiteral("Erro desconhecido da base de dados");
        return ExplainedDatabaseText(WithoutSecrets(text, secrets));
    }

    [[noreturn]] void fail(const QSqlError& error) const { throw TDbError(textOf(error)); }

    void connect()
    {
        if (!connectionName.isEmpty())
            return;
        const TOdbcLink link = OdbcLinkFor(connectionString, QDir::currentPath(), InstalledOdbcDrivers());
        const QString name = NewConnectionName();
        QString errorText;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
            if (!db.isValid()) {
                errorText = QStringLiteral(
                    "O controlador ODBC do Qt (QODBC) não está disponível: instale o pacote "
                    "libqt6sql6-odbc");
            } else {
                db.setDatabaseName(link.qtDatabaseName);
                if (link.loginTimeout > 0)
                    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(link.loginTimeout));
                if (OpenOdbcDatabase(db)) {
                    connectionName = name;
                    secrets = link.secrets;
                    translate = TranslatesTSqlFor(DbmsName(db));
                    return;
                }
                const QSqlError error = db.lastError();
                errorText = error.databaseText().trimmed();
                if (errorText.isEmpty())
                    errorText = error.driverText().trimmed();
                if (IsBareConnectFailure(errorText))
                    errorText = (QStringLiteral("Não foi possível abrir a base de dados ")
                                 + OdbcAttribute(link.connectionString, QStringLiteral("Database")))
                                    .trimmed();
                // The driver's text seldom says which server it could not reach.
                if (!link.target.isEmpty())
                    errorText += QStringLiteral(" [%1]").arg(link.target);
                errorText = WithoutSecrets(errorText, link.secrets);
            }
        }
        QSqlDatabase::removeDatabase(name);
        throw TDbError(errorText);
    }

    void freePrepared();

    void disconnect()
    {
        closeResult();
        freePrepared();
        if (connectionName.isEmpty())
            return;
        {
            QSqlDatabase db = database();
            if (inTransaction)
                db.rollback();  // nothing half-done is left behind by a dropped connection
            db.close();
        }
        QSqlDatabase::removeDatabase(connectionName);
        connectionName.clear();
        secrets.clear();
        inTransaction = false;
        translate = false;
        cancelled = false;
    }

    void refuseIfCancelled() const
    {
        if (cancelled)
            throw TDbCancelled();
    }

    // The reads and prepared commands go past Qt to ODBC itself, on the connection Qt opened.
    SQLHDBC odbcConnection()
    {
        connect();
        refuseIfCancelled();
        const QVariant handle = database().driver()->handle();
        if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHDBC))
            throw TDbError(QStringLiteral("A ligação ODBC não está disponível"));
        return *static_cast<const SQLHDBC*>(handle.constData());
    }

    // The statement Cancel() interrupts: set for its run, cleared however the run ends.
    struct TInFlight {
        Impl* d;
        TInFlight(Impl* impl, SQLHSTMT stmt) : d(impl) { d->setInFlight(stmt); }
        ~TInFlight() { d->setInFlight(nullptr); }
    };
    void setInFlight(SQLHSTMT stmt)
    {
        std::lock_guard<std::mutex> lock(inFlightMutex);
        inFlight = stmt;
    }

    // A statement's failure as the operator reads it, unless it was the Cancel's doing.
    [[noreturn]] void statementFailed(SQLHSTMT stmt) const;

    // Prepared and then executed, so that the statement's ODBC handle is known while it runs
    // and Cancel() can interrupt it.
    bool execute(QSqlQuery& query, const QString& statement)
    {
        refuseIfCancelled();
        if (!query.prepare(wire(statement)))
            return false;
        SQLHSTMT handle = nullptr;
        if (const QSqlResult* result = query.result()) {
            const QVariant h = result->handle();
            if (h.isValid() && h.metaType().sizeOf() == sizeof(SQLHSTMT))
                handle = *static_cast<const SQLHSTMT*>(h.constData());
        }
        bool ok = false;
        {
            TInFlight running(this, handle);
            ok = !cancelled && query.exec();
        }
        refuseIfCancelled();
        return ok;
    }

    void closeResult()
    {
        result.reset();
        hasRow = false;
    }

    QString wire(const QString& statement) const
    {
        return translate ? TranslateTSqlForSqlite(statement) : statement;
    }

    const QSqlQuery& openResult() const
    {
        if (!result)
            throw TDbError(QStringLiteral("A consulta não está aberta"));
        return *result;
    }
};

TDbConnection::TDbConnection() : d(std::make_unique<Impl>()) {}

TDbConnection::~TDbConnection()
{
    d->disconnect();
}

void TDbConnection::setConnectionString(const QString& text)
{
    d->connectionString = text;
}

QString TDbConnection::connectionString() const
{
    return d->connectionString;
}

void TDbConnection::setConnected(bool on)
{
    if (on)
        d->connect();
    else
        d->disconnect();
}

bool TDbConnection::connected() const
{
    return !d->connectionName.isEmpty();
}

void TDbConnection::setSQL(const QString& text)
{
    d->closeResult();
    d->sql = text;
}

QString TDbConnection::SQL() const
{
    return d->sql;
}

void TDbConnection::Open()
{
    d->closeResult();
    const QString statement = d->sql;
    if (d->observer)
        d->observer(statement, TStatementKind::Read);
    d->connect();
    // Forward-only: the driver hands rows over as they are read, and nothing here counts them.
    auto query = std::make_unique<QSqlQuery>(d->database());
    query->setForwardOnly(true);
    if (!d->execute(*query, statement))
        d->fail(query->lastError());
    if (!query->isSelect())
        throw TDbError(QStringLiteral("A instrução não devolveu nenhum conjunto de registos"));
    const bool hasRow = query->next();
    if (!hasRow && query->lastError().isValid())
        d->fail(query->lastError());
    d->result = std::move(query);
    d->hasRow = hasRow;
}

bool TDbConnection::IsEmpty() const
{
    return !d->result || !d->hasRow;
}

bool TDbConnection::Next()
{
    if (!d->result || !d->hasRow)
        return false;
    d->hasRow = d->result->next();
    if (!d->hasRow && d->result->lastError().isValid())
        d->fail(d->result->lastError());
    return d->hasRow;
}

QVariantList TDbConnection::Row() const
{
    QVariantList values;
    if (!d->result || !d->hasRow)
        return values;
    const int count = d->result->record().count();
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values << d->result->value(i);
    return values;
}

QStringList TDbConnection::FieldNames() const
{
    QStringList names;
    if (!d->result)
        return names;
    const QSqlRecord record = d->result->record();
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    return names;
}

QStringList TDbConnection::RowKey(const QString& table)
{
    d->connect();
    return TableRowKey(d->database(), table);
}

bool TDbConnection::FindField(const QString& name) const
{
    if (!d->result)
        return false;
    const QSqlRecord record = d->result->record();
    for (int i = 0; i < record.count(); ++i)
        if (record.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

qint32 TDbConnection::FieldByName(const QString& name) const
{
    const QSqlQuery& query = d->openResult();
    const QSqlRecord record = query.record();
    int index = -1;
    for (int i = 0; i < record.count(); ++i) {
        if (record.fieldName(i).compare(name, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    }
    if (index < 0)
        throw TDbError(QStringLiteral("Campo não encontrado: %1").arg(name));
    if (!d->hasRow)
        throw TDbError(QStringLiteral("O resultado não tem registos para ler o campo %1").arg(name));
    const QVariant value = query.value(index);
    if (value.isNull())
        return 0;  // as a NULL reads as an integer in the applications' own tools
    double number = 0;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        number = static_cast<double>(value.toLongLong());
        break;
    case QMetaType::ULongLong:
        number = static_cast<double>(value.toULongLong());
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        number = std::round(value.toDouble());
        break;
    default: {
        // Decimals reach us as text from some drivers.
        bool ok = false;
        number = std::round(value.toString().trimmed().toDouble(&ok));
        if (!ok)
            throw TDbError(QStringLiteral("O valor do campo %1 não é um número: %2").arg(name, value.toString()));
    }
    }
    if (!(number >= std::numeric_limits<qint32>::min() && number <= std::numeric_limits<qint32>::max()))
        throw TDbError(QStringLiteral("O valor do campo %1 não cabe num inteiro: %2").arg(name, value.toString()));
    return static_cast<qint32>(number);
}

void TDbConnection::Close()
{
    d->closeResult();
}

void TDbConnection::ExecSQL()
{
    d->closeResult();
    const QString statement = d->sql;
    if (d->observer)
        d->observer(statement, TStatementKind::Command);
    d->connect();
    d->rowsAffected = -1;
    QSqlQuery query(d->database());
    query.setForwardOnly(true);
    if (!d->execute(query, statement))
        d->fail(query.lastError());
    d->rowsAffected = query.numRowsAffected();
}

namespace {

// The diagnostic text ODBC keeps for a statement handle.
QString StatementError(SQLHSTMT stmt)
{
    QStringList texts;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLWCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, record, state, &native, message,
                                          SQLSMALLINT(std::size(message) - 1), &length)))
            break;
        texts << QString::fromUtf16(reinterpret_cast<const char16_t*>(message)).trimmed();
    }
    return texts.join(u' ');
}

// SQLite keeps a value as it comes whatever the column says, and its driver names most declared
// types text; what a column holds is told by its declared type, as SQLite's own affinity is.
TColumnKind SqliteKindOf(const QString& declared)
{
    const QString type = declared.toUpper();
    if (type.contains(QLatin1String("INT")))
        return TColumnKind::Integer;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("TEXT")) || type.contains(QLatin1String("CLOB")))
        return TColumnKind::Text;
    if (type.contains(QLatin1String("DATE")) || type.contains(QLatin1String("TIME")))
        return TColumnKind::DateTime;
    if (type.isEmpty() || type.contains(QLatin1String("BLOB")))
        return TColumnKind::Text;
    return TColumnKind::Float;
}

// SQLite's exact text of a binary fraction (TranslateImageForms): a number of cents where the
// fraction is the nearest to one, as an integer, which takes its decimal point back here
// ("-5" is "-0.05"); else the 20 digits, with their point, as they are. scratch holds the
// cents' text.
QByteArrayView ExactCents(QByteArrayView text, QByteArray& scratch)
{
    const bool negative = text.startsWith('-');
    const QByteArrayView digits = text.sliced(negative ? 1 : 0);
    if (digits.isEmpty() || digits.size() > 20
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return text;
    // At least three digits ("5" is "005"), the point before the last two.
    char all[24];
    const qsizetype pad = qMax<qsizetype>(0, 3 - digits.size());
    std::fill(all, all + pad, '0');
    std::copy(digits.begin(), digits.end(), all + pad);
    const qsizetype n = pad + digits.size();
    scratch.resize((negative ? 1 : 0) + n + 1);
    char* p = scratch.data();
    if (negative)
        *p++ = '-';
    p = std::copy(all, all + n - 2, p);
    *p++ = '.';
    std::copy(all + n - 2, all + n, p);
    return scratch;
}

TColumnKind KindOf(SQLSMALLINT type)
{
    switch (type) {
    case SQL_SMALLINT: case SQL_INTEGER: case SQL_TINYINT: case SQL_BIGINT: case SQL_BIT:
        return TColumnKind::Integer;
    case SQL_DECIMAL: case SQL_NUMERIC:
        return TColumnKind::Decimal;
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
        return TColumnKind::Float;
    case SQL_TYPE_TIMESTAMP: case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TIMESTAMP: case SQL_DATE: case SQL_TIME:
        return TColumnKind::DateTime;
    default:
        return TColumnKind::Text;
    }
}

}  // namespace

void TDbConnection::Impl::statementFailed(SQLHSTMT stmt) const
{
    refuseIfCancelled();
    throw TDbError(ExplainedDatabaseText(WithoutSecrets(StatementError(stmt), secrets)));
}

TDbConnection::TRowsRead TDbConnection::ReadRows(const std::function<void(const TRowBytes& row)>& each,
                                                 const QList<TColumnKind>& exact)
{
    d->closeResult();
    const QString statement = d->sql;
    if (d->observer)
        d->observer(statement, TStatementKind::Read);
    const SQLHDBC hdbc = d->odbcConnection();
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &stmt)))
        throw TDbError(QStringLiteral("Não foi possível preparar a leitura"));
    struct TFree {
        SQLHSTMT stmt;
        ~TFree() { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
    } release{stmt};
    const Impl::TInFlight running(d.get(), stmt);
    auto fail = [&] { d->statementFailed(stmt); };
    std::u16string text = d->wire(statement).toStdU16String();
    if (!SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS)))
        fail();

    TRowsRead read;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    // Each column into a buffer of its own, wide text sized to what the column can hold.
    std::vector<std::vector<char16_t>> buffers(columns);
    std::vector<SQLLEN> lengths(columns);
    std::vector<bool> bytes(columns);
    std::vector<bool> cents(columns);  // SQLite's exact text of a binary fraction: maybe cents
    for (SQLSMALLINT i = 0; i < columns; ++i) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name, SQLSMALLINT(std::size(name) - 1), &nameLength, &type, &size,
                        &digits, &nullable);
        read.names << QString::fromUtf16(reinterpret_cast<const char16_t*>(name));
        TColumnKind kind = KindOf(type);
        if (d->translate) {
            SQLWCHAR declared[128] = {};
            SQLSMALLINT declaredLength = 0;
            if (SQL_SUCCEEDED(SQLColAttributeW(stmt, SQLUSMALLINT(i + 1), SQL_DESC_TYPE_NAME, declared,
                                               sizeof declared - sizeof declared[0], &declaredLength, nullptr)))
                kind = SqliteKindOf(QString::fromUtf16(reinterpret_cast<const char16_t*>(declared)));
        }
        read.kinds << kind;
        const bool numeric = kind == TColumnKind::Integer || kind == TColumnKind::Decimal || kind == TColumnKind::Float;
        const SQLULEN chars = numeric ? 64 : qBound<SQLULEN>(64, size + 1, 8000);
        buffers[i].resize(chars);
        // As UTF-8 where SQLite holds a stray text in such a column; the server's own
        // characters are ASCII for numbers and moments alike.
        const TColumnKind exactKind = exact.value(i, TColumnKind::Text);
        bytes[i] = numeric || exactKind == TColumnKind::Float || exactKind == TColumnKind::DateTime;
        cents[size_t(i)] = d->translate && exactKind == TColumnKind::Float;
        SQLBindCol(stmt, SQLUSMALLINT(i + 1), bytes[i] ? SQL_C_CHAR : SQL_C_WCHAR, buffers[i].data(),
                   SQLLEN(chars * sizeof(char16_t)), &lengths[i]);
    }
    std::vector<QByteArray> rewritten(columns);  // a value as handed on where it is not as bound: cents, wide text
    TRowBytes row;
    for (;;) {
        const SQLRETURN got = SQLFetch(stmt);
        if (got == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(got))
            fail();
        row.clear();
        for (SQLSMALLINT i = 0; i < columns; ++i) {
            if (lengths[i] == SQL_NULL_DATA) {
                row.append(QByteArrayView());
                continue;
            }
            const qsizetype unit = bytes[i] ? 1 : qsizetype(sizeof(char16_t));
            const qsizetype n = qsizetype(lengths[i] / unit);
            if (lengths[i] == SQL_NO_TOTAL || n >= qsizetype(buffers[i].size()) * qsizetype(sizeof(char16_t)) / unit)
                throw TDbError(QStringLiteral("O valor da coluna %1 é maior do que a leitura admite").arg(read.names[i]));
            if (cents[size_t(i)]) {
                row.append(ExactCents(QByteArrayView(reinterpret_cast<const char*>(buffers[i].data()), n),
                                      rewritten[size_t(i)]));
            } else if (bytes[i]) {
                row.append(QByteArrayView(reinterpret_cast<const char*>(buffers[i].data()), n));
            } else {
                rewritten[size_t(i)] = QStringView(buffers[i].data(), n).toUtf8();
                // Never a null view for an empty text: that would read as NULL.
                row.append(QByteArrayView(rewritten[size_t(i)].isNull() ? "" : rewritten[size_t(i)].constData(),
                                          rewritten[size_t(i)].size()));
            }
        }
        ++read.rows;
        each(row);
    }
    d->refuseIfCancelled();
    return read;
}

QString TRowBytes::text(qsizetype i) const
{
    return isNull(i) ? QString() : QString::fromUtf8(value(i));
}

QStringList TRowBytes::texts(qsizetype from, qsizetype count) const
{
    const qsizetype end = count < 0 ? size() : qMin(size(), from + count);
    QStringList out;
    out.reserve(qMax<qsizetype>(0, end - from));
    for (qsizetype i = from; i < end; ++i)
        out << text(i);
    return out;
}

bool TRowBytes::SameStart(const TRowBytes& other, qsizetype count) const
{
    if (size() < count || other.size() < count)
        return false;
    for (qsizetype i = 0; i < count; ++i)
        if (isNull(i) != other.isNull(i) || value(i) != other.value(i))
            return false;
    return true;
}

QString ExactTextOf(const QString& column, TColumnKind kind)
{
    switch (kind) {
    case TColumnKind::Float:
        return QStringLiteral("CONVERT(VARCHAR(40), %1, 3)").arg(column);
    case TColumnKind::DateTime:
        return QStringLiteral("CONVERT(VARCHAR(30), %1, 121)").arg(column);
    default:
        return column;
    }
}

QString SqlLiteral(const QString& value, TColumnKind kind)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (kind) {
    case TColumnKind::Integer:
    case TColumnKind::Decimal:
    case TColumnKind::Float:
        return value;
    default:
        return u'\'' + QString(value).replace(u'\'', QStringLiteral("''")) + u'\'';
    }
}

qint64 TDbConnection::RowsAffected() const
{
    return d->rowsAffected;
}

struct TDbConnection::TPrepared::State {
    TDbConnection::Impl* d = nullptr;
    SQLHSTMT stmt = nullptr;
    QString sql;
    QList<TColumnKind> kinds;
    // What the bound parameters point at, kept until the next run.
    std::vector<std::u16string> texts;
    std::vector<double> numbers;
    std::vector<SQLLEN> lengths;

    void free()
    {
        if (stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        stmt = nullptr;
    }
};

void TDbConnection::Impl::freePrepared()
{
    for (TDbConnection::TPrepared::State* state : prepared)
        state->free();
    prepared.clear();
}

TDbConnection::TPrepared::TPrepared() : s(std::make_unique<State>()) {}

TDbConnection::TPrepared::~TPrepared()
{
    if (!s->stmt)
        return;
    s->free();
    auto& open = s->d->prepared;
    open.erase(std::remove(open.begin(), open.end(), s.get()), open.end());
}

std::unique_ptr<TDbConnection::TPrepared> TDbConnection::Prepare(const QString& sql, const QList<TColumnKind>& kinds)
{
    d->closeResult();
    const SQLHDBC hdbc = d->odbcConnection();
    std::unique_ptr<TPrepared> prepared(new TPrepared);
    TPrepared::State* state = prepared->s.get();
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &state->stmt))) {
        state->stmt = nullptr;
        throw TDbError(QStringLiteral("Não foi possível preparar a instrução"));
    }
    state->d = d.get();
    state->sql = sql;
    state->kinds = kinds;
    d->prepared.push_back(state);
    std::u16string text = d->wire(sql).toStdU16String();
    if (!SQL_SUCCEEDED(SQLPrepareW(state->stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS)))
        d->statementFailed(state->stmt);
    return prepared;
}

qint64 TDbConnection::TPrepared::Exec(const QStringList& values)
{
    State& st = *s;
    if (!st.stmt)
        throw TDbError(QStringLiteral("A instrução preparada já não tem ligação"));
    if (st.d->observer)
        st.d->observer(st.sql, TStatementKind::Command);
    st.d->refuseIfCancelled();
    const int n = int(st.kinds.size());
    if (values.size() != n)
        throw TDbError(QStringLiteral("A instrução preparada pede %1 valores e recebeu %2").arg(n).arg(values.size()));
    st.texts.assign(n, std::u16string());
    st.numbers.assign(n, 0);
    st.lengths.assign(n, 0);
    auto fail = [&] { st.d->statementFailed(st.stmt); };
    for (int i = 0; i < n; ++i) {
        const QString& value = values[i];
        const SQLUSMALLINT at = SQLUSMALLINT(i + 1);
        bool number = false;
        if (st.kinds[i] == TColumnKind::Float && !value.isNull()) {
            // Correctly rounded and free of the locale (the decimal point is always '.').
            const QByteArray ascii = value.toLatin1();
            const auto [end, error] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), st.numbers[i]);
            number = error == std::errc() && end == ascii.constData() + ascii.size();
        }
        SQLRETURN bound;
        if (number || (st.kinds[i] == TColumnKind::Float && value.isNull())) {
            st.lengths[i] = value.isNull() ? SQL_NULL_DATA : SQLLEN(sizeof(double));
            bound = SQLBindParameter(st.stmt, at, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &st.numbers[i], 0,
                                     &st.lengths[i]);
        } else {
            // As a quoted literal is: the server's own character type, converted to the
            // column's where they differ.
            st.texts[i] = value.toStdU16String();
            st.lengths[i] = value.isNull() ? SQL_NULL_DATA : SQLLEN(st.texts[i].size() * sizeof(char16_t));
            bound = SQLBindParameter(st.stmt, at, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_VARCHAR, 8000, 0,
                                     st.texts[i].data(), st.lengths[i] < 0 ? 0 : st.lengths[i], &st.lengths[i]);
        }
        if (!SQL_SUCCEEDED(bound))
            fail();
    }
    SQLRETURN ran = SQL_ERROR;
    {
        const Impl::TInFlight running(st.d, st.stmt);
        ran = st.d->cancelled ? SQLRETURN(SQL_ERROR) : SQLExecute(st.stmt);
    }
    if (!SQL_SUCCEEDED(ran) && ran != SQL_NO_DATA)
        fail();
    st.d->refuseIfCancelled();
    SQLLEN rows = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(st.stmt, &rows)))
        rows = -1;
    st.d->rowsAffected = rows;
    return rows;
}

void TDbConnection::BeginTransaction()
{
    if (d->inTransaction)
        throw TDbError(QStringLiteral("Já existe uma transacção aberta nesta ligação"));
    d->refuseIfCancelled();
    d->connect();
    d->closeResult();
    QSqlDatabase db = d->database();
    if (!db.transaction())
        d->fail(db.lastError());
    d->inTransaction = true;
}

void TDbConnection::Commit()
{
    if (!d->inTransaction)
        throw TDbError(QStringLiteral("Não há nenhuma transacção aberta para confirmar"));
    d->closeResult();
    d->refuseIfCancelled();
    QSqlDatabase db = d->database();
    // A failed commit leaves the transaction open, so that the caller's rollback still undoes it.
    if (!db.commit())
        d->fail(db.lastError());
    d->inTransaction = false;
}

void TDbConnection::Rollback()
{
    if (!d->inTransaction)
        return;
    d->closeResult();
    d->inTransaction = false;
    QString failure;
    {
        QSqlDatabase db = d->database();
        if (db.rollback())
            return;
        const QSqlError error = db.lastError();
        // SQLite undoes a transaction by itself when its commit fails on an I/O error or a
        // full disk, and then answers the rollback that no transaction is active: what the
        // rollback was for is done.
        if (!error.databaseText().contains(QLatin1String("no transaction is active"), Qt::CaseInsensitive))
            failure = d->textOf(error);
    }
    // Either way the driver may still believe itself inside the transaction, and would send
    // the next statements outside any: the connection is not used again.
    d->disconnect();
    if (!failure.isEmpty())
        throw TDbError(failure);
}

bool TDbConnection::inTransaction() const
{
    return d->inTransaction;
}

void TDbConnection::setObserver(Observer observer)
{
    d->observer = std::move(observer);
}

TDbConnection::Observer TDbConnection::observer() const
{
    return d->observer;
}

void TDbConnection::Cancel()
{
    d->cancelled = true;
    std::lock_guard<std::mutex> lock(d->inFlightMutex);
    if (d->inFlight)
        SQLCancel(d->inFlight);
}

bool TDbConnection::translatesTSql() const
{
    return d->translate;
}
