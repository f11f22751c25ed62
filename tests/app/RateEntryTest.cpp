// The rate entry page through its real widgets, after a real detection on a Varlo
// installation: key filters and row ticks, the description default, the option rules, the
// entry step, the tab order, and where the two buttons leave the focus when the check
// refuses a request.

#include "WindowHarness.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Types a script into an edit: plain characters as typed, and <BS> <RET> <ENT> <DEL> <HOME>
// <END> <LEFT> <SP> <C-A> <C-C> <C-V> <C-X> <C-2> <C-BS> as those keys; <SELALL> selects the text
// and <PASTE> pastes as the context menu does.
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
            if (name == QLatin1String("SELALL"))
                edit->selectAll();
            else if (name == QLatin1String("PASTE"))
                edit->paste();
            else if (keys.contains(name))
                QTest::keyClick(edit, keys[name].first, keys[name].second);
            else
                QFAIL(qPrintable("no key named " + name));
        } else {
            QTest::keyClick(edit, script[i].toLatin1());
        }
    }
}

// The numbers of the rows whose box is ticked: "13" for rows 1 and 3.
QString TickedRows(const TWindowHarness& h)
{
    QString ticked;
    for (const char* row : {"1", "2", "3"}) {
        if (h.state(QStringLiteral("Taxa") + row).endsWith(u'1'))
            ticked += QLatin1String(row);
    }
    return ticked;
}

}  // namespace

class RateEntryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> installation_;

