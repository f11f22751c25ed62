#pragma once
// A change undone from its images, in one transaction: every row that still holds what the
// change left gets back what the change found there, exactly; a row changed since (a sale, a
// price edited by hand) or removed is left as it is and counted; a rate that any product
// carries is never deleted.

#include "ChangeImages.h"
#include "ChangeRun.h"

struct TUndoResult {
    qint64 productsRestored = 0;
    qint64 productsLeft = 0;     // changed since the change, or removed
    qint64 ratesRestored = 0;
    qint64 ratesLeft = 0;        // changed since, or still carried by a product
    qint64 terminalsRestored = 0;
    qint64 terminalsLeft = 0;
    QString leftFile;            // the products left, with their values after the change and now
};

// Undoes the change whose images image holds. hooks as for RunChange (its observer hears the
// rate table's and the terminals' statements, and the products' progress as a count). leftPath
// receives the products left as they are (UTF-8 with a byte-order mark, ';' between fields,
// decimal comma), when there are any. Raises what the database raises (TDbCancelled after a
// cancel), having rolled everything back.
TUndoResult UndoChange(TDbConnection& db, const TChangeImage& image, const TRunHooks& hooks, const QString& leftPath);
