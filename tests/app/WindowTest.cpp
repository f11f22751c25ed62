// The main window as a whole: its texts, the layout of the rate rows and the fonts, the
// navigation between pages, Escape and the close box, focus that is no page entry, the error
// report and the real message boxes.

#include "ErrorReport.h"
#include "MessageBoxDialogs.h"
#include "QtTranslations.h"
#include "UiFont.h"
#include "WindowHarness.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>

namespace {

// Answers the next real message box once it is open, after letting the test look at it.
void AnswerNextBox(const std::function<void(QMessageBox*)>& answer)
{
    QTimer::singleShot(10, [answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            answer(box);
        else
            AnswerNextBox(answer);
    });
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> installation_;

    // Brings a fresh window to the page, the way the operator gets there.
    bool ReachPage(TWindowHarness& h, int page)
    {
        switch (page) {
        case tabcondicoes:
            return true;
        case tabsoftware:
            return h.acceptConditions();
        case tabexec:
            return h.openRateEntry();
        case tabwait: {
            if (!h.openRateEntry())
                return false;
            // The wait page checks its moment when shown: one far ahead only waits.
            h.child<QDateTimeEdit>("AdvDateTimePicker1")->setDateTime(QDateTime(QDate(2099, 1, 1), QTime(0, 0)));
            h.window().SetActivePage(tabwait);
            return true;
        }
        default:
            if (!h.openRateEntry())
                return false;
            h.window().SetActivePage(TWizardPage(page));
            return true;
        }
    }

private slots:
    void initTestCase() { installation_ = EnteredInstallation(); }

    void cleanupTestCase() { installation_.reset(); }

    void texts_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("text");

        auto row = [](const char* place, const char* control, const QString& text) {
            QTest::addRow("%s", control) << QString::fromLatin1(place) << QString::fromLatin1(control) << text;
        };
        row("header", "lbmarca", QStringLiteral("Torvesk"));
        row("header", "lbferramenta", QStringLiteral("Ferramenta para alteração de taxas de IVA"));
        row("header", "ivamode", QStringLiteral("IVA incluido"));

        row("tabcondicoes", "Label1",
            QStringLiteral("Este utilitário permite a alteração da taxa de IVA indicada, assim como a substituição "
                           "dessa taxa em todos os produtos.\nA sua utilização incorrecta poderá provocar cálculos "
                           "incorrectos nos preços e nos documentos."));
        row("tabcondicoes", "Label2",
            QStringLiteral("É da inteira responsabilidade do utilizador a utilização desta ferramenta sem o apoio dos "
                           "técnicos da Torvesk ou de um parceiro autorizado. Não poderão ser imputados à Torvesk ou a "
                           "um parceiro autorizado quaisquer danos resultantes do uso indevido desta aplicação."));
        row("tabcondicoes", "Label3",
            QStringLiteral("Antes de executar esta aplicação deverá efectuar uma cópia de segurança, podendo ser o "
                           "único meio de reverter as alterações."));
        row("tabcondicoes", "Label12", QStringLiteral("v1.1.4"));
        row("tabcondicoes", "btaceito", QStringLiteral("Li e aceito as condições"));
        row("tabcondicoes", "btnaoaceito", QStringLiteral("Não concordo"));

        row("tabsoftware", "Label4", QStringLiteral("Software detectado:"));
        row("tabsoftware", "software", QString());
        row("tabsoftware", "msg1",
            QStringLiteral("Não foi detectado qualquer software na pasta da aplicação. Esta ferramenta deve ser "
                           "colocada na pasta da aplicação que vai sofrer a alteração e ser executada a partir desta "
                           "pasta."));
        row("tabsoftware", "btnext1", QStringLiteral("Continuar"));
        row("tabsoftware", "btsair1", QStringLiteral("Sair"));

        for (const char* n : {"1", "2", "3"}) {
            row("tabexec", qPrintable(QStringLiteral("lbexistente") + n), QStringLiteral("Taxa existente"));
            row("tabexec", qPrintable(QStringLiteral("lbalterar") + n), QStringLiteral("Alterar para"));
            row("tabexec", qPrintable(QStringLiteral("lbdescricao") + n), QStringLiteral("Nova descrição"));
        }
        row("tabexec", "lbopcoes", QStringLiteral("Opções"));
        row("tabexec", "opnovataxa", QStringLiteral("Não eliminar a taxa actual (criar nova)"));
        row("tabexec", "opcompra", QStringLiteral("Actualizar os preços de compra"));
        row("tabexec", "opvenda", QStringLiteral("Actualizar os preços de venda"));
        row("tabexec", "oparredondar", QStringLiteral("Arredondar novos preços"));
        row("tabexec", "lbcasas", QStringLiteral("Arredondamento"));
        row("tabexec", "casas", QStringLiteral("2"));
        row("tabexec", "txtcasas", QStringLiteral("casas decimais"));
        row("tabexec", "BitBtn1", QStringLiteral("Agendar Alteração"));
        row("tabexec", "btalterar", QStringLiteral("Alterar Taxas Agora!"));
        row("tabexec", "BitBtn2", QStringLiteral("Sair"));

        row("tabconcluido", "Label11",
            QStringLiteral("Alteração efectuada com sucesso. Por favor verifique se as taxas e preços se encontram "
                           "correctos e como pretende. Se não estiver correcto deverá entrar na aplicação, repôr a "
                           "cópia de segurança e tentar novamente."));
        row("tabconcluido", "PNGButton1", QStringLiteral("Alterar Outra Taxa"));
        row("tabconcluido", "Fechar", QStringLiteral("Fechar"));

        row("tabagendar", "Label23", QStringLiteral("Seleccione a data e hora em que a alteração será executada"));
        row("tabagendar", "BitBtn4", QStringLiteral("Retroceder"));
        row("tabagendar", "BitBtn3", QStringLiteral("Confirmar"));

        row("tabwait", "Label24", QStringLiteral("Alteração de taxas de IVA agendada com sucesso!"));
        row("tabwait", "Label25",
            QStringLiteral("Aviso! Não encerre esta aplicação ou o agendamento não será executado! No fim da execução "
                           "esta aplicação encerrará automaticamente!"));
        row("tabwait", "Button1", QStringLiteral("Minimizar para a Barra de Tarefas"));
    }

