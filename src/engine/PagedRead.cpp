#include "PagedRead.h"

namespace {

// The rows that come after key in the order of columns: (a > x) OR (a = x AND b > y) ...
QString After(const QStringList& columns, const QStringList& key, const QList<TColumnKind>& kinds)
{
    QStringList alternatives;
    for (int i = 0; i < columns.size(); ++i) {
        QStringList terms;
        for (int j = 0; j < i; ++j)
            terms << columns[j] + QStringLiteral(" = ") + SqlLiteral(key[j], kinds.value(j));
        terms << columns[i] + QStringLiteral(" > ") + SqlLiteral(key[i], kinds.value(i));
        alternatives << u'(' + terms.join(QStringLiteral(" AND ")) + u')';
    }
    return u'(' + alternatives.join(QStringLiteral(" OR ")) + u')';
}

}  // namespace

QList<TColumnKind> ReadPaged(TDbConnection& db, const TPagedRead& read,
                             const std::function<void(const TRowBytes& row)>& each)
{
    const QString from = QStringLiteral(" FROM ") + read.table
                         + (read.hold ? QStringLiteral(" WITH (UPDLOCK, HOLDLOCK)") : QString());
    QList<TColumnKind> kinds;
    QStringList selects = read.columns;
    QList<TColumnKind> exact;  // each column's kind where it is read as exact text
    if (read.exact) {
        kinds = read.kinds;
        if (kinds.size() != read.columns.size()) {
            db.setSQL(QStringLiteral("SELECT TOP 1 ") + read.columns.join(QStringLiteral(", ")) + from);
            kinds = db.ReadRows([](const TRowBytes&) {}).kinds;
        }
        for (int i = 0; i < selects.size(); ++i) {
            selects[i] = ExactTextOf(read.columns[i], kinds.value(i));
            exact << kinds.value(i);
        }
    }
    // The order's columns are the first of the row's, where a page's last key is read.
    QList<int> orderAt;
    for (const QString& column : read.order)
        orderAt << int(read.columns.indexOf(column));
    // The page's last key so far, kept as bytes: made a string once a page.
    std::vector<QByteArray> lastBytes(size_t(orderAt.size()));
    QStringList last;
    for (;;) {
        QStringList conditions;
        if (!read.where.isEmpty())
            conditions << u'(' + read.where + u')';
        if (!last.isEmpty()) {
            QList<TColumnKind> orderKinds;
            for (int at : orderAt)
                orderKinds << kinds.value(at);
            conditions << After(read.order, last, orderKinds);
        }
        db.setSQL(QStringLiteral("SELECT ") + (read.paged ? QStringLiteral("TOP %1 ").arg(kReadPage) : QString())
                  + selects.join(QStringLiteral(", ")) + from
                  + (conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")))
                  + (read.order.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + read.order.join(QStringLiteral(", "))));
        const TDbConnection::TRowsRead page = db.ReadRows([&](const TRowBytes& row) {
            if (read.paged)
                for (size_t k = 0; k < lastBytes.size(); ++k) {
                    const int at = orderAt[int(k)];
                    if (at < 0 || at >= row.size() || row.isNull(at)) {
                        lastBytes[k] = QByteArray();
                        continue;
                    }
                    const QByteArrayView value = row.value(at);
                    lastBytes[k].resize(value.size());  // keeps its room: no allocation a row
                    std::copy(value.begin(), value.end(), lastBytes[k].begin());
                }
            each(row);
        }, exact);
        last.clear();
        for (const QByteArray& value : lastBytes)
            last << (value.isNull() ? QString() : QString::fromUtf8(value));
        if (!read.exact)
            kinds = page.kinds;
        if (!read.paged || page.rows < kReadPage)
            return kinds;
    }
}
