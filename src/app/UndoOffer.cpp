// The way back from a change: the done page offers to undo the change just made, the rate
// entry page the last change that can still be undone, whenever it was made. The session
// keeps the images and runs the undo; the window only offers it and says what it put back.

#include "Controls.h"
#include "Pictures.h"
#include "Tmain.h"
#include "UiFont.h"

#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>

void Tmain::BuildUndoOffer()
{
    btdesfazer = NewButton(pcontrol->widget(tabconcluido), QStringLiteral("btdesfazer"),
                           QStringLiteral("Desfazer esta alteração"), QRect(122, 204, 189, 27));
    btdesfazer->setIcon(PictureIcon(QStringLiteral("back"), QSize(16, 16)));
    btdesfazer->hide();
    connect(btdesfazer, &QPushButton::clicked, this, Handler(&Tmain::btdesfazerClick));

    // Under the counts of the products, over the bottom row of buttons.
    QWidget* page = pcontrol->widget(tabexec);
    lbdesfazer = NewWrappedLabel(page, QStringLiteral("lbdesfazer"), QString(), QRect(244, 170, 184, 28),
                                 Qt::AlignLeft | Qt::AlignTop);
    lbdesfazer->setFont(UiFont(9));
    lbdesfazer->hide();
    btdesfazerultima = NewButton(page, QStringLiteral("btdesfazerultima"), QStringLiteral("Desfazer a última alteração"),
                                 QRect(244, 199, 184, 23));
    btdesfazerultima->setIcon(PictureIcon(QStringLiteral("back"), QSize(16, 16)));
    btdesfazerultima->hide();
    connect(btdesfazerultima, &QPushButton::clicked, this, Handler(&Tmain::btdesfazerultimaClick));
}

void Tmain::ShowUndoable()
{
    const TUndoable last = session_->UndoableChange();
    btdesfazer->setVisible(last.valid() && last.id == lastChangeId_);
    const bool offered = last.valid() && !runShown_;
    if (offered) {
        lbdesfazer->setText(QStringLiteral("%1 %2, %3\n%4")
                                .arg(QLocale().toString(last.start.date(), QLocale::ShortFormat),
                                     last.start.toString(QStringLiteral("HH:mm")), last.user,
                                     last.rows.join(QStringLiteral(", "))));
        lbdesfazer->setToolTip(lbdesfazer->text());
        btdesfazerultima->setProperty("alteracao", last.id);
    }
    lbdesfazer->setVisible(offered);
    btdesfazerultima->setVisible(offered);
}

void Tmain::btdesfazerClick()
{
    session_->Undo(lastChangeId_);
}

void Tmain::btdesfazerultimaClick()
{
    session_->Undo(btdesfazerultima->property("alteracao").toString());
}

void Tmain::SessionUndoEnded(const TRunEnd& end)
{
    const TUndoResult& undo = end.undo;
    QString text = QStringLiteral("Alteração desfeita: as taxas e os preços voltaram a ser os de antes dela. "
                                  "Produtos repostos: %1.")
                       .arg(undo.productsRestored);
    if (undo.productsLeft > 0)
        text += QStringLiteral("\n\n%1 produtos foram alterados ou apagados depois da alteração e ficaram como "
                               "estão; estão listados no ficheiro %2.")
                    .arg(undo.productsLeft)
                    .arg(QDir::toNativeSeparators(undo.leftFile));
    if (undo.ratesLeft > 0)
        text += QStringLiteral("\n\n%1 taxas ficaram como estão: foram alteradas depois da alteração, ou ainda há "
                               "produtos com elas.")
                    .arg(undo.ratesLeft);
    lastChangeId_.clear();
    SetActivePage(tabexec);
    ShowUndoable();
    dialogs_->ShowMessage(text, QStringLiteral("Taxas de IVA"));
}
