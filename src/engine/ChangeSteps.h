#pragma once
// The three steps of one rate row and the few ways they talk to the database. Internal to
// the engine: callers go through RunChange.

#include "ChangeRun.h"
#include "RunObserver.h"
#include "TChangeRequest.h"
#include <QString>
#include <QStringList>
#include <vector>

class TDbConnection;

// The one read that tells which optional columns the product table has.
extern const QString kProductProbe;

// A command that writes nothing but makes the transaction a writer's: the rows it then reads
// stay as read until the commit, and no other writer comes between.
extern const QString kWriteLock;

// The keys of configpostos whose values are the terminals' default rates.
extern const QStringList kTerminalKeys;

// The product column of the sale rate: ivavenda on Meltra, iva elsewhere.
QString SaleRateColumn(TAppKind app);

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

// Where the steps' statements go. The run sends them to the database; the progress count
// runs the same steps into a sink that only counts, so the total comes from the same code
// as the statements themselves.
class TStatementSink {
public:
    virtual ~TStatementSink() = default;
    // A command; the rows it changed (-1 when not known).
    virtual qint64 Command(const QString& sql, const TStatementWhat& what) = 0;
    // A read: true when its result has a row.
    virtual bool HasRow(const QString& sql) = 0;
    // A read: for each name, whether the result has that column (without regard to case).
    virtual std::vector<bool> HasColumns(const QString& sql, const QStringList& names) = 0;
};

// A price column and the product rate column that tells which rate its price carries.
struct TPriceColumn {
    QString column;
    QString selector;
    bool stampsValidity = false;  // Meltra's precovenda1: its divide also dates the product
    bool recalculated = true;     // false: only rounded (the purchase price without its option)
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
void UpdateRateTable(TStatementSink& out, const TRatePair& row, bool keepCurrentRate,
                     const TAppKind& app, TRunVariant variant);

// The optional price columns among the product table's column names, as the probe finds them.
TPriceColumns PriceColumnsAmong(const QStringList& productColumns);
// Every price column the options make a row write, sale columns first, then the purchase price
// (which the rounding writes even where it is not recalculated).
std::vector<TPriceColumn> WrittenPriceColumns(const TChangeOptions& options, const TAppKind& app,
                                              const TPriceColumns& has);

// Sale and purchase prices, then the rounding, all selected by the old rate. The rounding
// comes only with the sale update, whose probe tells which columns it rounds.
void RecalculatePrices(TStatementSink& out, const QString& oldRate, const QString& newRate,
                       const TChangeOptions& options, const TAppKind& app);
QString RoundingWithoutSaleText();

// Products (and on Quibon the further rate columns and the terminals' defaults) moved from
// the old rate to the new one; returns the products whose sale rate moved.
qint64 ReassignRates(TStatementSink& out, const QString& oldRate, const QString& newRate,
                   const TAppKind& app, TRunVariant variant);

// Refuses, before anything is sent, a row or places text that cannot stand in a statement,
// and the rounding without the sale update.
void ValidateRowTexts(const TRatePair& row, int rowIndex, const TChangeOptions& options);
