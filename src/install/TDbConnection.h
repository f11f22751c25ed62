#pragma once
// The one road to the sibling application's database. Every statement the program sends
// passes through here, one at a time, so that a test can see (and fail) each of them.

#include "Errors.h"

#include <QString>
#include <functional>
#include <memory>

enum class TStatementKind { Read, Command };

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
    void Close();                      // harmless when nothing is open
    void ExecSQL();                    // command; connects first when needed
    // Rows the last command changed, as the driver counts them; -1 when it does not say.
    qint64 RowsAffected() const;

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

    // True when the engine at the other end says it is SQLite and the two T-SQL forms the
    // program uses (SELECT TOP n, GETDATE()) are translated before sending.
    bool translatesTSql() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
