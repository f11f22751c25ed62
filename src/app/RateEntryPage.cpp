// The rate entry page: three rate rows, the options of the change, and the two buttons
// that check the request.

#include "ChangeRun.h"
#include "RequestText.h"
#include "SimulationReport.h"
#include "Controls.h"
#include "Pictures.h"
#include "Tmain.h"
#include "UiFont.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QStandardItemModel>
#include <QStyle>

namespace {

constexpr int kRowTop = 12;
constexpr int kRowSpacing = 27;
constexpr int kRowHeight = 21;
constexpr int kRateWidth = 23;
constexpr int kDescriptionWidth = 65;
constexpr int kOptionsLeft = 24;

int TextWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text) + 2;
}

enum class TTyped { NoCharacter, Passed, Discarded };

// What a key press types into an edit. Tab and Escape belong to the window, Delete and
// the movement keys type nothing; with Ctrl held a key types a control character (Ctrl+C,
// Ctrl+V, ...), which the filters refuse like any other.
TTyped TypedCharacter(const QKeyEvent& key)
{
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Delete:
        return TTyped::NoCharacter;
    default:
        break;
    }
    const bool control = key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        return control ? TTyped::Discarded : TTyped::Passed;
    const QString text = key.text();
    if (text.isEmpty())
        return TTyped::NoCharacter;
    if (control)
        return TTyped::Discarded;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return TTyped::Discarded;
    }
    return TTyped::Passed;
}

}  // namespace

