#pragma once
// The program's own failures. Each carries the Portuguese text the operator reads, and they
// share one base so that whatever reaches the top is told in one way, while the places that
// catch std::runtime_error still catch every one of them.

#include <QString>
#include <exception>
#include <stdexcept>

class TTaxasError : public std::runtime_error {
public:
    explicit TTaxasError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// Every failure of the data layer: the text is the data layer's own (driver and server
// messages), never holding the data-link file's password.
class TDbError : public TTaxasError {
public:
    using TTaxasError::TTaxasError;
};

// The operator stopped the run (TDbConnection::Cancel): the statement in flight was
// interrupted, or the next one was refused.
class TDbCancelled : public TDbError {
public:
    TDbCancelled() : TDbError(QStringLiteral("A alteração foi cancelada")) {}
};

// A request that cannot be turned into statements (a rate that is not a whole number, a
// places text that is not digits).
class TRequestError : public TTaxasError {
public:
    using TTaxasError::TTaxasError;
};

// A file or folder the program needs could not be read, written, removed or made; the text
// names it.
class TFileError : public TTaxasError {
public:
    using TTaxasError::TTaxasError;
};

// What the operator is told of an error: the program's own text, any other exception's
// what(), and "Ocorreu um erro inesperado" for anything else.
QString OperatorText(const std::exception& error);
QString OperatorText(const std::exception_ptr& error);

// The driver's text of a failed statement, with a Portuguese sentence before it when it
// shows a cause the operator can act on: the database locked by another program, read-only,
// full, or lacking a table or column. SQLite's texts and SQL Server's English ones are
// recognised; any other text comes back as it is.
QString ExplainedDatabaseText(const QString& driverText);
