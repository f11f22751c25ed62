// The rate entry page through its real widgets, after a real detection on a Varlo
// installation: key filters and row ticks, the description default, the option rules, the
// entry step, the tab order, and where the two buttons leave the focus when the check
// refuses a request.

#include "TempInstallation.h"
#include "WindowHarness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QStringList kRowBoxes = {"Taxa1", "Taxa2", "Taxa3"};

// Types a script into an edit: plain characters as typed, and <BS> <RET> <ENT> <DEL> <HOME>
// <END> <LEFT> <SP> <C-A> <C-C> <C-V> <C-X> <C-2> <C-BS> as those keys; <SELALL> selects the text.
void Type(QLineEdit* edit, const QString& script)
{
    static const QMap<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {"BS", {Qt::Key_Backspace, Qt::NoModifier}}, {"RET", {Qt::Key_Return, Qt::NoModifier}},
        {"ENT", {Qt::Key_Enter, Qt::KeypadModifier}}, {"DEL", {Qt::Key_Delete, Qt::NoModifier}},
        {"HOME", {Qt::Key_Home, Qt::NoModifier}},     {"END", {Qt::Key_End, Qt::NoModifier}},
        {"LEFT", {Qt::Key_Left, Qt::NoModifier}},     {"SP", {Qt::Key_Space, Qt::NoModifier}},
        {"C-A", {Qt::Key_A, Qt::ControlModifier}},    {"C-C", {Qt::Key_C, Qt::ControlModifier}},
        {"C-V", {Qt::Key_V, Qt::ControlModifier}},    {"C-X", {Qt::Key_X, Qt::ControlModifier}},
        {"C-2", {Qt::Key_2, Qt::ControlModifier}},    {"C-BS", {Qt::Key_Backspace, Qt::ControlModifier}},
    };
    for (int i = 0; i < script.size(); ++i) {
        if (script[i] == u'<') {
            const int end = script.indexOf(u'>', i);
            const QString name = script.mid(i + 1, end - i - 1);
            i = end;
            if (name == QLatin1String("SELALL")) {
                edit->selectAll();
                continue;
            }
            QVERIFY2(keys.contains(name), qPrintable(name));
            QTest::keyClick(edit, keys[name].first, keys[name].second);
        } else {
            QTest::keyClick(edit, script[i].toLatin1());
        }
    }
}

QStringList TickedRows(TWindowHarness& h)
{
    QStringList ticked;
    for (const QString& name : kRowBoxes) {
        if (h.child<QCheckBox>(name)->isChecked())
            ticked << name;
    }
    return ticked;
}

}  // namespace

class RateEntryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> installation_;

