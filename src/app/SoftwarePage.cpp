// The detection page: which sibling application is installed in the working folder, its
// database, and whether its prices include VAT. The session finds out on its database thread;
// the page shows what it found as it comes.

#include "Tmain.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>

void Tmain::tabsoftwareEnter()
{
    session_->Detect(QDir::currentPath());
}

void Tmain::SessionProbed(TAppKind app)
{
    // Shown before the login, and kept when the login fails.
    software->setText(AppName(app));
}

void Tmain::SessionDetected(const TDetection& detection)
{
    if (detection.connectionFailed)
        dialogs_->ShowMessage(QStringLiteral("Falha na ligação à base de dados"), QStringLiteral("Aviso"));

    const bool found = !detection.connectionFailed && detection.app != TAppKind::None;
    if (!found) {
        msg1->show();
    } else {
        msg1->hide();
        btnext1->show();
        btnext1->setFocus();
    }

    // The login's or the configuration read's own words; "Continuar" stays as it is.
    if (!detection.errorText.isEmpty()) {
        ReportError(detection.errorText);
        return;
    }
    if (!detection.configured) {
        dialogs_->ShowMessage(QStringLiteral("O programa não foi ainda configurado, por favor entre no programa e "
                                             "execute o procedimento de configuração"),
                              QStringLiteral("Aviso"));
        close();
        return;
    }
    if (!detection.vatIncluded)
        ivamode->setText(QStringLiteral("IVA não incluído"));
    ivamode->show();
}
