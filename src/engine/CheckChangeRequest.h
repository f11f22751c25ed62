#pragma once
// The check a request passes before it is changed or scheduled, in its three phases: the rules
// on the entered values, the operator's confirmation (asked by the caller in between), and the
// look-ups in the rate table. Nothing here writes.

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

// What a phase of the check says: accepted, or the first failing rule's box.
struct TCheckVerdict {
    bool accepted = true;
    QString text;   // the first failing rule's message
    QString title;  // "Erro" or "Aviso"
    TRequestField focus = TRequestField::None;
    // The fields the message is about: the one it sends the focus to, or the two it found equal.
    std::vector<TRequestField> fields;
    // A rate that is not a whole number: an error for the error report rather than a rule's box.
    bool notANumber = false;
};

// The rules on the entered values alone, before any question or look-up. A stored schedule
// goes through the same rules when it is resumed.
TCheckVerdict CheckRequestForm(const TChangeRequest& request);

// The look-ups, once the operator has confirmed: for each ticked row, its existing rate must
// be in the rate table and, when the current rate is kept, the new description must be free.
// Reads only; a database failure raises TDbError.
TCheckVerdict CheckRequestInRateTable(const TChangeRequest& request, TDbConnection& db);
