// The detection page: which sibling application is installed in the working folder, its
// database, and whether its prices include VAT.

#include "Detection.h"
#include "Tmain.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>

void Tmain::tabsoftwareEnter()
{
    detectedApp_ = TAppKind::None;
    detectedApp_ = ProbeInstalledApp(QDir::currentPath());
    software->setText(AppName(detectedApp_));
    // Also for "Nenhum": the failing connect below is what tells the operator.
    cn_.setConnectionString(ConnectionStringFor(detectedApp_));

    try {
        cn_.setConnected(true);
    } catch (...) {
        dialogs_->ShowMessage(QStringLiteral("Falha na ligação à base de dados"), QStringLiteral("Aviso"));
        detectedApp_ = TAppKind::None;
    }

    if (detectedApp_ == TAppKind::None) {
        msg1->show();
    } else {
        msg1->hide();
        btnext1->show();
        btnext1->setFocus();
    }

    // Issued even after a failed connect: its own error then reaches the error report.
    cn_.setSQL(detectedApp_ == TAppKind::Meltra ? QStringLiteral("SELECT * FROM config")
                                                 : QStringLiteral("SELECT * FROM configuracao"));
    cn_.Open();
    if (cn_.IsEmpty()) {
        cn_.Close();
        dialogs_->ShowMessage(QStringLiteral("O programa não foi ainda configurado, por favor entre no programa e "
                                             "execute o procedimento de configuração"),
                              QStringLiteral("Aviso"));
        close();
        return;
    }
    try {
        vatIncluded_ = cn_.FindField(QStringLiteral("ivaincluido")) ? cn_.FieldByName(QStringLiteral("ivaincluido")) != 0
                                                                    : true;
    } catch (...) {
        // A value that is not a number must not leave the result open for the next reader.
        cn_.Close();
        throw;
    }
    cn_.Close();

    if (!vatIncluded_)
        ivamode->setText(QStringLiteral("IVA não incluído"));
    ivamode->show();
}
