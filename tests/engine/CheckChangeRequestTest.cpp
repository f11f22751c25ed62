// The check that both "Alterar Taxas Agora!" and "Agendar Alteração" run: which message,
// title and focus each rejection gives, what is looked up (and only after the operator
// confirmed), and that nothing but reads reaches the database.

#include "CheckChangeRequest.h"
#include "EngineTestData.h"
#include "FakeDialogs.h"
#include "TDbConnection.h"
#include "TempInstallation.h"
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(TRequestField)

namespace {

const QString kConfirm = "?Tem a certeza que deseja alterar as taxas de IVA?|Confirme";

QStringList Boxes(const TFakeDialogs& dialogs)
{
    QStringList out;
    for (const auto& b : dialogs.shown)
        out << (b.kind == TShownBox::Question ? "?" : "") + b.text + "|" + b.title;
    return out;
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
        TInstallationOptions options;
        options.app = "Varlo";
        options.sampleData = false;
        inst_ = std::make_unique<TTempInstallation>(options);
        inst_->enter();
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
        const QStringList none;
        const QString lookup13 = "SELECT * FROM iva WHERE factor=13";

        // Phase 1: nothing is asked and nothing read.
        QTest::newRow("nothing ticked though every field is filled")
            << Request(v, {Off("13", "23", "a"), Off("6", "7", "b"), Off("8", "9", "c")}) << true
            << QStringList{"Não definiu nada para alterar!|Erro"} << TRequestField::None << false << none;
        QTest::newRow("row 1 without existing rate")
            << Request(v, {On("", "23", "a")}) << true
            << QStringList{"Falta indicar qual a primeira taxa existente a alterar!|Aviso"}
            << TRequestField::Existing1 << false << none;
        QTest::newRow("row 1 valid, row 2 without existing rate")
            << Request(v, {On("13", "23", "a"), On("", "7", "b")}) << true
            << QStringList{"Falta indicar qual a segunda taxa existente a alterar!|Aviso"}
            << TRequestField::Existing2 << false << none;
        QTest::newRow("row 3 without new rate")
            << Request(v, {Off(), Off("1", "2", "x"), On("6", "", "c")}) << true
            << QStringList{"Falta indicar qual a terceira nova taxa!|Aviso"} << TRequestField::New3 << false
            << none;
        QTest::newRow("row 2 without new rate comes before row 3's rules")
            << Request(v, {Off(), On("6", "", "b"), On("", "", "c")}) << true
            << QStringList{"Falta indicar qual a segunda nova taxa!|Aviso"} << TRequestField::New2 << false
            << none;
        QTest::newRow("06 and 6 are the same rate")
            << Request(v, {On("06", "6", "a")}) << true
            << QStringList{"A nova taxa não pode ser igual à já existente!|Aviso"} << TRequestField::New1
            << false << none;
        QTest::newRow("row 1's rules all before row 2's: equal rates of row 1 first")
            << Request(v, {On("13", "13", "a"), On("", "", "b")}) << true
            << QStringList{"A nova taxa não pode ser igual à já existente!|Aviso"} << TRequestField::New1
            << false << none;
        QTest::newRow("unticked row 2 holding the same existing rate")
            << Request(v, {On("13", "23", "a"), Off("13", "7", "b")}) << true
            << QStringList{"Existem taxas de iva para alterar iguais! Verifique esta situação!|Erro"}
            << TRequestField::None << false << none;
        QTest::newRow("row 3 against unticked row 2")
            << Request(v, {Off("1", "2", "x"), Off("6", "7", "b"), On("6", "9", "c")}) << true
            << QStringList{"Existem taxas de iva para alterar iguais! Verifique esta situação!|Erro"}
            << TRequestField::None << false << none;
        QTest::newRow("equal new rates in rows 1 and 3")
            << Request(v, {On("13", "23", "a"), Off(), On("6", "23", "c")}) << true
            << QStringList{"Existem novas taxas de iva iguais! Verifique esta situação!|Erro"}
            << TRequestField::None << false << none;
        QTest::newRow("empty description twice")
            << Request(v, {On("13", "23", ""), Off("1", "2", "")}) << true
            << QStringList{"Existem descrições iguais! Verifique esta situação!|Erro"} << TRequestField::None
            << false << none;
        QTest::newRow("existing rates compared before new rates")
            << Request(v, {On("13", "23", "a"), On("13", "23", "a")}) << true
            << QStringList{"Existem taxas de iva para alterar iguais! Verifique esta situação!|Erro"}
            << TRequestField::None << false << none;
        for (const char* places : {"1", "5", "99", "", "x", "+3"})
            QTest::addRow("rounding to '%s' places", places)
                << Request(v, {On("13", "23", "a")}, "vr", places) << true
                << QStringList{"O número de casas de arredondamento deve estar compreendido entre \"2\" e \"4\"!|Aviso"}
                << TRequestField::Places << false << none;

        // Phase 2.
        QTest::newRow("No at the confirmation reads nothing")
            << Request(v, {On("7", "23", "a")}) << false << QStringList{kConfirm} << TRequestField::None
            << false << none;

        // Phase 3.
        QTest::newRow("unknown existing rate is refused after the confirmation")
            << Request(v, {On("7", "23", "a")}) << true
            << QStringList{kConfirm,
                           "Não foi encontrada a primeira taxa existente, por favor indique uma taxa válida!|Aviso"}
            << TRequestField::Existing1 << false << QStringList{"SELECT * FROM iva WHERE factor=7"};
        QTest::newRow("unknown existing rate in row 3 after rows 1 and 2 were found")
            << Request(v, {On("13", "24", "a"), On("6", "7", "b"), On("9", "8", "c")}) << true
            << QStringList{kConfirm,
                           "Não foi encontrada a terceira taxa existente, por favor indique uma taxa válida!|Aviso"}
            << TRequestField::Existing3 << false
            << QStringList{lookup13, "SELECT * FROM iva WHERE factor=6", "SELECT * FROM iva WHERE factor=9"};
        QTest::newRow("keep: description of another rate")
            << Request(v, {On("13", "24", "23%")}, "k") << true
            << QStringList{kConfirm,
                           "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!|Aviso"}
            << TRequestField::Description1 << false
            << QStringList{lookup13, "SELECT codigo FROM iva WHERE descricao = '23%' AND factor <> 24"};
        QTest::newRow("keep: description of the new rate's own row")
            << Request(v, {On("13", "23", "23%")}, "k") << true << QStringList{kConfirm}
            << TRequestField::None << true
            << QStringList{lookup13, "SELECT codigo FROM iva WHERE descricao = '23%' AND factor <> 23"};
        QTest::newRow("no keep: a taken description is not looked up")
            << Request(v, {On("13", "24", "23%")}) << true << QStringList{kConfirm} << TRequestField::None
            << true << QStringList{lookup13};
        QTest::newRow("keep: a quote in the description is doubled and matches")
            << Request(v, {On("13", "24", "taxa d'água")}, "k") << true
            << QStringList{kConfirm,
                           "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!|Aviso"}
            << TRequestField::Description1 << false
            << QStringList{lookup13, "SELECT codigo FROM iva WHERE descricao = 'taxa d''água' AND factor <> 24"};
        QTest::newRow("keep: a quoted description that nobody has")
            << Request(v, {On("13", "24", "it's")}, "k") << true << QStringList{kConfirm}
            << TRequestField::None << true
            << QStringList{lookup13, "SELECT codigo FROM iva WHERE descricao = 'it''s' AND factor <> 24"};

        // Acceptances.
        QTest::newRow("6 and 06 in two rows differ as text")
            << Request(v, {On("6", "7", "a"), On("06", "8", "b")}) << true << QStringList{kConfirm}
            << TRequestField::None << true
            << QStringList{"SELECT * FROM iva WHERE factor=6", "SELECT * FROM iva WHERE factor=06"};
        QTest::newRow("two empty unticked rows")
            << Request(v, {On("13", "24", "a"), Off(), Off()}) << true << QStringList{kConfirm}
            << TRequestField::None << true << QStringList{lookup13};
        QTest::newRow("two equal unticked rows are never compared")
            << Request(v, {On("13", "24", "a"), Off("5", "7", "x"), Off("5", "7", "x")}) << true
            << QStringList{kConfirm} << TRequestField::None << true << QStringList{lookup13};
        QTest::newRow("only row 2 ticked")
            << Request(v, {Off(), On("13", "24", "a"), Off("1", "2", "b")}) << true << QStringList{kConfirm}
            << TRequestField::None << true << QStringList{lookup13};
        for (const char* places : {"2", "4", "02"})
            QTest::addRow("rounding to '%s' places", places)
                << Request(v, {On("13", "23", "a")}, "vr", places) << true << QStringList{kConfirm}
                << TRequestField::None << true << QStringList{lookup13};
        QTest::newRow("places not looked at without rounding")
            << Request(v, {On("13", "23", "a")}, "v", "9") << true << QStringList{kConfirm}
            << TRequestField::None << true << QStringList{lookup13};
    }

