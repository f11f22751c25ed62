#include "Undo.h"

#include "ChangeSteps.h"
#include "PagedRead.h"
#include "ProductCsv.h"

#include <QElapsedTimer>
#include <QMap>
#include <QPair>
#include <map>
#include <memory>

namespace {

QString AllHold(const TImageTable& table, const QStringList& row)
{
    QStringList terms;
    for (int i = 0; i < table.columns.size(); ++i)
        terms << Holds(table.columns[i], row.value(i), table.kinds.value(i));
    return terms.join(QStringLiteral(" AND "));
}

// "SET a = x, b = y" for every column but the identity's.
QString SetTo(const TImageTable& table, const QStringList& row)
{
    QStringList sets;
    for (int i = 0; i < table.columns.size(); ++i)
        if (!table.identity.contains(table.columns[i]))
            sets << table.columns[i] + QStringLiteral(" = ") + SqlLiteral(row.value(i), table.kinds.value(i));
    return sets.join(QStringLiteral(", "));
}

// Sends a command to the database as the run sends its own, the observer told.
class TSender {
public:
    TSender(TDbConnection& db, TRunObserver* observer) : db_(db), observer_(observer) {}

    qint64 Send(const QString& sql)
    {
        QElapsedTimer timer;
        timer.start();
        SendCommand(db_, sql);
        const qint64 rows = db_.RowsAffected();
        if (observer_)
            observer_->StatementDone({sql, TStatementKind::Command, rows, timer.nsecsElapsed() / 1000, 0, ++done_, 0, {}});
        return rows;
    }

    // The rows of a small table as they are now, every value as exact text.
    QList<QStringList> Now(const TImageTable& table, const QString& where)
    {
        QList<QStringList> rows;
        ReadPaged(db_, ExactReadOf(table, where), [&](const TRowBytes& row) { rows << row.texts(); });
        return rows;
    }

    TDbConnection& db() { return db_; }

private:
    TDbConnection& db_;
    TRunObserver* observer_;
    int done_ = 0;
};

// The products left as they are: their key, then each column as the change left it and as it
// is now, as Portuguese spreadsheets open it.
class TLeftFile {
public:
    TLeftFile(const QString& path, const TImageTable& table) : path_(path), table_(table) {}

    void Add(TDbConnection& db, const TImagedRow& row)
    {
        if (!file_) {
            file_ = std::make_unique<TProductCsv>(path_, QStringLiteral("Não foi possível gravar o ficheiro "));
            QStringList header = table_.identity;
            for (const QString& column : table_.columns)
                if (!table_.identity.contains(column))
                    header << column + QStringLiteral(" depois da alteração") << column + QStringLiteral(" agora");
            file_->Header(header);
        }
        // What the product holds now: nothing when it was removed.
        QStringList now;
        ReadPaged(db, ExactReadOf(table_, IdentityHolds(table_, row.after)),
                  [&](const TRowBytes& found) { now = found.texts(); });
        for (const QString& column : table_.identity) {
            const int i = int(table_.columns.indexOf(column));
            file_->Field(row.after.value(i), Number(i));
        }
        for (int i = 0; i < table_.columns.size(); ++i)
            if (!table_.identity.contains(table_.columns[i])) {
                file_->Field(row.after.value(i), Number(i));
                file_->Field(now.value(i), Number(i));
            }
        file_->EndLine();
    }

    // The file's path once it is whole; empty when no product was left.
    QString Close()
    {
        if (!file_)
            return QString();
        file_->Close();
        return path_;
    }

private:
    bool Number(int column) const
    {
        const TColumnKind kind = table_.kinds.value(column);
        return kind == TColumnKind::Decimal || kind == TColumnKind::Float;
    }