    void texts()
    {
        QFETCH(QString, place);
        QFETCH(QString, control);
        QFETCH(QString, text);
        TWindowHarness h;
        const QWidget* widget = h.child(control);
        QVERIFY(h.child(place)->isAncestorOf(widget));
        QCOMPARE(widget->property("text").toString(), text);
    }

    // The window as the program makes it: fixed size, the pages in the order their numbers
    // name them, the first shown, nothing ticked, only what a page shows from the start
    // visible, and nothing connected or waiting yet.
    void madeWindow()
    {
        TWindowHarness h;
        QCOMPARE(h.window().windowTitle(), QStringLiteral("Alteração de Taxas de IVA"));
        // Qt appends a display name, once one is set, to every title it hands the platform
        // (offscreen excepted): the program sets only the name, which the display name follows.
        SetApplicationTitle();
        QCOMPARE(QCoreApplication::applicationName(), kAppTitle);
        QCoreApplication::setApplicationName(QStringLiteral("sonda"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("sonda"));
        SetApplicationTitle();
        // Centred on the screen with the frame the platform puts round it.
        QVERIFY(h.window().frameGeometry().size() != h.window().size());
        QCOMPARE(h.window().frameGeometry().center(), h.window().screen()->availableGeometry().center());
        QCOMPARE(h.window().size(), QSize(431, 352));
        QCOMPARE(h.window().minimumSize(), h.window().maximumSize());
        QVERIFY(!(h.window().windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

        const auto* pages = h.child<QStackedWidget>(QStringLiteral("pcontrol"));
        QStringList names;
        for (int i = 0; i < pages->count(); ++i)
            names << pages->widget(i)->objectName();
        QCOMPARE(names, (QStringList{"tabcondicoes", "tabsoftware", "tabexec", "tabconcluido", "tabagendar", "tabwait"}));
        QCOMPARE(h.window().ActivePage(), int(tabcondicoes));

        for (const QCheckBox* box : h.window().findChildren<QCheckBox*>())
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
        for (const char* shown : {"msg1", "btsair1", "opnovataxa", "opcompra", "opvenda", "Taxa1"})
            QVERIFY2(!h.child(shown)->isHidden(), shown);
        for (const char* hidden : {"ivamode", "btnext1", "oparredondar", "lbcasas", "casas", "txtcasas"})
            QVERIFY2(h.child(hidden)->isHidden(), hidden);
        QVERIFY(!h.window().Agenda().isActive());
        QVERIFY(!h.window().cn().connected());
    }

    // The three rows one under another at the same spacing, each read from the left, and
    // rates of at most two digits.
    void rateRows()
    {
        TWindowHarness h;
        for (const QString column : {"Taxa", "anterior", "nova", "descricao"}) {
            const int y1 = h.child(column == QLatin1String("Taxa") ? column + "1" : column)->y();
            QCOMPARE(h.child(column + "2")->y() - y1, 27);
            QCOMPARE(h.child(column + "3")->y() - y1, 54);
        }
        for (const QString& row : {QString(), QStringLiteral("2"), QStringLiteral("3")}) {
            QCOMPARE(h.child<QLineEdit>("anterior" + row)->maxLength(), 2);
            QCOMPARE(h.child<QLineEdit>("nova" + row)->maxLength(), 2);
            QCOMPARE(h.child<QLineEdit>("descricao" + row)->maxLength(), 50);
            QVERIFY(h.child("Taxa" + QString(row.isEmpty() ? "1" : row))->x() < h.child("anterior" + row)->x());
            QVERIFY(h.child("anterior" + row)->x() < h.child("nova" + row)->x());
            QVERIFY(h.child("nova" + row)->x() < h.child("descricao" + row)->x());
        }
        QCOMPARE(h.child<QLineEdit>("casas")->maxLength(), 2);
    }

    // One control of each font and colour the pages use, in the family the fallback chose.
    void fontsAndColours_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("tahomaPixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("maker") << "lbmarca" << 27 << false << QColor(Qt::white);
        QTest::newRow("Label1") << "Label1" << 11 << false << QColor(Qt::black);
        QTest::newRow("Label3") << "Label3" << 11 << true << QColor(Qt::red);
        QTest::newRow("software") << "software" << 11 << true << QColor();
        QTest::newRow("description") << "lbdescricao1" << 11 << false << QColor();
        QTest::newRow("Label24") << "Label24" << 13 << true << QColor();
        QTest::newRow("Label25") << "Label25" << 11 << true << QColor(Qt::red);
    }

    void fontsAndColours()
    {
        QFETCH(QString, control);
        QFETCH(int, tahomaPixels);
        QFETCH(bool, bold);
        QFETCH(QColor, colour);
        TWindowHarness h;
        const QWidget* widget = h.child(control);
        QCOMPARE(widget->font().pixelSize(), UiFont(tahomaPixels).pixelSize());
        QCOMPARE(widget->font().family(), UiFont(tahomaPixels).family());
        QCOMPARE(widget->font().bold(), bold);
        if (colour.isValid())
            QCOMPARE(widget->palette().color(widget->foregroundRole()), colour);  // the colour it is drawn in
    }

    // Every text must be readable whole in the place its control has.
    void textsFit()
    {
        TWindowHarness h;
        // The longest texts detection, the wait page and a run's summary can put in their labels.
        h.child<QLabel>("software")->setText(QStringLiteral("Nenhum"));
        h.child<QLabel>("ivamode")->setText(QStringLiteral("IVA não incluído"));
        h.child<QLabel>("lbresumo")->setText(QStringLiteral("23% → 22%: 1 234 567 produtos\n").repeated(3).trimmed());
        QStringList clipped;
        for (const QWidget* widget : h.window().findChildren<QWidget*>()) {
            if (const auto* label = qobject_cast<const QLabel*>(widget)) {
                if (label->text().isEmpty())
                    continue;
                const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                                    : label->sizeHint().width() <= label->width();
                if (!fits)
                    clipped << label->objectName();
            } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
                if (!button->text().isEmpty() && button->sizeHint().width() > button->width())
                    clipped << button->objectName();
            }
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(", ")));
        // Nor does the run's summary reach into the texts around it.
        for (const char* other : {"Label11", "PNGButton1", "Fechar"})
            QVERIFY2(!h.child(other)->geometry().intersects(h.child("lbresumo")->geometry()), other);
        // And nothing of the rate rows runs off the page.
        const int pageWidth = h.child("tabexec")->width();
        for (const char* edit : {"descricao", "descricao2", "descricao3"})
            QVERIFY(h.child(edit)->geometry().right() < pageWidth);
    }

    void navigation_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("to");  // -1: the window closed
        QTest::newRow("conditions accepted") << 0 << "btaceito" << 1;
        QTest::newRow("conditions refused") << 0 << "btnaoaceito" << -1;
        QTest::newRow("continue") << 1 << "btnext1" << 2;
        QTest::newRow("leave detection") << 1 << "btsair1" << -1;
        QTest::newRow("leave rate entry") << 2 << "BitBtn2" << -1;
        QTest::newRow("change another rate") << 3 << "PNGButton1" << 2;
        QTest::newRow("close after change") << 3 << "Fechar" << -1;
        QTest::newRow("back from schedule") << 4 << "BitBtn4" << 2;
    }