    void check()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(bool, answer);
        QFETCH(QStringList, boxes);
        QFETCH(TRequestField, focus);
        QFETCH(bool, accepted);
        QFETCH(QStringList, statements);

        TFakeDialogs dialogs;
        dialogs.defaultAnswer = answer;
        const QString before = inst_->dump();
        TCheckResult result;
        try {
            result = CheckChangeRequest(request, *db_, dialogs);
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }

        QCOMPARE(Boxes(dialogs), boxes);
        QCOMPARE(result.focus, focus);
        QCOMPARE(result.accepted, accepted);
        QCOMPARE(log_.statements, statements);
        for (auto kind : log_.kinds) QCOMPARE(kind, TStatementKind::Read);
        QCOMPARE(inst_->dump(), before);
    }

    // A pasted rate that is not a whole number cannot be compared: it reaches the top-level
    // report as an error, with no box of the check and nothing read.
    void notANumber_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<QString>("error");
        QTest::newRow("existing") << Request("Varlo", {On("a1", "23", "a")}) << "'a1' não é um número inteiro válido.";
        QTest::newRow("new, row 2") << Request("Varlo", {On("13", "23", "a"), On("6", "7 ", "b")})
                                    << "'7 ' não é um número inteiro válido.";
        QTest::newRow("a sign") << Request("Varlo", {On("+5", "23", "a")}) << "'+5' não é um número inteiro válido.";
    }

    void notANumber()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(QString, error);
        TFakeDialogs dialogs;
        try {
            CheckChangeRequest(request, *db_, dialogs);
            QFAIL("accepted or rejected without an error");
        } catch (const TRequestError& e) {
            QCOMPARE(e.text(), error);
        }
        QVERIFY(dialogs.shown.empty());
        QVERIFY(log_.statements.isEmpty());
    }

    // A failing look-up is the database's error, after the confirmation; nothing is shown
    // beyond the question.
    void lookupFailure()
    {
        log_.failAt = 2;
        TFakeDialogs dialogs;
        bool raised = false;
        try {
            CheckChangeRequest(Request("Varlo", {On("13", "24", "a")}, "k"), *db_, dialogs);
        } catch (const TDbError&) {
            raised = true;
        }
        QVERIFY(raised);
        QCOMPARE(Boxes(dialogs), QStringList{kConfirm});
        QCOMPARE(log_.statements.size(), 2);

        // The connection is usable afterwards: the failed read left nothing open.
        log_.failAt = 0;
        log_.clear();
        dialogs.clear();
        QVERIFY(CheckChangeRequest(Request("Varlo", {On("13", "24", "a")}), *db_, dialogs).accepted);
    }
};

QTEST_GUILESS_MAIN(CheckChangeRequestTest)
#include "CheckChangeRequestTest.moc"
