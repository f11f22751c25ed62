#include "CheckChangeRequest.h"
#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

#include <algorithm>
#include <tuple>

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

TCheckVerdict Refuse(const QString& text, const QString& title, TRequestField focus,
                    std::vector<TRequestField> fields = {})
{
    if (fields.empty() && focus != TRequestField::None)
        fields = {focus};
    return {false, text, title, focus, std::move(fields), false};
}

TCheckVerdict NotANumber(const TRequestError& error, TRequestField field)
{
    TCheckVerdict verdict = Refuse(error.text(), QString(), TRequestField::None, {field});
    verdict.notANumber = true;
    return verdict;
}

QString Ordinal(int i) { return QString::fromUtf8(kRows[i].ordinal); }

// A NUL ends the text where the driver takes it, and a character outside the Basic
// Multilingual Plane (an emoji pasted in, a stray half of one) is cut or refused on the way
// to a column of 16-bit characters: the statement would fail on every attempt.
bool StorableText(const QString& text)
{
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.isSurrogate() || c.category() == QChar::Other_Control; });
}

}  // namespace

TCheckVerdict CheckRequestForm(const TChangeRequest& request)
{
    const auto& rows = request.rows;
    const TChangeOptions& options = request.options;

    if (!rows[0].enabled && !rows[1].enabled && !rows[2].enabled)
        return Refuse(QStringLiteral("Não definiu nada para alterar!"), kError, TRequestField::None);

    // Every rule of a row before any rule of the next.
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = rows[i];
        if (!row.enabled) continue;
        if (row.existing.isEmpty())
            return Refuse(QStringLiteral("Falta indicar qual a %1 taxa existente a alterar!").arg(Ordinal(i)),
                          kWarning, kRows[i].existing);
        if (row.replacement.isEmpty())
            return Refuse(QStringLiteral("Falta indicar qual a %1 nova taxa!").arg(Ordinal(i)), kWarning,
                          kRows[i].replacement);
        // As whole numbers: "06" and "6" are the same rate. Text that is not one (pasted, or
        // written by hand into a schedule) cannot be compared.
        int existing = 0, replacement = 0;
        try {
            existing = RateInteger(row.existing);
        } catch (const TRequestError& e) {
            return NotANumber(e, kRows[i].existing);
        }
        try {
            replacement = RateInteger(row.replacement);
        } catch (const TRequestError& e) {
            return NotANumber(e, kRows[i].replacement);
        }
        if (existing == replacement)
            return Refuse(QStringLiteral("A nova taxa não pode ser igual à já existente!"), kWarning,
                          kRows[i].replacement, {kRows[i].existing, kRows[i].replacement});
        if (!StorableText(row.description))
            return Refuse(QStringLiteral("A nova descrição da %1 taxa contém caracteres que a base de dados não "
                                         "aceita (emojis ou caracteres de controlo)!")
                              .arg(Ordinal(i)),
                          kWarning, kRows[i].description);
    }

    // As text, unticked rows included: "6" and "06" differ here, two empty texts do not.
    using TFieldOf = TRequestField TRowFields::*;
    const std::tuple<QString TRatePair::*, TFieldOf, const char*> kinds[] = {
        {&TRatePair::existing, &TRowFields::existing,
         "Existem taxas de iva para alterar iguais! Verifique esta situação!"},
        {&TRatePair::replacement, &TRowFields::replacement, "Existem novas taxas de iva iguais! Verifique esta situação!"},
        {&TRatePair::description, &TRowFields::description, "Existem descrições iguais! Verifique esta situação!"},
    };
    for (int i = 0; i < 3; ++i) {
        if (!rows[i].enabled) continue;
        for (const auto& [text, field, message] : kinds) {
            for (const auto& pair : kPairs[i]) {
                if (rows[pair[0]].*text == rows[pair[1]].*text)
                    return Refuse(QString::fromUtf8(message), kError, TRequestField::None,
                                  {kRows[pair[0]].*field, kRows[pair[1]].*field});
            }
        }
    }

    // The rate entry page unticks the rounding with the sale update; only a settings file
    // edited by hand could ask for it alone.
    if (options.roundPrices && !options.salePrices)
        return Refuse(RoundingWithoutSaleText(), kWarning, TRequestField::None);

    if (options.roundPrices) {
        const int places = IntegerOr(options.places, 0);
        if (places < 2 || places > 4)
            return Refuse(QStringLiteral("O número de casas de arredondamento deve estar compreendido "
                                         "entre \"2\" e \"4\"!"),
                          kWarning, TRequestField::Places);
    }
    return {};
}

TCheckVerdict CheckRequestInRateTable(const TChangeRequest& request, TDbConnection& db)
{
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = request.rows[i];
        if (!row.enabled) continue;

        bool missing = false;
        {
            TOpenRead read(db, QStringLiteral("SELECT * FROM iva WHERE factor=") + row.existing);
            missing = db.IsEmpty();
            read.close();
        }
        if (missing)
            return Refuse(QStringLiteral("Não foi encontrada a %1 taxa existente, por favor indique uma "
                                         "taxa válida!")
                              .arg(Ordinal(i)),
                          kWarning, kRows[i].existing);

        if (!request.options.keepCurrentRate) continue;
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
            return Refuse(QStringLiteral("Não pode haver duas taxas com a mesma descrição, por favor "
                                         "indique uma descrição diferente!"),
                          kWarning, kRows[i].description);
    }
    return {};
}
