#include "CheckChangeRequest.h"
#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

namespace {

const QString kWarning = QStringLiteral("Aviso");
const QString kError = QStringLiteral("Erro");

struct TRowFields {
    const char* ordinal;
    TRequestField existing, replacement, description;
};

const TRowFields kRows[3] = {
    {"primeira", TRequestField::Existing1, TRequestField::New1, TRequestField::Description1},
    {"segunda", TRequestField::Existing2, TRequestField::New2, TRequestField::Description2},
    {"terceira", TRequestField::Existing3, TRequestField::New3, TRequestField::Description3},
};

// For each ticked row, the two pairs of rows whose texts are compared, in a fixed order. A
// pair of two unticked rows never comes up.
const int kPairs[3][2][2] = {
    {{0, 1}, {0, 2}},
    {{0, 1}, {1, 2}},
    {{2, 1}, {0, 2}},
};

TCheckResult Reject(TDialogs& dialogs, const QString& text, const QString& title,
                    TRequestField focus)
{
    dialogs.ShowMessage(text, title);
    return {false, focus};
}

QString Ordinal(int i) { return QString::fromUtf8(kRows[i].ordinal); }

}  // namespace

TCheckResult CheckChangeRequest(const TChangeRequest& request, TDbConnection& db, TDialogs& dialogs)
{
    const auto& rows = request.rows;
    const TChangeOptions& options = request.options;

    if (!rows[0].enabled && !rows[1].enabled && !rows[2].enabled)
        return Reject(dialogs, QStringLiteral("Não definiu nada para alterar!"), kError,
                      TRequestField::None);

    // Every rule of a row before any rule of the next.
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = rows[i];
        if (!row.enabled) continue;
        if (row.existing.isEmpty())
            return Reject(dialogs,
                          QStringLiteral("Falta indicar qual a %1 taxa existente a alterar!").arg(Ordinal(i)),
                          kWarning, kRows[i].existing);
        if (row.replacement.isEmpty())
            return Reject(dialogs, QStringLiteral("Falta indicar qual a %1 nova taxa!").arg(Ordinal(i)),
                          kWarning, kRows[i].replacement);
        // As whole numbers: "06" and "6" are the same rate.
        const int existing = RateInteger(row.existing);
        if (existing == RateInteger(row.replacement))
            return Reject(dialogs, QStringLiteral("A nova taxa não pode ser igual à já existente!"),
                          kWarning, kRows[i].replacement);
    }

    // As text, unticked rows included: "6" and "06" differ here, two empty texts do not.
    for (int i = 0; i < 3; ++i) {
        if (!rows[i].enabled) continue;
        const auto pairs = kPairs[i];
        for (int p = 0; p < 2; ++p)
            if (rows[pairs[p][0]].existing == rows[pairs[p][1]].existing)
                return Reject(dialogs,
                              QStringLiteral("Existem taxas de iva para alterar iguais! Verifique esta situação!"),
                              kError, TRequestField::None);
        for (int p = 0; p < 2; ++p)
            if (rows[pairs[p][0]].replacement == rows[pairs[p][1]].replacement)
                return Reject(dialogs,
                              QStringLiteral("Existem novas taxas de iva iguais! Verifique esta situação!"),
                              kError, TRequestField::None);
        for (int p = 0; p < 2; ++p)
            if (rows[pairs[p][0]].description == rows[pairs[p][1]].description)
                return Reject(dialogs,
                              QStringLiteral("Existem descrições iguais! Verifique esta situação!"),
                              kError, TRequestField::None);
    }

    if (options.roundPrices) {
        const int places = IntegerOr(options.places, 0);
        if (places < 2 || places > 4)
            return Reject(dialogs,
                          QStringLiteral("O número de casas de arredondamento deve estar compreendido "
                                         "entre \"2\" e \"4\"!"),
                          kWarning, TRequestField::Places);
    }

    if (!dialogs.Confirm(QStringLiteral("Tem a certeza que deseja alterar as taxas de IVA?"),
                         QStringLiteral("Confirme")))
        return {false, TRequestField::None};

    // Only after the confirmation: the operator confirms before the rate table is consulted.
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = rows[i];
        if (!row.enabled) continue;

        bool missing = false;
        {
            TOpenRead read(db, QStringLiteral("SELECT * FROM iva WHERE factor=") + row.existing);
            missing = db.IsEmpty();
            read.close();
        }
        if (missing)
            return Reject(dialogs,
                          QStringLiteral("Não foi encontrada a %1 taxa existente, por favor indique uma "
                                         "taxa válida!")
                              .arg(Ordinal(i)),
                          kWarning, kRows[i].existing);

        if (!options.keepCurrentRate) continue;
        // The new rate's own row is left out: it is the one that will receive the description.
        bool taken = false;
        {
            TOpenRead read(db, QStringLiteral("SELECT codigo FROM iva WHERE descricao = '")
                                   + QuotedText(row.description) + QStringLiteral("' AND factor <> ")
                                   + row.replacement);
            taken = !db.IsEmpty();
            read.close();
        }
        if (taken)
            return Reject(dialogs,
                          QStringLiteral("Não pode haver duas taxas com a mesma descrição, por favor "
                                         "indique uma descrição diferente!"),
                          kWarning, kRows[i].description);
    }

    return {true, TRequestField::None};
}