void Tmain::BuildRateEntryPage(QWidget* page)
{
    const QFont bold = UiFont(11, true);
    const QFont plain = UiFont(11);
    const QString existingCaption = QStringLiteral("Taxa existente");
    const QString newCaption = QStringLiteral("Alterar para");
    const QString descriptionCaption = QStringLiteral("Nova descrição");
    const QString percent = QStringLiteral("%");

    QCheckBox** boxes[] = {&Taxa1, &Taxa2, &Taxa3};
    QLineEdit** existing[] = {&anterior, &anterior2, &anterior3};
    QLineEdit** replacement[] = {&nova, &nova2, &nova3};
    QLineEdit** descriptions[] = {&descricao, &descricao2, &descricao3};
    const QString suffixes[] = {QString(), QStringLiteral("2"), QStringLiteral("3")};

    for (int row = 0; row < 3; ++row) {
        const QString n = QString::number(row + 1);
        const int y = kRowTop + row * kRowSpacing;
        int x = 8;
        auto place = [&](int width) {
            const QRect r(x, y, width, kRowHeight);
            x += width;
            return r;
        };

        *boxes[row] = NewCheckBox(page, QStringLiteral("Taxa") + n, QString(), place(18));
        x += 2;
        QLabel* label = NewLabel(page, QStringLiteral("lbexistente") + n, existingCaption,
                                 place(TextWidth(bold, existingCaption)));
        label->setFont(bold);
        x += 3;
        *existing[row] = NewEdit(page, QStringLiteral("anterior") + suffixes[row], kRateMaxLength, place(kRateWidth));
        x += 2;
        NewLabel(page, QStringLiteral("lbpercent") + n + QStringLiteral("a"), percent, place(TextWidth(plain, percent)));
        x += 6;
        label = NewLabel(page, QStringLiteral("lbalterar") + n, newCaption, place(TextWidth(bold, newCaption)));
        label->setFont(bold);
        x += 3;
        *replacement[row] = NewEdit(page, QStringLiteral("nova") + suffixes[row], kRateMaxLength, place(kRateWidth));
        x += 2;
        NewLabel(page, QStringLiteral("lbpercent") + n + QStringLiteral("b"), percent, place(TextWidth(plain, percent)));
        x += 6;
        NewLabel(page, QStringLiteral("lbdescricao") + n, descriptionCaption, place(TextWidth(plain, descriptionCaption)));
        x += 3;
        *descriptions[row] = NewEdit(page, QStringLiteral("descricao") + suffixes[row], kDescriptionMaxLength, place(kDescriptionWidth));
    }

    QLabel* options = NewLabel(page, QStringLiteral("lbopcoes"), QStringLiteral("Opções"), QRect(8, 94, 120, 16));
    options->setFont(bold);
    opnovataxa = NewCheckBox(page, QStringLiteral("opnovataxa"), QStringLiteral("Não eliminar a taxa actual (criar nova)"),
                             QRect(kOptionsLeft, 112, 300, 19));
    opcompra = NewCheckBox(page, QStringLiteral("opcompra"), QStringLiteral("Actualizar os preços de compra"),
                           QRect(kOptionsLeft, 131, 300, 19));
    opvenda = NewCheckBox(page, QStringLiteral("opvenda"), QStringLiteral("Actualizar os preços de venda"),
                          QRect(kOptionsLeft, 150, 300, 19));
    oparredondar = NewCheckBox(page, QStringLiteral("oparredondar"), QStringLiteral("Arredondar novos preços"),
                               QRect(kOptionsLeft, 169, 300, 19));
    oparredondar->hide();

    const QString placesCaption = QStringLiteral("Arredondamento");
    int x = kOptionsLeft;
    lbcasas = NewLabel(page, QStringLiteral("lbcasas"), placesCaption, QRect(x, 190, TextWidth(bold, placesCaption), kRowHeight));
    lbcasas->setFont(bold);
    x += lbcasas->width() + 4;
    casas = NewEdit(page, QStringLiteral("casas"), kPlacesMaxLength, QRect(x, 190, kRateWidth, kRowHeight));
    casas->setText(QStringLiteral("2"));
    x += kRateWidth + 4;
    const QString placesSuffix = QStringLiteral("casas decimais");
    txtcasas = NewLabel(page, QStringLiteral("txtcasas"), placesSuffix, QRect(x, 190, TextWidth(plain, placesSuffix), kRowHeight));
    for (QWidget* widget : std::initializer_list<QWidget*>{lbcasas, casas, txtcasas})
        widget->hide();

    BitBtn1 = NewButton(page, QStringLiteral("BitBtn1"), QStringLiteral("Agendar Alteração"), QRect(6, 226, 121, 27));
    BitBtn1->setIcon(PictureIcon(QStringLiteral("schedule"), QSize(16, 16)));
    // The change made and undone, to see first what it would do.
    btsimular = NewButton(page, QStringLiteral("btsimular"), QStringLiteral("Simular"), QRect(129, 226, 80, 27));
    btalterar = NewButton(page, QStringLiteral("btalterar"), QStringLiteral("Alterar Taxas Agora!"), QRect(211, 226, 130, 27));
    btalterar->setIcon(PictureIcon(QStringLiteral("apply"), QSize(16, 16)));
    BitBtn2 = NewButton(page, QStringLiteral("BitBtn2"), QStringLiteral("Sair"), QRect(343, 226, 80, 27));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    // Beside the options, what each row's existing rate holds today.
    QLabel* products = NewLabel(page, QStringLiteral("lbcontagem"), QStringLiteral("Produtos com a taxa existente"),
                                QRect(244, 94, 184, 16));
    products->setFont(bold);
    for (int row = 0; row < 3; ++row) {
        contagem[row] = NewLabel(page, QStringLiteral("contagem%1").arg(row + 1), QString(),
                                 QRect(244, 112 + row * 19, 184, 19));
        contagem[row]->setFont(UiFont(10));
    }

    const QList<QWidget*> tabOrder = {anterior,  nova,     descricao,    anterior2, nova2,   descricao2, anterior3,
                                      nova3,     descricao3, opnovataxa, opcompra,  opvenda, oparredondar, casas,
                                      btalterar, BitBtn2,  Taxa1,        Taxa2,     Taxa3,   BitBtn1,      btsimular};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    for (QLineEdit* edit : {anterior, nova, anterior2, nova2, anterior3, nova3, casas}) {
        edit->installEventFilter(this);
        // Composed input would reach the edit without a key press, past the filters.
        edit->setAttribute(Qt::WA_InputMethodEnabled, false);
        edit->setAcceptDrops(false);
    }
}

void Tmain::ConnectRateEntryHandlers()
{
    connect(opvenda, &QCheckBox::toggled, this, Handler(&Tmain::opvendaClick));
    connect(oparredondar, &QCheckBox::toggled, this, Handler(&Tmain::oparredondarClick));
    connect(btsimular, &QPushButton::clicked, this, Handler(&Tmain::btsimularClick));

    Contagem = new QTimer(this);
    Contagem->setObjectName(QStringLiteral("Contagem"));
    Contagem->setSingleShot(true);
    Contagem->setInterval(qMax(env_.countPause, 0));
    connect(Contagem, &QTimer::timeout, this, Handler(&Tmain::ContagemTimer));
    for (QLineEdit* edit : {anterior, anterior2, anterior3})
        connect(edit, &QLineEdit::textChanged, this, Handler(&Tmain::anteriorChange));

    taxas_ = new QStandardItemModel(this);
    ListaTaxas = new QCompleter(taxas_, this);
    ListaTaxas->setObjectName(QStringLiteral("ListaTaxas"));
    // The list shows each rate with its products; choosing one puts its digits in the field.
    ListaTaxas->setCompletionRole(Qt::UserRole);
    ListaTaxas->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    connect(ListaTaxas, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& rate) { Guarded([&] { ListaTaxasActivated(rate); }); });
}

