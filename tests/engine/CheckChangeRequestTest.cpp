// The check that both "Alterar Taxas Agora!" and "Agendar Alteração" run: which message,
// title and focus each rejection gives, what is looked up (and only after the operator
// confirmed), and that nothing but reads reaches the database.

#include "CheckChangeRequest.h"
#include "EngineTestData.h"
#include "TDbConnection.h"
#include "TempInstallation.h"
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(TRequestField)

namespace {

const QString kConfirm = "?Tem a certeza que deseja alterar as taxas de IVA?|Confirme";

// The three phases as the session runs them: the rules, the question answered with answer,
// the look-ups; the boxes as "text|title", the question marked "?".
struct TCheckSeen {
    QStringList boxes;
    TRequestField focus = TRequestField::None;
    bool accepted = false;
};

TCheckSeen Check(const TChangeRequest& request, TDbConnection& db, bool answer)
{
    TCheckSeen seen;
    TCheckVerdict verdict = CheckRequestForm(request);
    if (verdict.notANumber)
        throw TRequestError(verdict.text);
    if (verdict.accepted) {
        seen.boxes << kConfirm;
        if (!answer)
            return seen;
        verdict = CheckRequestInRateTable(request, db);
    }
    seen.accepted = verdict.accepted;
    if (!verdict.accepted) {
        seen.boxes << verdict.text + "|" + verdict.title;
        seen.focus = verdict.focus;
    }
    return seen;
}

}  // namespace

class CheckChangeRequestTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> inst_;
    std::unique_ptr<TDbConnection> db_;
    TStatementLog log_;