    QString path_;
    const TImageTable& table_;
    std::unique_ptr<TProductCsv> file_;
};

// The statement that puts one product back, for products whose values after the change are
// NULL in the same columns: "SET a = ?, ... WHERE k = ? AND b = ? AND c IS NULL ...".
QString PutBack(const TImageTable& table, const QList<bool>& nullAfter)
{
    QStringList sets, terms;
    for (int i = 0; i < table.columns.size(); ++i) {
        if (!table.identity.contains(table.columns[i]))
            sets << table.columns[i] + QStringLiteral(" = ?");
        terms << table.columns[i] + (nullAfter[i] ? QStringLiteral(" IS NULL") : QStringLiteral(" = ?"));
    }
    return QStringLiteral("UPDATE ") + table.name + QStringLiteral(" SET ") + sets.join(QStringLiteral(", "))
           + QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

// Each product goes back by a statement of its own, so that each is counted as put back or
// left; prepared once for each pattern of NULLs, it is not read again for every product.
class TPutBack {
public:
    TPutBack(TDbConnection& db, const TImageTable& table) : db_(db), table_(table)
    {
        for (const QString& column : table.columns)
            identity_ << table.identity.contains(column);
    }

    // The rows the product's statement changed: 1 when it still held what the change left.
    qint64 Send(const TImagedRow& row)
    {
        const int n = int(table_.columns.size());
        QList<bool> nullAfter(n);
        QString pattern(n, u'0');
        for (int i = 0; i < n; ++i) {
            nullAfter[i] = row.after.value(i).isNull();
            if (nullAfter[i])
                pattern[i] = u'1';
        }
        auto found = statements_.find(pattern);
        if (found == statements_.end()) {
            // Few patterns in practice; a table of many is not kept whole.
            if (statements_.size() >= kKept)
                statements_.clear();
            QList<TColumnKind> kinds;
            for (int i = 0; i < n; ++i)
                if (!identity_[i])
                    kinds << table_.kinds.value(i);
            for (int i = 0; i < n; ++i)
                if (!nullAfter[i])
                    kinds << table_.kinds.value(i);
            found = statements_.emplace(pattern, db_.Prepare(PutBack(table_, nullAfter), kinds)).first;
        }
        values_.clear();
        for (int i = 0; i < n; ++i)
            if (!identity_[i])
                values_ << row.before.value(i);
        for (int i = 0; i < n; ++i)
            if (!nullAfter[i])
                values_ << row.after.value(i);
        return found->second->Exec(values_);
    }

private:
    static constexpr std::size_t kKept = 64;
    TDbConnection& db_;
    const TImageTable& table_;
    QList<bool> identity_;
    QStringList values_;
    std::map<QString, std::unique_ptr<TDbConnection::TPrepared>> statements_;
};

void UndoProducts(TSender& out, const TChangeImage& image, TUndoResult& result, TLeftFile& left, TRunObserver* observer)
{
    const TImageTable& products = image.table(kProducts);
    const qint64 total = image.ProductCount();
    if (observer)
        observer->Progress(0, total);
    TPutBack putBack(out.db(), products);
    qint64 done = 0;
    image.Products([&](const TImagedRow& row) {
        if (putBack.Send(row) == 1) {
            ++result.productsRestored;
        } else {
            ++result.productsLeft;
            left.Add(out.db(), row);
        }
        if (observer && (++done % 500 == 0 || done == total))
            observer->Progress(done, total);
    });
}

// The products that carry rate in any of the rate columns the change wrote. The images keep
// no roles; the rate columns are told by their names, whatever type the server gave them
// (some keep rates as NUMERIC).
bool Carried(TSender& out, const TChangeImage& image, const QString& rate)
{
    QStringList terms;
    const TImageTable& products = image.table(kProducts);
    for (const QString& column : products.columns)
        if (!products.identity.contains(column) && column.startsWith(QLatin1String("iva"), Qt::CaseInsensitive))
            terms << column + QStringLiteral(" = ") + rate;
    if (terms.isEmpty())
        return false;
    TOpenRead read(out.db(), QStringLiteral("SELECT COUNT(*) AS n FROM produtos WHERE ") + terms.join(QStringLiteral(" OR ")));
    const bool carried = out.db().FieldByName(QStringLiteral("n")) > 0;
    read.close();
    return carried;
}

void UndoRates(TSender& out, const TChangeImage& image, TUndoResult& result)
{
    const TImageTable& iva = image.table(kRates);
    const int factorAt = int(iva.columns.indexOf(QStringLiteral("factor")));
    for (const TImagedRow& row : image.SmallTable(kRates)) {
        const QStringList& known = row.after.isEmpty() ? row.before : row.after;
        const QString factor = known.value(factorAt);
        const QList<QStringList> now = out.Now(iva, QStringLiteral("factor = ") + factor);
        const bool asLeft = row.after.isEmpty() ? now.isEmpty() : now == QList<QStringList>{row.after};
        if (!asLeft) {
            ++result.ratesLeft;
            continue;
        }
        if (row.after.isEmpty()) {
            out.Send(QStringLiteral("INSERT INTO iva (") + iva.columns.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (")
                     + [&] {
                           QStringList values;
                           for (int i = 0; i < iva.columns.size(); ++i)
                               values << SqlLiteral(row.before.value(i), iva.kinds.value(i));
                           return values.join(QStringLiteral(", "));
                       }()
                     + u')');
        } else if (row.before.isEmpty()) {
            // A rate made by the change goes again unless a product carries it now.
            if (Carried(out, image, factor)) {
                ++result.ratesLeft;
                continue;
            }
            out.Send(QStringLiteral("DELETE FROM iva WHERE ") + AllHold(iva, row.after));
        } else if (row.before != row.after) {
            out.Send(QStringLiteral("UPDATE iva SET ") + SetTo(iva, row.before) + QStringLiteral(" WHERE ")
                     + AllHold(iva, row.after));
        } else {
            continue;  // untouched by the change
        }
        ++result.ratesRestored;
    }
}

void UndoDeletedRates(TSender& out, const TChangeImage& image)
{
    const TImageTable& deleted = image.table(kDeletedRates);
    if (deleted.name.isEmpty())
        return;
    // Rows alike cannot be told apart: the rows of a code are put back as many as they were,
    // when they are still as many as the change left.
    QMap<QString, QPair<QList<QStringList>, int>> byRow;  // the row's text -> before rows, after count
    for (const TImagedRow& row : image.SmallTable(kDeletedRates)) {
        if (!row.before.isEmpty())
            byRow[row.before.join(u'\x1f')].first << row.before;
        if (!row.after.isEmpty())
            ++byRow[row.after.join(u'\x1f')].second;
    }
    for (auto it = byRow.cbegin(); it != byRow.cend(); ++it) {
        const QStringList sample = it.value().first.isEmpty() ? it.key().split(u'\x1f') : it.value().first.first();
        const QList<QStringList> now = out.Now(deleted, AllHold(deleted, sample));
        if (now.size() != it.value().second || it.value().first.size() == it.value().second)
            continue;
        out.Send(QStringLiteral("DELETE FROM iva_apagar WHERE ") + AllHold(deleted, sample));
        for (const QStringList& row : it.value().first) {
            QStringList values;
            for (int i = 0; i < deleted.columns.size(); ++i)
                values << SqlLiteral(row.value(i), deleted.kinds.value(i));
            out.Send(QStringLiteral("INSERT INTO iva_apagar (") + deleted.columns.join(QStringLiteral(", "))
                     + QStringLiteral(") VALUES (") + values.join(QStringLiteral(", ")) + u')');
        }
    }
}

void UndoTerminals(TSender& out, const TChangeImage& image, TUndoResult& result)
{
    const TImageTable& terminals = image.table(kTerminals);
    if (terminals.name.isEmpty())
        return;
    for (const TImagedRow& row : image.SmallTable(kTerminals)) {
        if (row.before.isEmpty() || row.after.isEmpty() || row.before == row.after)
            continue;
        const qint64 restored = out.Send(QStringLiteral("UPDATE configpostos SET ") + SetTo(terminals, row.before)
                                         + QStringLiteral(" WHERE ") + AllHold(terminals, row.after));
        ++(restored == 1 ? result.terminalsRestored : result.terminalsLeft);
    }
}

}  // namespace

TUndoResult UndoChange(TDbConnection& db, const TChangeImage& image, const TRunHooks& hooks, const QString& leftPath)
{
    TUndoResult result;
    TSender out(db, hooks.observer);
    TLeftFile left(leftPath, image.table(kProducts));
    InOneTransaction(db, hooks, [&] {
        // The rows read stay as read until the commit.
        out.Send(kWriteLock);
        if (hooks.afterBegin) hooks.afterBegin();
        UndoProducts(out, image, result, left, hooks.observer);
        UndoRates(out, image, result);
        UndoDeletedRates(out, image);
        UndoTerminals(out, image, result);
        result.leftFile = left.Close();
        if (hooks.beforeCommit) hooks.beforeCommit();
        return true;
    });
    return result;
}
