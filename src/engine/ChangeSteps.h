#pragma once
// The three steps of one rate row and the few ways they talk to the database. Internal to
// the engine: callers go through RunRow / RunChange.

#include "ChangeRun.h"
#include "TChangeRequest.h"
#include <QString>

class TDbConnection;

// The one read that tells which optional columns the product table has.
extern const QString kProductProbe;

// Sends a command and waits for it.
void SendCommand(TDbConnection& db, const QString& sql);

// Keeps a read's result open for its scope and closes it on every way out, so that a
// failure never leaves a result open across the rollback that follows it.
class TOpenRead {
public:
    TOpenRead(TDbConnection& db, const QString& sql);
    ~TOpenRead();
    TOpenRead(const TOpenRead&) = delete;
    TOpenRead& operator=(const TOpenRead&) = delete;
    void close();

private:
    TDbConnection& db_;
    bool open_ = false;
};

// Which optional price columns the product table has, from the probe.
struct TPriceColumns {
    bool set2 = false;  // precovenda2 or pvp2
    bool set3 = false;  // precovenda3 or pvp3
    bool pvp4 = false;
    bool pvp5 = false;
};

// The rate table: the new rate's row, its description, factor2 (Meltra), the old row's
// removal and, on Quibon, its record in iva_apagar.
void UpdateRateTable(TDbConnection& db, const TRatePair& row, bool keepCurrentRate,
                     const TAppKind& app, TRunVariant variant);

// Sale and purchase prices, then the rounding, all selected by the old rate.
void RecalculatePrices(TDbConnection& db, const QString& oldRate, const QString& newRate,
                       const TChangeOptions& options, const TAppKind& app);

// Products (and on Quibon the further rate columns and the terminals' defaults) moved from
// the old rate to the new one.
void ReassignRates(TDbConnection& db, const QString& oldRate, const QString& newRate,
                   const TAppKind& app, TRunVariant variant);

// Refuses, before anything is sent, a row or places text that cannot stand in a statement.
void ValidateRowTexts(const TRatePair& row, int rowIndex, const TChangeOptions& options);

inline bool IsMeltra(const TAppKind& app) { return app == QLatin1String("Meltra"); }
inline bool IsQuibon(const TAppKind& app) { return app == QLatin1String("Quibon"); }