bool Tmain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        bool discard = false;
        if (watched == casas) {
            Guarded([&] { discard = casasKeyPress(key); });
            return discard;
        }
        for (QLineEdit* edit : {anterior, nova, anterior2, nova2, anterior3, nova3}) {
            if (watched == edit) {
                Guarded([&] { discard = anteriorKeyPress(edit, key); });
                return discard;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QCheckBox* Tmain::RowBoxOf(const QLineEdit* rateEdit) const
{
    if (rateEdit == anterior || rateEdit == nova)
        return Taxa1;
    if (rateEdit == anterior2 || rateEdit == nova2)
        return Taxa2;
    return Taxa3;
}

bool Tmain::anteriorKeyPress(QLineEdit* edit, QKeyEvent* event)
{
    // Alt+↓ or F4 opens a list, as a drop-down's does.
    const bool existing = edit == anterior || edit == anterior2 || edit == anterior3;
    if (existing
        && (event->key() == Qt::Key_F4 || (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)))) {
        anteriorListOpen(edit);
        return true;
    }
    switch (TypedCharacter(*event)) {
    case TTyped::NoCharacter:
        return false;
    case TTyped::Passed:
        // Even a Backspace in an empty edit, or a digit beyond the second: typing in a
        // row means the row is wanted.
        RowBoxOf(edit)->setChecked(true);
        return false;
    case TTyped::Discarded:
        break;
    }
    return true;
}

bool Tmain::casasKeyPress(QKeyEvent* event)
{
    return TypedCharacter(*event) == TTyped::Discarded;
}

void Tmain::DefaultDescription(QLineEdit* rate, QLineEdit* description)
{
    if (!rate->text().isEmpty())
        description->setText(rate->text() + QStringLiteral("%"));
}

void Tmain::novaExit()
{
    DefaultDescription(nova, descricao);
}

void Tmain::nova2Exit()
{
    DefaultDescription(nova2, descricao2);
}

void Tmain::nova3Exit()
{
    DefaultDescription(nova3, descricao3);
}

void Tmain::opvendaClick()
{
    // Rounding applies to the sale prices only.
    if (opvenda->isChecked()) {
        oparredondar->show();
    } else {
        oparredondar->setChecked(false);
        for (QWidget* widget : std::initializer_list<QWidget*>{oparredondar, lbcasas, casas, txtcasas})
            widget->hide();
    }
}

void Tmain::oparredondarClick()
{
    const bool rounding = oparredondar->isChecked();
    for (QWidget* widget : std::initializer_list<QWidget*>{lbcasas, casas, txtcasas})
        widget->setVisible(rounding);
}

void Tmain::tabexecEnter()
{
    anterior->setFocus();
    // The price options are offered only for prices kept with VAT included; whatever
    // they hold stays.
    opvenda->setVisible(session_->VatIncluded());
    opcompra->setVisible(session_->VatIncluded());
    ShowUndoable();
}

TChangeRequest Tmain::RequestFromControls() const
{
    TChangeRequest request;
    const QCheckBox* boxes[] = {Taxa1, Taxa2, Taxa3};
    const QLineEdit* existing[] = {anterior, anterior2, anterior3};
    const QLineEdit* replacement[] = {nova, nova2, nova3};
    const QLineEdit* descriptions[] = {descricao, descricao2, descricao3};
    for (int row = 0; row < 3; ++row) {
        request.rows[row].enabled = boxes[row]->isChecked();
        request.rows[row].existing = existing[row]->text();
        request.rows[row].replacement = replacement[row]->text();
        request.rows[row].description = descriptions[row]->text();
    }
    request.options.keepCurrentRate = opnovataxa->isChecked();
    request.options.purchasePrices = opcompra->isChecked();
    request.options.salePrices = opvenda->isChecked();
    request.options.roundPrices = oparredondar->isChecked();
    request.options.places = casas->text();
    request.app = session_->DetectedApp();
    request.moment = AdvDateTimePicker1->dateTime();
    return request;
}

void Tmain::LoadRequest(const TChangeRequest& request)
{
    QCheckBox* boxes[] = {Taxa1, Taxa2, Taxa3};
    QLineEdit* existing[] = {anterior, anterior2, anterior3};
    QLineEdit* replacement[] = {nova, nova2, nova3};
    QLineEdit* descriptions[] = {descricao, descricao2, descricao3};
    for (int row = 0; row < 3; ++row) {
        boxes[row]->setChecked(request.rows[row].enabled);
        existing[row]->setText(request.rows[row].existing);
        replacement[row]->setText(request.rows[row].replacement);
        descriptions[row]->setText(request.rows[row].description);
    }
    // In this order the option rules leave the same controls shown as when the operator
    // ticked them.
    opnovataxa->setChecked(request.options.keepCurrentRate);
    opcompra->setChecked(request.options.purchasePrices);
    opvenda->setChecked(request.options.salePrices);
    oparredondar->setChecked(request.options.roundPrices);
    casas->setText(request.options.places);
    AdvDateTimePicker1->setDateTime(request.moment);
}

void Tmain::FocusRequestField(TRequestField field)
{
    QWidget* target = nullptr;
    switch (field) {
    case TRequestField::None: break;
    case TRequestField::Existing1: target = anterior; break;
    case TRequestField::New1: target = nova; break;
    case TRequestField::Description1: target = descricao; break;
    case TRequestField::Existing2: target = anterior2; break;
    case TRequestField::New2: target = nova2; break;
    case TRequestField::Description2: target = descricao2; break;
    case TRequestField::Existing3: target = anterior3; break;
    case TRequestField::New3: target = nova3; break;
    case TRequestField::Description3: target = descricao3; break;
    case TRequestField::Places: target = casas; break;
    }
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}

void Tmain::btalterarClick()
{
    session_->CheckChangeRequest(RequestFromControls(), TCheckPurpose::ChangeNow);
}

void Tmain::Agendar()
{
    session_->CheckChangeRequest(RequestFromControls(), TCheckPurpose::Schedule);
}

void Tmain::btsimularClick()
{
    session_->CheckChangeRequest(RequestFromControls(), TCheckPurpose::Simulation);
}

void Tmain::SessionSimulationEnded(const TSimulation& simulation)
{
    dialogs_->ShowSimulation(SimulationReportOf(simulation, session_->RunRequest()));
}

void Tmain::anteriorChange()
{
    if (env_.countPause >= 0)
        Contagem->start();
}

void Tmain::ContagemTimer()
{
    const QLineEdit* existing[] = {anterior, anterior2, anterior3};
    for (int row = 0; row < 3; ++row) {
        const QString rate = existing[row]->text();
        if (contagem[row]->property("taxa").toString() == rate)
            continue;
        contagem[row]->clear();
        contagem[row]->setProperty("taxa", QVariant());
        if (IsRateText(rate))
            session_->CountProducts(row, rate);
    }
}

void Tmain::SessionProductsCounted(int row, const QString& rate, const TProductCount& count)
{
    const QLineEdit* existing[] = {anterior, anterior2, anterior3};
    // Typed over meanwhile: the next count is on its way.
    if (existing[row]->text() != rate)
        return;
    contagem[row]->setText(QStringLiteral("%1%: ").arg(rate) + ProductCountText(count));
    contagem[row]->setToolTip(contagem[row]->text());
    contagem[row]->setProperty("taxa", rate);
}

void Tmain::anteriorListOpen(QLineEdit* edit)
{
    listaPara_ = edit;
    session_->CountRates();
}

void Tmain::SessionRatesCounted(const QList<TRateCount>& rates)
{
    if (!listaPara_ || !listaPara_->isVisible() || !listaPara_->isEnabled())
        return;
    taxas_->clear();
    for (const TRateCount& rate : rates) {
        auto* item = new QStandardItem(QStringLiteral("%1%  %2: %3")
                                           .arg(rate.rate, rate.description, ProductCountText(rate.products)));
        item->setData(rate.rate, Qt::UserRole);
        taxas_->appendRow(item);
    }
    ListaTaxas->setWidget(listaPara_);
    ListaTaxas->popup()->setObjectName(QStringLiteral("ListaTaxasPopup"));
    ListaTaxas->setCompletionPrefix(QString());
    ListaTaxas->complete(QRect(0, 0, 260, listaPara_->height()));
}

void Tmain::ListaTaxasActivated(const QString& rate)
{
    if (!listaPara_)
        return;
    listaPara_->setText(rate);
    // Chosen from the list as if typed: the row is wanted.
    RowBoxOf(listaPara_)->setChecked(true);
    ListaTaxas->setWidget(nullptr);
}

void Tmain::SessionQuestion(const QString& text, const QString& title)
{
    session_->Answer(dialogs_->Confirm(text, title));
}

void Tmain::SessionRefused(const TRefusal& refusal)
{
    dialogs_->ShowMessage(refusal.text, refusal.title);
    FocusRequestField(refusal.focus);
}

void Tmain::SessionAccepted()
{
    // The question has been asked and answered: the moment is chosen after it.
    SetActivePage(tabagendar);
}
