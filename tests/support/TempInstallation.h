#pragma once
// A sibling application's installation in a temporary folder, on a real SQLite database
// reached through the SQLite ODBC driver, for tests.

#include "Installation.h"
#include "TDbConnection.h"
#include <QDir>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <functional>
#include <memory>

class TTempInstallation {
public:
    explicit TTempInstallation(const TInstallationOptions& options = {});
    ~TTempInstallation();  // restores the current directory if enter() changed it

    QString folder() const;
    QString databaseFile() const;
    QString app() const;

    // Makes the folder the process's current directory until destruction.
    void enter();

    // Statements run on a connection of their own (not the program's), for set-up and checks.
    void exec(const QString& sql) const;
    QVariant scalar(const QString& sql) const;
    QList<QVariantList> rows(const QString& sql) const;

    // Every table's schema and rows in a stable order: compare before and after a run.
    QString dump() const;

    // How long the program's connection waits for another connection's lock before its
    // statement or commit fails (the data-link file says 10 s): tests that hold a lock
    // shorten it.
    void setLockTimeout(int milliseconds) const;

    // A TDbConnection on this installation: connection string "FILE NAME=.\<App>.UDL";
    // the folder must be the current directory (enter()) when it connects.
    std::unique_ptr<TDbConnection> connect() const;

private:
    QTemporaryDir dir_;
    TInstallationOptions options_;
    QString previousDir_;
};

// Records what a TDbConnection sends (through its observer) and can make the k-th statement
// (1-based) fail with a TDbError, for fault injection.
class TStatementLog {
public:
    void attach(TDbConnection& db);
    QStringList statements;
    QList<TStatementKind> kinds;
    int failAt = 0;  // 0: never
    void clear() { statements.clear(); kinds.clear(); }
};

// The text of the TDbError that fn throws; empty when it throws none.
QString ErrorOf(const std::function<void()>& fn);

// An installation of app, with or without its sample data, made the current directory.
std::unique_ptr<TTempInstallation> EnteredInstallation(const QString& app = QStringLiteral("Varlo"),
                                                       bool sampleData = true);

// A file's bytes (empty when it cannot be read), and writing them whole, creating the
// folder; false when that fails.
QByteArray FileBytes(const QString& path);
bool WriteFileBytes(const QString& path, const QByteArray& bytes);

// A trigger that refuses to move a product to rate, with why: the database refusing a change.
QString RefusedMoveTrigger(int rate = 23, const QString& why = QStringLiteral("artigo bloqueado"));

// A trigger that keeps the sale price statement running for hours: only an interrupt ends it.
QString SlowPricesTrigger();