private slots:
    void initTestCase()
    {
        TInstallationOptions options;
        options.app = QStringLiteral("Varlo");
        installation_ = std::make_unique<TTempInstallation>(options);
        installation_->enter();
    }

    void cleanupTestCase() { installation_.reset(); }

    void typedKeys_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("ticked");

        const QStringList none;
        QTest::newRow("letter") << "anterior" << "" << "a" << "" << none;
        QTest::newRow("digit") << "anterior" << "" << "2" << "2" << QStringList{"Taxa1"};
        QTest::newRow("new rate of row 1") << "nova" << "" << "23" << "23" << QStringList{"Taxa1"};
        QTest::newRow("row 2") << "anterior2" << "" << "6" << "6" << QStringList{"Taxa2"};
        QTest::newRow("row 3") << "nova3" << "" << "9" << "9" << QStringList{"Taxa3"};
        QTest::newRow("letters among digits") << "nova" << "" << "a1b2c" << "12" << QStringList{"Taxa1"};
        QTest::newRow("third digit refused by the length") << "anterior3" << "12" << "<END>3" << "12"
                                                           << QStringList{"Taxa3"};
        QTest::newRow("Backspace in an empty edit") << "nova2" << "" << "<BS>" << "" << QStringList{"Taxa2"};
        QTest::newRow("Backspace deletes") << "anterior" << "13" << "<END><BS>" << "1" << QStringList{"Taxa1"};
        QTest::newRow("Enter") << "anterior2" << "" << "<RET>" << "" << QStringList{"Taxa2"};
        QTest::newRow("keypad Enter") << "nova3" << "" << "<ENT>" << "" << QStringList{"Taxa3"};
        QTest::newRow("blank and signs") << "anterior" << "" << "<SP>,.-+%" << "" << none;
        QTest::newRow("Ctrl+V") << "anterior" << "" << "<C-V>" << "" << none;
        QTest::newRow("Ctrl+V over a selection") << "nova2" << "13" << "<SELALL><C-V>" << "13" << none;
        QTest::newRow("Ctrl+X") << "nova" << "13" << "<SELALL><C-X>" << "13" << none;
        QTest::newRow("Ctrl+C") << "anterior3" << "13" << "<SELALL><C-C>" << "13" << none;
        QTest::newRow("Ctrl with a digit") << "nova3" << "" << "<C-2>" << "" << none;
        QTest::newRow("Ctrl+Backspace") << "anterior2" << "13" << "<END><C-BS>" << "13" << none;
        QTest::newRow("Ctrl+A") << "anterior" << "13" << "<C-A>4" << "13" << QStringList{"Taxa1"};
        QTest::newRow("Delete and Home work") << "anterior" << "13" << "<HOME><DEL>" << "3" << none;
        QTest::newRow("Left works") << "nova" << "3" << "<END><LEFT>2" << "23" << QStringList{"Taxa1"};
        QTest::newRow("places: letter") << "casas" << "2" << "<END>x" << "2" << none;
        QTest::newRow("places: digits tick nothing") << "casas" << "2" << "<BS>99" << "99" << none;
        QTest::newRow("places: zero") << "casas" << "" << "0" << "0" << none;
        QTest::newRow("places: Backspace") << "casas" << "2" << "<END><BS>" << "" << none;
        QTest::newRow("places: Ctrl+V") << "casas" << "2" << "<SELALL><C-V>" << "2" << none;
    }

    void typedKeys()
    {
        QFETCH(QString, edit);
        QFETCH(QString, before);
        QFETCH(QString, keys);
        QFETCH(QString, after);
        QFETCH(QStringList, ticked);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        // The places edit is shown only while rounding is on.
        h.child<QCheckBox>("opvenda")->setChecked(true);
        h.child<QCheckBox>("oparredondar")->setChecked(true);
        QApplication::clipboard()->setText(QStringLiteral("12"));

        auto* target = h.child<QLineEdit>(edit);
        target->setText(before);
        target->setFocus();
        QVERIFY(h.waitFocus(edit));
        Type(target, keys);

        QCOMPARE(target->text(), after);
        QCOMPARE(TickedRows(h), ticked);
        // Copy and cut never reached the clipboard.
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("12"));
    }

    // Text that arrives without a key press passes unfiltered and ticks nothing.
    void pastedText_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("after");
        QTest::newRow("context menu paste") << "anterior" << "paste" << "a1" << "a1";
        QTest::newRow("paste cut to the length") << "nova3" << "paste" << "123" << "12";
        QTest::newRow("inserted") << "anterior2" << "insert" << "x" << "x";
        QTest::newRow("places") << "casas" << "paste" << "7z" << "7z";
    }

    void pastedText()
    {
        QFETCH(QString, edit);
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(QString, after);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.child<QCheckBox>("opvenda")->setChecked(true);
        h.child<QCheckBox>("oparredondar")->setChecked(true);
        auto* target = h.child<QLineEdit>(edit);
        target->clear();
        target->setFocus();
        QVERIFY(h.waitFocus(edit));
        if (how == QLatin1String("paste")) {
            QApplication::clipboard()->setText(text);
            target->paste();
        } else {
            target->insert(text);
        }
        QCOMPARE(target->text(), after);
        QCOMPARE(TickedRows(h), QStringList());
    }

    void descriptionDefault_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("row 1") << "";
        QTest::newRow("row 2") << "2";
        QTest::newRow("row 3") << "3";
    }

    void descriptionDefault()
    {
        QFETCH(QString, suffix);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        auto* rate = h.child<QLineEdit>("nova" + suffix);
        auto* description = h.child<QLineEdit>("descricao" + suffix);
        auto leave = [&] {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        };

        rate->setFocus();
        QVERIFY(h.waitFocus(rate->objectName()));
        Type(rate, "6");
        leave();
        QCOMPARE(description->text(), QStringLiteral("6%"));

        // The operator's own description stays until the new rate is left again.
        QCOMPARE(h.focusName(), description->objectName());
        Type(description, "<SELALL>Seis");
        leave();
        QCOMPARE(description->text(), QStringLiteral("Seis"));
        rate->setFocus();
        QVERIFY(h.waitFocus(rate->objectName()));
        leave();
        QCOMPARE(description->text(), QStringLiteral("6%"));

        // An emptied rate leaves the description as it is.
        description->setText(QStringLiteral("Outra"));
        rate->setFocus();
        QVERIFY(h.waitFocus(rate->objectName()));
        Type(rate, "<END><BS>");
        leave();
        QCOMPARE(description->text(), QStringLiteral("Outra"));

        // Pressing a button leaves the edit first, so the check sees the default.
        rate->setFocus();
        QVERIFY(h.waitFocus(rate->objectName()));
        Type(rate, "23");
        h.dialogs.answers = {false};
        h.click("BitBtn1");
        QCOMPARE(description->text(), QStringLiteral("23%"));
        // Only its own row's description.
        for (const QString& other : {QString(), QStringLiteral("2"), QStringLiteral("3")}) {
            if (other != suffix)
                QCOMPARE(h.child<QLineEdit>("descricao" + other)->text(), QString());
        }
    }

    void optionRules_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<bool>("roundingShown");
        QTest::addColumn<bool>("roundingTicked");
        QTest::addColumn<bool>("placesShown");
        QTest::newRow("sale prices") << QStringList{"opvenda"} << true << false << false;
        QTest::newRow("rounding") << QStringList{"opvenda", "oparredondar"} << true << true << true;
        QTest::newRow("rounding off") << QStringList{"opvenda", "oparredondar", "oparredondar"} << true << false << false;
        QTest::newRow("sale prices off") << QStringList{"opvenda", "oparredondar", "opvenda"} << false << false << false;
        QTest::newRow("sale prices on again") << QStringList{"opvenda", "oparredondar", "opvenda", "opvenda"} << true
                                              << false << false;
        QTest::newRow("purchase prices alone") << QStringList{"opcompra"} << false << false << false;
    }

    void optionRules()
    {
        QFETCH(QStringList, clicks);
        QFETCH(bool, roundingShown);
        QFETCH(bool, roundingTicked);
        QFETCH(bool, placesShown);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        for (const QString& box : clicks)
            h.click(box);
        auto* rounding = h.child<QCheckBox>("oparredondar");
        QCOMPARE(rounding->isVisible(), roundingShown);
        QCOMPARE(rounding->isChecked(), roundingTicked);
        for (const char* place : {"lbcasas", "casas", "txtcasas"})
            QCOMPARE(h.child(place)->isVisible(), placesShown);
        QCOMPARE(h.child<QLineEdit>("casas")->text(), QStringLiteral("2"));
    }

    // A stored request put back by the program runs the same rules as the operator's clicks.
    void optionRulesOnProgramChanges_data()
    {
        QTest::addColumn<bool>("saleBefore");
        QTest::addColumn<bool>("roundBefore");
        QTest::addColumn<bool>("sale");
        QTest::addColumn<bool>("round");
        QTest::addColumn<bool>("roundingShown");
        QTest::addColumn<bool>("placesShown");
        QTest::newRow("ticked") << false << false << true << true << true << true;
        QTest::newRow("sale prices only") << false << false << true << false << true << false;
        QTest::newRow("all unticked") << true << true << false << false << false << false;
        QTest::newRow("rounding unticked") << true << true << true << false << true << false;
    }

    void optionRulesOnProgramChanges()
    {
        QFETCH(bool, saleBefore);
        QFETCH(bool, roundBefore);
        QFETCH(bool, sale);
        QFETCH(bool, round);
        QFETCH(bool, roundingShown);
        QFETCH(bool, placesShown);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        TChangeRequest request = h.window().RequestFromControls();
        request.options.salePrices = saleBefore;
        request.options.roundPrices = roundBefore;
        h.window().LoadRequest(request);
        request.options.salePrices = sale;
        request.options.roundPrices = round;
        h.window().LoadRequest(request);
        QCOMPARE(h.child("oparredondar")->isVisible(), roundingShown);
        QCOMPARE(h.child<QCheckBox>("oparredondar")->isChecked(), round);
        for (const char* place : {"lbcasas", "casas", "txtcasas"})
            QCOMPARE(h.child(place)->isVisible(), placesShown);
    }

    void entryStepWithoutVatIncluded()
    {
        TInstallationOptions options;
        options.app = QStringLiteral("Varlo");
        TTempInstallation withoutVat(options);
        withoutVat.exec(QStringLiteral("UPDATE configuracao SET ivaincluido = 0"));
        withoutVat.enter();

        TWindowHarness h;
        // A tick made before the page is entered is hidden with its option, not removed.
        TChangeRequest request = h.window().RequestFromControls();
        request.options.purchasePrices = true;
        h.window().LoadRequest(request);
        QVERIFY(h.openRateEntry());
        QVERIFY(!h.window().VatIncluded());
        for (const char* hidden : {"opcompra", "opvenda", "oparredondar", "lbcasas", "casas", "txtcasas"})
            QVERIFY2(!h.child(hidden)->isVisible(), hidden);
        QVERIFY(h.child<QCheckBox>("opcompra")->isChecked());
        QVERIFY(!h.child<QCheckBox>("opvenda")->isChecked());
        QVERIFY(h.child("opnovataxa")->isVisible());
    }

    void tabOrder()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.child<QCheckBox>("opvenda")->setChecked(true);
        h.child<QCheckBox>("oparredondar")->setChecked(true);
        const QStringList expected = {"anterior",  "nova",       "descricao", "anterior2",    "nova2",
                                      "descricao2", "anterior3", "nova3",     "descricao3",   "opnovataxa",
                                      "opcompra",   "opvenda",   "oparredondar", "casas",     "btalterar",
                                      "BitBtn2",    "Taxa1",     "Taxa2",     "Taxa3",        "BitBtn1"};
        QStringList visited = {h.focusName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << h.focusName();
        }
        QCOMPARE(visited, expected);
        // Tabbing changed nothing on the way.
        QCOMPARE(TickedRows(h), QStringList());
        QCOMPARE(h.child<QLineEdit>("descricao")->text(), QString());
    }

    void checkRejections_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<bool>("confirmed");  // the question came before the message
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");  // empty: stays on the button

        struct TCase {
            const char* name;
            const char* fields;
            bool confirmed;
            const char* title;
            const char* message;
            const char* focus;
        };
        const TCase cases[] = {
            {"nothing ticked", "anterior=13;nova=23;descricao=x", false, "Erro", "Não definiu nada para alterar!", ""},
            {"row 1 without existing rate", "Taxa1=1;nova=23", false, "Aviso",
             "Falta indicar qual a primeira taxa existente a alterar!", "anterior"},
            {"row 2 without existing rate", "Taxa1=1;anterior=13;nova=23;descricao=x;Taxa2=1;nova2=6", false, "Aviso",
             "Falta indicar qual a segunda taxa existente a alterar!", "anterior2"},
            {"row 2 without new rate", "Taxa2=1;anterior2=13", false, "Aviso", "Falta indicar qual a segunda nova taxa!",
             "nova2"},
            {"row 3 without new rate", "Taxa3=1;anterior3=13", false, "Aviso", "Falta indicar qual a terceira nova taxa!",
             "nova3"},
            {"same rate as numbers", "Taxa1=1;anterior=06;nova=6", false, "Aviso",
             "A nova taxa não pode ser igual à já existente!", "nova"},
            {"same existing rate twice", "Taxa1=1;anterior=13;nova=23;descricao=a;anterior2=13;descricao2=b", false,
             "Erro", "Existem taxas de iva para alterar iguais! Verifique esta situação!", ""},
            {"rounding places", "Taxa1=1;anterior=13;nova=23;descricao=x;opvenda=1;oparredondar=1;casas=5", false,
             "Aviso", "O número de casas de arredondamento deve estar compreendido entre \"2\" e \"4\"!", "casas"},
            {"row 1 rate not in the table", "Taxa1=1;anterior=7;nova=23;descricao=x", true, "Aviso",
             "Não foi encontrada a primeira taxa existente, por favor indique uma taxa válida!", "anterior"},
            {"row 3 rate not in the table", "Taxa3=1;anterior3=8;nova3=23;descricao3=y", true, "Aviso",
             "Não foi encontrada a terceira taxa existente, por favor indique uma taxa válida!", "anterior3"},
            {"row 1 description in use", "Taxa1=1;anterior=13;nova=23;descricao=Taxa reduzida;opnovataxa=1", true,
             "Aviso", "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!",
             "descricao"},
            {"row 2 description in use", "Taxa2=1;anterior2=13;nova2=23;descricao2=Taxa reduzida;opnovataxa=1", true,
             "Aviso", "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!",
             "descricao2"},
            {"row 3 description in use", "Taxa3=1;anterior3=23;nova3=13;descricao3=Isento;opnovataxa=1", true, "Aviso",
             "Não pode haver duas taxas com a mesma descrição, por favor indique uma descrição diferente!",
             "descricao3"},
        };
        for (const char* button : {"btalterar", "BitBtn1"}) {
            for (const TCase& c : cases) {
                QTest::addRow("%s: %s", button, c.name)
                    << button << c.fields << c.confirmed << c.title << QString::fromUtf8(c.message)
                    << (*c.focus ? QString::fromLatin1(c.focus) : QString::fromLatin1(button));
            }
        }
    }

    void checkRejections()
    {
        QFETCH(QString, button);
        QFETCH(QString, fields);
        QFETCH(bool, confirmed);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill(fields);
        h.dialogs.answers = {true};
        h.click(button);

        std::vector<TShownBox> expected;
        if (confirmed)
            expected.push_back({TShownBox::Question, "Tem a certeza que deseja alterar as taxas de IVA?", "Confirme"});
        expected.push_back({TShownBox::Message, message, title});
        QCOMPARE(h.dialogs.shown, expected);
        QVERIFY(h.waitFocus(focus));
        QTest::qWait(20);
        QCOMPARE(h.focusName(), focus);
        QCOMPARE(h.window().ActivePage(), int(tabexec));
    }

    // A rate pasted with a letter stops the check with its own message, through the error
    // report, and nothing is sent to the database.
    void pastedLetterReachesTheErrorReport()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        TStatementLog log;
        log.attach(h.window().cn());
        h.fill("Taxa1=1;anterior=a1;nova=23;descricao=x");
        h.click("btalterar");
        const std::vector<TShownBox> expected = {
            {TShownBox::Message, QStringLiteral("'a1' não é um número inteiro válido."), QStringLiteral("Taxas de IVA")}};
        QCOMPARE(h.dialogs.shown, expected);
        QCOMPARE(log.statements, QStringList());
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QCOMPARE(h.child<QLineEdit>("anterior")->text(), QStringLiteral("a1"));
    }

    void noAtTheConfirmation_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Alterar Taxas Agora!") << "btalterar";
        QTest::newRow("Agendar Alteração") << "BitBtn1";
    }

    void noAtTheConfirmation()
    {
        QFETCH(QString, button);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        TStatementLog log;
        log.attach(h.window().cn());
        h.fill("Taxa1=1;anterior=7;nova=23;descricao=x;opnovataxa=1");
        h.dialogs.answers = {false};
        h.click(button);
        QCOMPARE(h.dialogs.texts(), QStringList{"Tem a certeza que deseja alterar as taxas de IVA?"});
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(h.focusName(), button);
        QCOMPARE(h.window().ActivePage(), int(tabexec));
    }

    void resetAfterADoneChange()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        Type(h.child<QLineEdit>("anterior"), "13");
        h.fill("nova=23;descricao=23%;anterior2=6;nova3=9;descricao3=z;opnovataxa=1;opcompra=1;opvenda=1;"
                "oparredondar=1;casas=3");
        h.window().SetActivePage(tabconcluido);
        h.click("PNGButton1");
        QVERIFY(h.waitFocus("anterior"));

        QCOMPARE(h.window().ActivePage(), int(tabexec));
        for (const char* edit : {"anterior", "nova", "descricao", "anterior2", "nova2", "descricao2", "anterior3",
                                 "nova3", "descricao3"})
            QVERIFY2(h.child<QLineEdit>(edit)->text().isEmpty(), edit);
        for (const char* option : {"opnovataxa", "opcompra", "opvenda", "oparredondar"})
            QVERIFY2(!h.child<QCheckBox>(option)->isChecked(), option);
        for (const char* hidden : {"oparredondar", "lbcasas", "casas", "txtcasas"})
            QVERIFY2(!h.child(hidden)->isVisible(), hidden);
        QVERIFY(h.child("opvenda")->isVisible());
        // The row boxes and the places keep what they held.
        QCOMPARE(TickedRows(h), QStringList{"Taxa1"});
        QCOMPARE(h.child<QLineEdit>("casas")->text(), QStringLiteral("3"));
    }

    void requestFromAndIntoTheControls()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=0;anterior=6;nova=13;descricao=a;Taxa2=1;anterior2=13;nova2=23;descricao2=b;"
                "Taxa3=1;anterior3=0;nova3=06;descricao3=c;opnovataxa=1;opcompra=0;opvenda=1;oparredondar=1;casas=4");
        TChangeRequest request = h.window().RequestFromControls();
        const TRatePair rows[] = {{false, "6", "13", "a"}, {true, "13", "23", "b"}, {true, "0", "06", "c"}};
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(request.rows[row].enabled, rows[row].enabled);
            QCOMPARE(request.rows[row].existing, rows[row].existing);
            QCOMPARE(request.rows[row].replacement, rows[row].replacement);
            QCOMPARE(request.rows[row].description, rows[row].description);
        }
        QVERIFY(request.options.keepCurrentRate);
        QVERIFY(!request.options.purchasePrices);
        QVERIFY(request.options.salePrices);
        QVERIFY(request.options.roundPrices);
        QCOMPARE(request.options.places, QStringLiteral("4"));
        QCOMPARE(request.app, QStringLiteral("Varlo"));
        QVERIFY(request.vatIncluded);

        // And back, into a window that has not detected anything.
        TWindowHarness other;
        request.app = QStringLiteral("Quibon");
        request.moment = QDateTime(QDate(2025, 1, 1), QTime(22, 0, 47));
        other.window().LoadRequest(request);
        QCOMPARE(other.window().DetectedApp(), QStringLiteral("Quibon"));
        const char* edits[3][3] = {{"anterior", "nova", "descricao"},
                                   {"anterior2", "nova2", "descricao2"},
                                   {"anterior3", "nova3", "descricao3"}};
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(other.child<QCheckBox>(kRowBoxes[row])->isChecked(), rows[row].enabled);
            QCOMPARE(other.child<QLineEdit>(edits[row][0])->text(), rows[row].existing);
            QCOMPARE(other.child<QLineEdit>(edits[row][1])->text(), rows[row].replacement);
            QCOMPARE(other.child<QLineEdit>(edits[row][2])->text(), rows[row].description);
        }
        const TChangeRequest back = other.window().RequestFromControls();
        QCOMPARE(back.options.places, QStringLiteral("4"));
        QVERIFY(back.options.keepCurrentRate && back.options.salePrices && back.options.roundPrices);
        QVERIFY(!back.options.purchasePrices);
        QCOMPARE(back.moment, request.moment);
    }
};

QTEST_MAIN(RateEntryTest)
#include "RateEntryTest.moc"
