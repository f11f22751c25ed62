#pragma once
#include "Dialogs.h"
#include "TChangeRequest.h"

#include <vector>

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

// What the rules on the entered values alone say, before any question or look-up. A stored
// schedule goes through the same rules when it is resumed.
struct TFormVerdict {
    bool accepted = true;
    QString text;   // the first failing rule's message
    QString title;  // "Erro" or "Aviso"
    TRequestField focus = TRequestField::None;
    // The fields the message is about: the one it sends the focus to, or the two it found equal.
    std::vector<TRequestField> fields;
    // A rate that is not a whole number: an error for the error report rather than a rule's box.
    bool notANumber = false;
};

TFormVerdict CheckRequestForm(const TChangeRequest& request);

// The check shared by "Alterar Taxas Agora!" and "Agendar Alteração": rules on the values,
// the confirmation, then look-ups in the rate table. Shows at most one message (plus the
// confirmation) through dialogs; never writes. A rate that is not a whole number raises
// TRequestError; a database failure raises TDbError.
TCheckResult CheckChangeRequest(const TChangeRequest& request, TDbConnection& db, TDialogs& dialogs);