private slots:
    void initTestCase() { installation_ = EnteredInstallation(); }

    void cleanupTestCase() { installation_.reset(); }

    void typedKeys_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("ticked");  // rows

        QTest::newRow("letter") << "anterior" << "" << "a" << "" << "";
        QTest::newRow("digit") << "anterior" << "" << "2" << "2" << "1";
        QTest::newRow("new rate of row 1") << "nova" << "" << "23" << "23" << "1";
        QTest::newRow("row 2") << "anterior2" << "" << "6" << "6" << "2";
        QTest::newRow("row 3") << "nova3" << "" << "9" << "9" << "3";
        QTest::newRow("letters among digits") << "nova" << "" << "a1b2c" << "12" << "1";
        QTest::newRow("third digit refused by the length") << "anterior3" << "12" << "<END>3" << "12" << "3";
        QTest::newRow("Backspace in an empty edit") << "nova2" << "" << "<BS>" << "" << "2";
        QTest::newRow("Backspace deletes") << "anterior" << "13" << "<END><BS>" << "1" << "1";
        QTest::newRow("Enter") << "anterior2" << "" << "<RET>" << "" << "2";
        QTest::newRow("keypad Enter") << "nova3" << "" << "<ENT>" << "" << "3";
        QTest::newRow("blank and signs") << "anterior" << "" << "<SP>,.-+%" << "" << "";
        QTest::newRow("Ctrl+V") << "anterior" << "" << "<C-V>" << "" << "";
        QTest::newRow("Ctrl+X") << "nova" << "13" << "<SELALL><C-X>" << "13" << "";
        QTest::newRow("Ctrl+C") << "anterior3" << "13" << "<SELALL><C-C>" << "13" << "";
        QTest::newRow("Ctrl with a digit") << "nova3" << "" << "<C-2>" << "" << "";
        QTest::newRow("Ctrl+Backspace") << "anterior2" << "13" << "<END><C-BS>" << "13" << "";
        QTest::newRow("Ctrl+A") << "anterior" << "13" << "<C-A>4" << "13" << "1";
        QTest::newRow("Delete and Home work") << "anterior" << "13" << "<HOME><DEL>" << "3" << "";
        QTest::newRow("Left works") << "nova" << "3" << "<END><LEFT>2" << "23" << "1";
        QTest::newRow("places: letter") << "casas" << "2" << "<END>x" << "2" << "";
        QTest::newRow("places: digits tick nothing") << "casas" << "2" << "<BS>99" << "99" << "";
        QTest::newRow("places: zero") << "casas" << "" << "0" << "0" << "";
        QTest::newRow("places: Backspace") << "casas" << "2" << "<END><BS>" << "" << "";
        QTest::newRow("places: Ctrl+V") << "casas" << "2" << "<SELALL><C-V>" << "2" << "";
        // Text that arrives without a key press passes unfiltered and ticks nothing.
        QTest::newRow("context menu paste") << "anterior" << "" << "<PASTE>" << "a1" << "";
        QTest::newRow("places: context menu paste") << "casas" << "" << "<PASTE>" << "a1" << "";
    }

    void typedKeys()
    {
        QFETCH(QString, edit);
        QFETCH(QString, before);
        QFETCH(QString, keys);
        QFETCH(QString, after);
        QFETCH(QString, ticked);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("opvenda=1;oparredondar=1");  // or the places edit is hidden and takes no keys
        QApplication::clipboard()->setText(QStringLiteral("a12"));

        auto* target = h.child<QLineEdit>(edit);
        target->setText(before);
        target->setFocus();
        QVERIFY(h.waitFocus(edit));
        Type(target, keys);

        QCOMPARE(target->text(), after);
        QCOMPARE(TickedRows(h), ticked);
        // Copy and cut never reached the clipboard.
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a12"));
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
        auto enter = [&] { rate->setFocus(); return h.waitFocus(rate->objectName()); };
        auto leave = [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); };

        QVERIFY(enter());
        Type(rate, "6");
        leave();
        QCOMPARE(description->text(), QStringLiteral("6%"));

        // The operator's own description stays until the new rate is left again.
        QCOMPARE(h.focusName(), description->objectName());
        Type(description, "<SELALL>Seis");
        leave();
        QCOMPARE(description->text(), QStringLiteral("Seis"));
        QVERIFY(enter());
        leave();
        QCOMPARE(description->text(), QStringLiteral("6%"));

        // An emptied rate leaves the description as it is.
        description->setText(QStringLiteral("Outra"));
        QVERIFY(enter());
        Type(rate, "<END><BS>");
        leave();
        QCOMPARE(description->text(), QStringLiteral("Outra"));

        // Pressing a button leaves the edit first, so the check sees the default.
        QVERIFY(enter());
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

    // Sale prices offer rounding, rounding offers its places; unticking hides what hangs on
    // it and unticks rounding. The rules run whether the operator clicks or the program sets
    // the boxes (the reset of the done page, a schedule read back).
    void optionRules_data()
    {
        QTest::addColumn<bool>("byProgram");
        QTest::addColumn<QStringList>("toggles");
        QTest::addColumn<bool>("roundingShown");
        QTest::addColumn<bool>("roundingTicked");
        QTest::addColumn<bool>("placesShown");
        for (const bool program : {false, true}) {
            const char* by = program ? "set" : "clicked";
            QTest::addRow("sale prices %s", by) << program << QStringList{"opvenda"} << true << false << false;
            QTest::addRow("rounding %s", by) << program << QStringList{"opvenda", "oparredondar"} << true << true << true;
            QTest::addRow("rounding off %s", by)
                << program << QStringList{"opvenda", "oparredondar", "oparredondar"} << true << false << false;
            QTest::addRow("sale prices off %s", by)
                << program << QStringList{"opvenda", "oparredondar", "opvenda"} << false << false << false;
            QTest::addRow("sale prices on again %s", by)
                << program << QStringList{"opvenda", "oparredondar", "opvenda", "opvenda"} << true << false << false;
            QTest::addRow("purchase prices alone %s", by) << program << QStringList{"opcompra"} << false << false << false;
        }
    }

    void optionRules()
    {
        QFETCH(bool, byProgram);
        QFETCH(QStringList, toggles);
        QFETCH(bool, roundingShown);
        QFETCH(bool, roundingTicked);
        QFETCH(bool, placesShown);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        for (const QString& name : toggles) {
            if (byProgram)
                h.fill(name + (h.state(name).endsWith(u'1') ? "=0" : "=1"));
            else
                h.click(name);
        }
        auto* rounding = h.child<QCheckBox>("oparredondar");
        QCOMPARE(rounding->isVisible(), roundingShown);
        QCOMPARE(rounding->isChecked(), roundingTicked);
        for (const char* place : {"lbcasas", "casas", "txtcasas"})
            QCOMPARE(h.child(place)->isVisible(), placesShown);
        QCOMPARE(h.child<QLineEdit>("casas")->text(), QStringLiteral("2"));
    }

    void entryStepWithoutVatIncluded()
    {
        const auto withoutVat = EnteredInstallation();
        withoutVat->exec(QStringLiteral("UPDATE configuracao SET ivaincluido = 0"));

        TWindowHarness h;
        // A tick made before the page is entered is hidden with its option, not removed.
        h.fill("opcompra=1");
        QVERIFY(h.openRateEntry());
        QVERIFY(!h.window().VatIncluded());
        for (const char* hidden : {"opcompra", "opvenda", "oparredondar", "lbcasas", "casas", "txtcasas"})
            QVERIFY2(!h.child(hidden)->isVisible(), hidden);
        QCOMPARE(h.state("opcompra;opvenda"), QStringLiteral("opcompra=1;opvenda=0"));
        QVERIFY(h.child("opnovataxa")->isVisible());
    }

    void tabOrder()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("opvenda=1;oparredondar=1");
        const QString controls = h.state();
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
        QCOMPARE(h.state(), controls);
    }

    // Where each button leaves the operator when the check refuses: the boxes in order (their
    // texts are the check's own), the focus on the field to mend or on the button, the page
    // and the controls as they were, and nothing sent to the database before a "Sim". Both
    // buttons run the same check.
    void checkRejections_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("titles");  // of the boxes shown; "Confirme" the question
        QTest::addColumn<bool>("yes");        // the answer to the question
        QTest::addColumn<QString>("focus");   // empty: stays on the button

        struct TCase {
            const char* name;
            bool bothButtons;
            const char* fields;
            const char* titles;
            bool yes;
            const char* focus;
        };
        const TCase cases[] = {
            {"nothing ticked", true, "anterior=13;nova=23;descricao=x", "Erro", true, ""},
            {"row 1 without existing rate", false, "Taxa1=1;nova=23", "Aviso", true, "anterior"},
            {"row 2 without existing rate", false, "Taxa1=1;anterior=13;nova=23;descricao=x;Taxa2=1;nova2=6", "Aviso",
             true, "anterior2"},
            {"row 2 without new rate", false, "Taxa2=1;anterior2=13", "Aviso", true, "nova2"},
            {"row 3 without new rate", false, "Taxa3=1;anterior3=13", "Aviso", true, "nova3"},
            {"same rate as numbers", false, "Taxa1=1;anterior=06;nova=6", "Aviso", true, "nova"},
            // A rate pasted with a letter goes through the error report.
            {"pasted letter", false, "Taxa1=1;anterior=a1;nova=23;descricao=x", "Taxas de IVA", true, ""},
            {"same existing rate twice", false, "Taxa1=1;anterior=13;nova=23;descricao=a;anterior2=13;descricao2=b",
             "Erro", true, ""},
            {"rounding places", true, "Taxa1=1;anterior=13;nova=23;descricao=x;opvenda=1;oparredondar=1;casas=5",
             "Aviso", true, "casas"},
            {"Não at the question", true, "Taxa1=1;anterior=7;nova=23;descricao=x;opnovataxa=1", "Confirme", false, ""},
            {"row 1 rate not in the table", false, "Taxa1=1;anterior=7;nova=23;descricao=x", "Confirme Aviso", true,
             "anterior"},
            {"row 3 rate not in the table", false, "Taxa3=1;anterior3=8;nova3=23;descricao3=y", "Confirme Aviso", true,
             "anterior3"},
            {"row 1 description in use", false, "Taxa1=1;anterior=13;nova=23;descricao=Taxa reduzida;opnovataxa=1",
             "Confirme Aviso", true, "descricao"},
            {"row 2 description in use", false, "Taxa2=1;anterior2=13;nova2=23;descricao2=Taxa reduzida;opnovataxa=1",
             "Confirme Aviso", true, "descricao2"},
            {"row 3 description in use", true, "Taxa3=1;anterior3=23;nova3=13;descricao3=Isento;opnovataxa=1",
             "Confirme Aviso", true, "descricao3"},
        };
        for (const char* button : {"btalterar", "BitBtn1"}) {
            for (const TCase& c : cases) {
                if (button == QLatin1String("BitBtn1") && !c.bothButtons)
                    continue;
                QTest::addRow("%s: %s", button, c.name) << button << c.fields << c.titles << c.yes
                                                        << QString::fromLatin1(*c.focus ? c.focus : button);
            }
        }
    }

    void checkRejections()
    {
        QFETCH(QString, button);
        QFETCH(QString, fields);
        QFETCH(QString, titles);
        QFETCH(bool, yes);
        QFETCH(QString, focus);
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        TStatementLog log;
        log.attach(h.window().cn());
        h.fill(fields);
        const QString before = h.state();
        h.dialogs.answers = {yes};
        h.click(button);

        QStringList shown;
        for (const TShownBox& box : h.dialogs.shown) {
            QCOMPARE(box.kind == TShownBox::Question, box.title == QLatin1String("Confirme"));
            shown << box.title;
        }
        QCOMPARE(shown.join(' '), titles);
        if (!titles.startsWith(QLatin1String("Confirme")) || !yes)
            QCOMPARE(log.statements, QStringList());
        QVERIFY(h.waitFocus(focus));
        QTest::qWait(20);
        QCOMPARE(h.focusName(), focus);
        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QCOMPARE(h.state(), before);
    }

    // The products each existing rate holds appear after a pause in the typing, as the
    // database counts them; F4 lists the rate table's rates with theirs, and a rate chosen
    // there stands in the field as typed.
    void productCounts()
    {
        TWindowHarness h([](TmainEnvironment& env) { env.countPause = 10; });
        QVERIFY(h.openRateEntry());
        auto* existing = h.child<QLineEdit>("anterior2");
        Type(existing, "13");
        const auto count = [&](const char* column) {
            return installation_->scalar(QStringLiteral("SELECT COUNT(*) FROM produtos WHERE %1=13").arg(column)).toInt();
        };
        QTRY_COMPARE(h.child<QLabel>("contagem2")->text(),
                     QStringLiteral("13%: %1 produtos (compra: %2)").arg(count("iva")).arg(count("ivacompra")));
        Type(existing, "<BS><BS>");
        QTRY_COMPARE(h.child<QLabel>("contagem2")->text(), QString());

        QTest::keyClick(existing, Qt::Key_F4);
        auto* list = h.window().findChild<QCompleter*>("ListaTaxas");
        QTRY_VERIFY(list->popup()->isVisible());
        QCOMPARE(list->completionCount(), installation_->scalar("SELECT COUNT(*) FROM iva").toInt());
        QVERIFY2(list->popup()->model()->index(0, 0).data().toString().startsWith("0%  Isento: "),
                 qPrintable(list->popup()->model()->index(0, 0).data().toString()));
        h.fill("Taxa2=0");
        emit list->activated(QStringLiteral("23"));
        QCOMPARE(existing->text(), QStringLiteral("23"));
        QCOMPARE(TickedRows(h), QStringLiteral("2"));
    }

    // "Alterar Outra Taxa" clears the rates, descriptions and options and hides what hangs on
    // them; the row boxes and the places keep what they held, and the entry step runs again.
    void resetAfterADoneChange()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        Type(h.child<QLineEdit>("anterior"), "13");
        h.fill("nova=23;descricao=23%;Taxa2=1;anterior2=6;Taxa3=1;nova3=9;descricao3=z;opnovataxa=1;opcompra=1;"
               "opvenda=1;oparredondar=1;casas=3");
        h.window().SetActivePage(tabconcluido);
        h.click("PNGButton1");
        QVERIFY(h.waitFocus("anterior"));

        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QCOMPARE(h.state(), QStringLiteral("Taxa1=1;anterior=;nova=;descricao=;Taxa2=1;anterior2=;nova2=;descricao2=;"
                                           "Taxa3=1;anterior3=;nova3=;descricao3=;opnovataxa=0;opcompra=0;opvenda=0;"
                                           "oparredondar=0;casas=3"));
        for (const char* hidden : {"oparredondar", "lbcasas", "casas", "txtcasas"})
            QVERIFY2(!h.child(hidden)->isVisible(), hidden);
        QVERIFY(h.child("opvenda")->isVisible());
    }

    // The request is read from the controls of its own row and option, and put back into
    // them, with the detected application and the moment.
    void requestFromAndIntoTheControls()
    {
        const QString fields = "Taxa1=0;anterior=6;nova=13;descricao=a;Taxa2=1;anterior2=13;nova2=23;descricao2=b;"
                               "Taxa3=1;anterior3=0;nova3=06;descricao3=c;opnovataxa=1;opcompra=0;opvenda=1;"
                               "oparredondar=1;casas=4";
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill(fields);
        TChangeRequest request = h.window().RequestFromControls();
        TChangeRequest expected = RequestOf("Varlo", fields);
        expected.moment = request.moment;
        QCOMPARE(Describe(request), Describe(expected));

        // And back, into a window that has not detected anything: the application is the
        // session's, not the controls'.
        TWindowHarness other;
        request.app = TAppKind::None;
        request.moment = QDateTime(QDate(2025, 1, 1), QTime(22, 0, 47));
        other.window().LoadRequest(request);
        QCOMPARE(other.state(), fields);
        QCOMPARE(Describe(other.window().RequestFromControls()), Describe(request));
    }
};

QTEST_MAIN(RateEntryTest)
#include "RateEntryTest.moc"
