#pragma once
// Many rows of one table read as text, a page at a time in the order of a key: some drivers
// (SQLite's, inside a transaction) hold a whole result in memory before its first row, so a
// table of a million products goes through in pages of a few thousand instead.

#include "TDbConnection.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

constexpr int kReadPage = 5000;

struct TPagedRead {
    QString table;
    QStringList columns;
    QStringList order;    // the rows' order; a page at a time only when it is a key (paged)
    bool paged = false;
    QString where;        // a condition on the rows, or nothing
    // Every value as text that writes back the same value (binary fractions in 20 digits,
    // moments to the millisecond), at the cost of a look at the columns' kinds first, unless
    // kinds gives them.
    bool exact = false;
    QList<TColumnKind> kinds;
    // The rows read stay as read until the transaction ends (an update lock on SQL Server).
    bool hold = false;
};

// Hands each row's values to each, in the order of columns; returns the columns' kinds.
QList<TColumnKind> ReadPaged(TDbConnection& db, const TPagedRead& read,
                             const std::function<void(const TRowBytes& row)>& each);
