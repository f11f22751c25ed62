#pragma once
// A change request as plain values: read from the rate entry page when a button acts, or
// from the settings file of a schedule. The check, the run and the settings file read it.

#include "AppKind.h"
#include "Errors.h"

#include <QDateTime>
#include <QString>
#include <array>

// The most characters each edit of the rate entry page holds: a value longer than that
// cannot have been typed or confirmed there.
constexpr int kRateMaxLength = 2;
constexpr int kDescriptionMaxLength = 50;
constexpr int kPlacesMaxLength = 2;

// One row of the rate entry page. Rates are kept as the one or two digits typed.
struct TRatePair {
    bool enabled = false;
    QString existing;     // E: anterior, anterior2, anterior3
    QString replacement;  // N: nova, nova2, nova3
    QString description;  // D: descricao, descricao2, descricao3 (at most 50 characters)
};

struct TChangeOptions {
    bool keepCurrentRate = false;  // opnovataxa
    bool purchasePrices = false;   // opcompra
    bool salePrices = false;       // opvenda
    bool roundPrices = false;      // oparredondar
    QString places = "2";          // casas, as typed
};

struct TChangeRequest {
    std::array<TRatePair, 3> rows;
    TChangeOptions options;
    TAppKind app = TAppKind::None;  // the detected application
    QDateTime moment;  // the scheduled moment; unused by an immediate change
};