    void navigation()
    {
        QFETCH(int, from);
        QFETCH(QString, button);
        QFETCH(int, to);
        TWindowHarness h;
        QVERIFY(ReachPage(h, from));
        QCOMPARE(h.window().ActivePage(), from);
        h.dialogs.clear();
        h.click(button);
        if (to < 0) {
            QTRY_VERIFY(!h.window().isVisible());
        } else {
            QTRY_COMPARE(h.window().ActivePage(), to);
            QVERIFY(h.window().isVisible());
        }
        // Leaving a page asks nothing.
        QCOMPARE(h.dialogs.texts(), QStringList());
    }

    void escapeAndCloseBox_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("focus");  // empty: wherever the page left it
        QTest::addColumn<bool>("escapeCloses");
        QTest::newRow("conditions") << 0 << "" << true;
        QTest::newRow("detection") << 1 << "" << true;
        QTest::newRow("rate entry, in a rate edit") << 2 << "anterior" << true;
        QTest::newRow("rate entry, in a description") << 2 << "descricao3" << true;
        QTest::newRow("rate entry, on a button") << 2 << "btalterar" << true;
        QTest::newRow("done") << 3 << "" << false;
        QTest::newRow("schedule") << 4 << "" << false;
        QTest::newRow("wait") << 5 << "" << false;
    }

    void escapeAndCloseBox()
    {
        QFETCH(int, page);
        QFETCH(QString, focus);
        QFETCH(bool, escapeCloses);
        TWindowHarness h;
        QVERIFY(ReachPage(h, page));
        if (!focus.isEmpty()) {
            h.child(focus)->setFocus();
            QVERIFY(h.waitFocus(focus));
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &h.window();
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::qWait(20);
        QCOMPARE(!h.window().isVisible(), escapeCloses);
        QCOMPARE(h.dialogs.texts(), QStringList());
        if (!escapeCloses) {
            QCOMPARE(h.window().ActivePage(), page);
            // The close box closes every page, without a question.
            QVERIFY(h.window().close());
            QVERIFY(!h.window().isVisible());
            QCOMPARE(h.dialogs.texts(), QStringList());
        }
    }

    // Moving within the page, or leaving the window and coming back, is no entry: the
    // focus stays where the operator put it.
    void focusWithinThePageIsNoEntry()
    {
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        auto* nova = h.child<QLineEdit>("nova");
        nova->setText("7");
        h.child<QLineEdit>("descricao")->setText("Sete");
        nova->setFocus();
        QVERIFY(h.waitFocus("nova"));

        QWidget other;
        auto* elsewhere = new QLineEdit(&other);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        elsewhere->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), elsewhere);
        h.window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.window()));
        QTest::qWait(20);

        QCOMPARE(h.focusName(), QStringLiteral("nova"));
        // Nor did the focus leave the new rate: its description is the operator's.
        QCOMPARE(h.child<QLineEdit>("descricao")->text(), QStringLiteral("Sete"));
    }

    void errorReport_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter gains a stop") << "db" << "Ligação perdida" << "Ligação perdida.";
        QTest::newRow("accented letter") << "std" << "Não foi possível gravar em C:\\ação" << "Não foi possível gravar em C:\\ação.";
        QTest::newRow("stop kept single") << "request" << "'a1' não é um número inteiro válido." << "'a1' não é um número inteiro válido.";
        QTest::newRow("exclamation below the stop") << "db" << "Falhou!" << "Falhou!";
        QTest::newRow("hyphen below the stop") << "db" << "a-" << "a-";
        QTest::newRow("slash above the stop") << "std" << "a/" << "a/.";
        QTest::newRow("trailing blank") << "db" << "Erro " << "Erro ";
        QTest::newRow("trailing line break") << "db" << "Erro\n" << "Erro\n";
        QTest::newRow("empty") << "std" << "" << "";
        QTest::newRow("not an exception") << "int" << "" << "Ocorreu um erro inesperado.";
    }

    void errorReport()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        TWindowHarness h;
        QVERIFY(h.acceptConditions());
        h.dialogs.clear();
        h.window().Guarded([&] {
            if (kind == "db")
                throw TDbError(text);
            if (kind == "request")
                throw TRequestError(text);
            if (kind == "int")
                throw 42;
            throw std::runtime_error(text.toStdString());
        });
        const std::vector<TShownBox> expected = {{TShownBox::Message, shown, QStringLiteral("Taxas de IVA")}};
        QCOMPARE(h.dialogs.shown, expected);
        // The program goes on where it was.
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabsoftware));
    }

    void realMessageBoxes_data()
    {
        QTest::addColumn<QString>("answer");  // how the operator closes the question
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("language");  // of Qt's own texts, loaded as at start; empty: none
        QTest::addColumn<QString>("paste");     // in a line edit's own menu
        QTest::newRow("Yes") << "yes" << true << "" << "&Paste";
        QTest::newRow("No") << "no" << false << "" << "&Paste";
        QTest::newRow("Enter takes the default") << "enter" << false << "" << "&Paste";
        QTest::newRow("Escape") << "escape" << false << "" << "&Paste";
        // The European word, not the Brazilian "C&olar" of the catalogue beneath it.
        QTest::newRow("Portuguese system") << "yes" << true << "pt_PT" << "Co&lar";
        QTest::newRow("German system") << "no" << false << "de_DE" << QString::fromUtf8("Einf&ügen");
    }

    // The boxes the operator really sees: the error icon on messages; on the question the
    // Portuguese buttons whatever the system's language, No the default, so that Enter or
    // Escape changes nothing.
    void realMessageBoxes()
    {
        QFETCH(QString, answer);
        QFETCH(bool, confirmed);
        QFETCH(QString, language);
        QFETCH(QString, paste);
        const TQtTranslations qtTexts = language.isEmpty() ? TQtTranslations() : InstallQtTranslations(QLocale(language));
        QVERIFY2(language.isEmpty() || !qtTexts.empty(), "Qt's catalogues are missing (qt6-translations-l10n)");
        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->text().section(u'\t', 0, 0);
        QVERIFY2(entries.contains(paste), qPrintable(entries.join(u'|')));
        QWidget owner;
        owner.show();
        TMessageBoxDialogs dialogs(&owner);
        QString seen;     // icon|title|text|standard buttons
        QString buttons;  // their texts, the default marked
        auto look = [&](QMessageBox* box) {
            QStringList texts;
            for (QAbstractButton* button : box->buttons())
                texts << button->text() + (button == box->defaultButton() ? "*" : "");
            texts.sort();
            buttons = texts.join(' ');
            seen = QStringLiteral("%1|%2|%3|%4").arg(box->icon()).arg(box->windowTitle(), box->text()).arg(box->standardButtons());
        };

        AnswerNextBox([&](QMessageBox* box) {
            look(box);
            box->button(QMessageBox::Ok)->click();
        });
        dialogs.ShowMessage(QStringLiteral("Falha na ligação à base de dados"), QStringLiteral("Aviso"));
        QCOMPARE(seen, QStringLiteral("%1|Aviso|Falha na ligação à base de dados|%2").arg(QMessageBox::Critical).arg(QMessageBox::Ok));

        AnswerNextBox([&](QMessageBox* box) {
            look(box);
            if (answer == "yes")
                box->button(QMessageBox::Yes)->click();
            else if (answer == "no")
                box->button(QMessageBox::No)->click();
            else
                QTest::keyClick(box, answer == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        });
        QCOMPARE(dialogs.Confirm(kConfirmation, QStringLiteral("Confirme")), confirmed);
        QCOMPARE(seen, QStringLiteral("%1|Confirme|%2|%3").arg(QMessageBox::Question).arg(kConfirmation).arg(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(buttons, QStringLiteral("&Não* &Sim"));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