private slots:
    void initTestCase()
    {
        inst_ = EnteredInstallation("Varlo", false);
        SetRates(*inst_, {6, 13, 23});
        inst_->exec("UPDATE iva SET descricao = 'taxa d''água' WHERE factor=6");
        db_ = inst_->connect();
        log_.attach(*db_);
    }

    void init()
    {
        log_.clear();
        log_.failAt = 0;
    }

    void check_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<TRequestField>("focus");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QStringList>("statements");

        const QString v = "Varlo";
        const QString lookup13 = "SELECT * FROM iva WHERE factor=13";
        // Refused by a rule on the values: nothing asked, nothing read.
        const auto rule = [](const char* name, const TChangeRequest& r, const QString& box, TRequestField focus) {
            QTest::newRow(name) << r << true << QStringList{box} << focus << false << QStringList{};
        };
        // Refused by a look-up, after the confirmation.
        const auto lookup = [](const char* name, const TChangeRequest& r, const QString& box, TRequestField focus,
                               const QStringList& reads) {
            QTest::newRow(name) << r << true << QStringList{kConfirm, box} << focus << false << reads;
        };
        const auto accept = [](const char* name, const TChangeRequest& r, const QStringList& reads) {
            QTest::newRow(name) << r << true << QStringList{kConfirm} << TRequestField::None << true << reads;
        };
        const QString sameExisting = "Existem taxas de iva para alterar iguais! Verifique esta situação!|Erro";
        const QString sameRate = "A nova taxa não pode ser igual à já existente!|Aviso";
        const QString takenDescription =
            "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!|Aviso";

        rule("nothing ticked though every field is filled",
             Request(v, {Off("13", "23", "a"), Off("6", "7", "b"), Off("8", "9", "c")}),
             "Não definiu nada para alterar!|Erro", TRequestField::None);
        rule("row 1 without existing rate", Request(v, {On("", "23", "a")}),
             "Falta indicar qual a primeira taxa existente a alterar!|Aviso", TRequestField::Existing1);
        rule("row 1 valid, row 2 without existing rate", Request(v, {On("13", "23", "a"), On("", "7", "b")}),
             "Falta indicar qual a segunda taxa existente a alterar!|Aviso", TRequestField::Existing2);
        rule("row 3 without new rate", Request(v, {Off(), Off("1", "2", "x"), On("6", "", "c")}),
             "Falta indicar qual a terceira nova taxa!|Aviso", TRequestField::New3);
        rule("row 2 without new rate comes before row 3's rules", Request(v, {Off(), On("6", "", "b"), On("", "", "c")}),
             "Falta indicar qual a segunda nova taxa!|Aviso", TRequestField::New2);
        rule("06 and 6 are the same rate", Request(v, {On("06", "6", "a")}), sameRate, TRequestField::New1);
        rule("row 1's rules all before row 2's: equal rates of row 1 first",
             Request(v, {On("13", "13", "a"), On("", "", "b")}), sameRate, TRequestField::New1);
        rule("unticked row 2 holding the same existing rate", Request(v, {On("13", "23", "a"), Off("13", "7", "b")}),
             sameExisting, TRequestField::None);
        rule("row 3 against unticked row 2", Request(v, {Off("1", "2", "x"), Off("6", "7", "b"), On("6", "9", "c")}),
             sameExisting, TRequestField::None);
        rule("row 3 against unticked row 1", Request(v, {Off("6", "1", "x"), Off("7", "2", "y"), On("6", "9", "c")}),
             sameExisting, TRequestField::None);
        rule("equal new rates in rows 1 and 3", Request(v, {On("13", "23", "a"), Off(), On("6", "23", "c")}),
             "Existem novas taxas de iva iguais! Verifique esta situação!|Erro", TRequestField::None);
        rule("empty description twice", Request(v, {On("13", "23", ""), Off("1", "2", "")}),
             "Existem descrições iguais! Verifique esta situação!|Erro", TRequestField::None);
        rule("existing rates compared before new rates", Request(v, {On("13", "23", "a"), On("13", "23", "a")}),
             sameExisting, TRequestField::None);
        const QString bad = "A nova descrição da %1 taxa contém caracteres que a base de dados não aceita (emojis ou "
                            "caracteres de controlo)!|Aviso";
        rule("an emoji", Request(v, {On("13", "23", "\U0001F600")}), bad.arg("primeira"), TRequestField::Description1);
        rule("a NUL in row 3", Request(v, {Off(), Off(), On("6", "7", QChar(0))}), bad.arg("terceira"),
             TRequestField::Description3);
        rule("rounding without the sale update, before the places", Request(v, {On("13", "23", "a")}, "cr", "9"),
             "O arredondamento dos preços só pode ser pedido com a actualização dos preços de venda!|Aviso",
             TRequestField::None);
        for (const char* places : {"1", "5", "99", "", "x", "+3"})
            rule(qPrintable(QStringLiteral("rounding to '%1' places").arg(places)),
                 Request(v, {On("13", "23", "a")}, "vr", places),
                 "O número de casas de arredondamento deve estar compreendido entre \"2\" e \"4\"!|Aviso",
                 TRequestField::Places);

        // A pasted rate that is not a whole number cannot be compared: an error for the
        // top-level report, no box of the check.
        rule("existing rate not a number", Request(v, {On("a1", "23", "a")}),
             "raised: 'a1' não é um número inteiro válido.", TRequestField::None);
        rule("new rate of row 2 not a number", Request(v, {On("13", "23", "a"), On("6", "7 ", "b")}),
             "raised: '7 ' não é um número inteiro válido.", TRequestField::None);
        rule("a signed rate", Request(v, {On("+5", "23", "a")}), "raised: '+5' não é um número inteiro válido.",
             TRequestField::None);

        QTest::newRow("No at the confirmation reads nothing")
            << Request(v, {On("7", "23", "a")}) << false << QStringList{kConfirm} << TRequestField::None
            << false << QStringList{};

        lookup("unknown existing rate in row 3 after rows 1 and 2 were found",
               Request(v, {On("13", "24", "a"), On("6", "7", "b"), On("9", "8", "c")}),
               "Não foi encontrada a terceira taxa existente, por favor indique uma taxa válida!|Aviso",
               TRequestField::Existing3,
               {lookup13, "SELECT * FROM iva WHERE factor=6", "SELECT * FROM iva WHERE factor=9"});
        lookup("keep: description of another rate", Request(v, {On("13", "24", "23%")}, "k"), takenDescription,
               TRequestField::Description1,
               {lookup13, "SELECT codigo FROM iva WHERE descricao = '23%' AND factor <> 24"});
        lookup("keep: a quote in the description is doubled and matches",
               Request(v, {On("13", "24", "taxa d'água")}, "k"), takenDescription, TRequestField::Description1,
               {lookup13, "SELECT codigo FROM iva WHERE descricao = 'taxa d''água' AND factor <> 24"});
        accept("keep: description of the new rate's own row", Request(v, {On("13", "23", "23%")}, "k"),
               {lookup13, "SELECT codigo FROM iva WHERE descricao = '23%' AND factor <> 23"});
        accept("no keep: a taken description is not looked up", Request(v, {On("13", "24", "23%")}), {lookup13});

        accept("6 and 06 in two rows differ as text", Request(v, {On("6", "7", "a"), On("06", "8", "b")}),
               {"SELECT * FROM iva WHERE factor=6", "SELECT * FROM iva WHERE factor=06"});
        accept("two empty unticked rows", Request(v, {On("13", "24", "a"), Off(), Off()}), {lookup13});
        accept("row 3 ticked: unticked rows 1 and 2 are never compared",
               Request(v, {Off("5", "7", "x"), Off("5", "7", "x"), On("13", "24", "a")}), {lookup13});
        accept("only row 2 ticked", Request(v, {Off(), On("13", "24", "a"), Off("1", "2", "b")}), {lookup13});
        for (const char* places : {"2", "4", "02"})
            accept(qPrintable(QStringLiteral("rounding to '%1' places").arg(places)),
                   Request(v, {On("13", "23", "a")}, "vr", places), {lookup13});
        accept("places not looked at without rounding", Request(v, {On("13", "23", "a")}, "v", "9"), {lookup13});
    }

    void check()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(bool, answer);
        QFETCH(QStringList, boxes);
        QFETCH(TRequestField, focus);
        QFETCH(bool, accepted);
        QFETCH(QStringList, statements);

        const QString before = inst_->dump();
        TCheckSeen result;
        QStringList raised;
        try {
            result = Check(request, *db_, answer);
        } catch (const TRequestError& e) {
            raised << "raised: " + e.text();
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }

        QCOMPARE(result.boxes + raised, boxes);
        QCOMPARE(result.focus, focus);
        QCOMPARE(result.accepted, accepted);
        QCOMPARE(log_.statements, statements);
        for (auto kind : log_.kinds) QCOMPARE(kind, TStatementKind::Read);
        QCOMPARE(inst_->dump(), before);
    }

    // A failing look-up is the database's error.
    void lookupFailure()
    {
        log_.failAt = 2;
        bool raised = false;
        try {
            CheckRequestInRateTable(Request("Varlo", {On("13", "24", "a")}, "k"), *db_);
        } catch (const TDbError&) {
            raised = true;
        }
        QVERIFY(raised);
        QCOMPARE(log_.statements.size(), 2);

        // The connection is usable afterwards: the failed read left nothing open.
        log_.failAt = 0;
        log_.clear();
        QVERIFY(CheckRequestInRateTable(Request("Varlo", {On("13", "24", "a")}), *db_).accepted);
    }
};

QTEST_GUILESS_MAIN(CheckChangeRequestTest)
#include "CheckChangeRequestTest.moc"
