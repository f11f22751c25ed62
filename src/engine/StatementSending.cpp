#include "ChangeSteps.h"
#include "TDbConnection.h"

const QString kProductProbe = QStringLiteral("SELECT TOP 1 * FROM produtos");
const QString kWriteLock = QStringLiteral("UPDATE iva SET factor = factor WHERE 1 = 0");

void SendCommand(TDbConnection& db, const QString& sql)
{
    db.setSQL(sql);
    db.ExecSQL();
}

TOpenRead::TOpenRead(TDbConnection& db, const QString& sql) : db_(db)
{
    db_.setSQL(sql);
    db_.Open();
    open_ = true;
}

TOpenRead::~TOpenRead()
{
    if (!open_) return;
    try {
        db_.Close();
    } catch (...) {
        // Already unwinding from the real failure; that one is what gets reported.
    }
}

void TOpenRead::close()
{
    open_ = false;
    db_.Close();
}
