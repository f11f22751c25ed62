#pragma once
// The one road to the sibling application's database. Every statement the program sends
// passes through here, one at a time, so that a test can see (and fail) each of them.

#include "Errors.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <vector>

enum class TStatementKind { Read, Command };

// What a column holds, as far as reading it back exactly goes. Decimal: exact as the driver
// writes it; Float: a binary fraction, which only 17 digits write back whole (SQLite keeps its
// decimals so, whatever the column's declared type); DateTime: the server's own moment.
enum class TColumnKind { Text, Integer, Decimal, Float, DateTime };

// A column's value as exact text, in T-SQL: as it stands, or, for a binary fraction or a
// moment, converted so that writing the text back gives the same value.
QString ExactTextOf(const QString& column, TColumnKind kind);

// A value read as text, back into a statement: NULL, a number as written, anything else quoted.
QString SqlLiteral(const QString& value, TColumnKind kind);

// One row's values as UTF-8 bytes, each a view of memory that the row's maker owns: a value
// read by ReadRows lives until the call that hands it over returns. A NULL has no bytes at all
// (a null view); an empty text has its bytes, none of them. Millions of values pass as these,
// not as strings of their own.
class TRowBytes {
public:
    qsizetype size() const { return qsizetype(values_.size()); }
    bool isNull(qsizetype i) const { return values_[size_t(i)].data() == nullptr; }
    QByteArrayView value(qsizetype i) const { return values_[size_t(i)]; }
    QString text(qsizetype i) const;    // a null QString for NULL
    QStringList texts(qsizetype from = 0, qsizetype count = -1) const;
    // The same values (NULL only as NULL) in the first count columns of both.
    bool SameStart(const TRowBytes& other, qsizetype count) const;

    void clear() { values_.clear(); }
    void append(QByteArrayView value) { values_.push_back(value); }

private:
    std::vector<QByteArrayView> values_;
};

class TDbConnection {
public:
    // Sees every statement as built, before any dialect translation and before it is sent.
    // An observer may throw TDbError to make that statement fail (fault injection in tests).
    using Observer = std::function<void(const QString& statement, TStatementKind kind)>;

    TDbConnection();
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    // "FILE NAME=.\Varlo.UDL" and the like: resolved against the current directory when
    // connecting, the file name matched without regard to case.
    void setConnectionString(const QString& text);
    QString connectionString() const;

    // Connected := true / false
    void setConnected(bool on);
    bool connected() const;

    void setSQL(const QString& text);
    QString SQL() const;

    void Open();                       // row-returning statement; connects first when needed
    bool IsEmpty() const;              // true when the open result has no row
    bool FindField(const QString& name) const;      // without regard to case
    qint32 FieldByName(const QString& name) const;  // current row's value as a 32-bit integer
    // Moves the open result to its next row; false past its last one.
    bool Next();
    // The current row's values in the result's column order, as the driver gives them.
    QVariantList Row() const;
    QStringList FieldNames() const;
    void Close();                      // harmless when nothing is open
    void ExecSQL();                    // command; connects first when needed
    // Runs the statement text as a row-returning query and hands each row to each, its values
    // as the driver writes them as text, in UTF-8, in the result's column order, with each
    // column's kind. Made for reading many rows: straight from ODBC into bound buffers, and
    // no string made of a value unless each makes it. Connects first when needed; raises
    // TDbError, or TDbCancelled after a Cancel.
    struct TRowsRead {
        QStringList names;
        QList<TColumnKind> kinds;
        qint64 rows = 0;
    };
    // exact gives, column by column, the kind of each one selected through ExactTextOf (and
    // Text for the others), so that its value is taken as that text. Columns that hold numbers
    // or such moments are fetched as bytes: the driver then hands them over without widening
    // each one.
    TRowsRead ReadRows(const std::function<void(const TRowBytes& row)>& each, const QList<TColumnKind>& exact = {});
    // Rows the last command changed, as the driver counts them; -1 when it does not say.
    qint64 RowsAffected() const;

    // A command sent many times with other values: prepared once, so that neither side reads
    // its text again. Each '?' stands for a value of the column kind given for it, and takes
    // it as a literal of that kind would (a binary fraction as the double its text writes, a
    // text as a quoted one: no national-character type that would make SQL Server convert
    // the column instead). The observer sees the text at each run. Freed with the connection
    // at the latest.
    class TPrepared {
    public:
        ~TPrepared();
        TPrepared(const TPrepared&) = delete;
        TPrepared& operator=(const TPrepared&) = delete;
        // Runs it with values for its '?' in order (a null QString for NULL); returns the rows
        // it changed, -1 when the driver does not say. Raises TDbError, or TDbCancelled after
        // a Cancel.
        qint64 Exec(const QStringList& values);

        struct State;

    private:
        friend class TDbConnection;
        TPrepared();
        std::unique_ptr<State> s;
    };
    std::unique_ptr<TPrepared> Prepare(const QString& sql, const QList<TColumnKind>& kinds);

    // The change runs as one transaction; the layer itself never opens one.
    void BeginTransaction();
    void Commit();
    void Rollback();                   // harmless when no transaction is open
    bool inTransaction() const;

    void setObserver(Observer observer);
    Observer observer() const;

    // From any thread: interrupts the statement in flight where the driver can (SQLCancel)
    // and makes it, and every later statement, fail with TDbCancelled. Rollback still works;
    // closing the connection clears the request.
    void Cancel();

    // The columns that name one row of table, as the driver's catalogue tells: its primary
    // key, else a unique index whose columns are all declared NOT NULL; empty when it has
    // neither (or the driver cannot say). Connects first when needed; no statement is sent.
    QStringList RowKey(const QString& table);

    // True when the engine at the other end says it is SQLite and the two T-SQL forms the
    // program uses (SELECT TOP n, GETDATE()) are translated before sending.
    bool translatesTSql() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
