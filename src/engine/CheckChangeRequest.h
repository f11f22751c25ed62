#pragma once
#include "Dialogs.h"
#include "TChangeRequest.h"

class TDbConnection;

// The control a rejection sends the input focus to.
enum class TRequestField {
    None,
    Existing1, New1, Description1,
    Existing2, New2, Description2,
    Existing3, New3, Description3,
    Places,
};

struct TCheckResult {
    bool accepted = false;
    TRequestField focus = TRequestField::None;
};

// The check shared by "Alterar Taxas Agora!" and "Agendar Alteração": rules on the values,
// the confirmation, then look-ups in the rate table. Shows at most one message (plus the
// confirmation) through dialogs; never writes. A rate that is not a whole number raises
// TRequestError; a database failure raises TDbError.
TCheckResult CheckChangeRequest(const TChangeRequest& request, TDbConnection& db, TDialogs& dialogs);
