// The notification-area icon: while a schedule waits, the window can be put out of the way
// (off the screen and the taskbar) and brought back from the icon. The waiting goes on.

#include "EventHook.h"
#include "Pictures.h"
#include "Tmain.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>

void Tmain::BuildTray()
{
    Menu = new QMenu(this);
    Menu->setObjectName(QStringLiteral("Menu"));
    Restaurar1 = Menu->addAction(QStringLiteral("Restaurar"));
    Restaurar1->setObjectName(QStringLiteral("Restaurar1"));
    QFont bold = Restaurar1->font();
    bold.setBold(true);
    Restaurar1->setFont(bold);
    Menu->setDefaultAction(Restaurar1);

    Tray = new QSystemTrayIcon(this);
    Tray->setObjectName(QStringLiteral("Tray"));
    Tray->setToolTip(QStringLiteral("Alteração de Taxas de IVA"));
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48})
        icon.addPixmap(Picture(QStringLiteral("tray"), QSize(side, side)));
    Tray->setIcon(icon);
    Tray->setContextMenu(Menu);

    Eventos = new TEventHook(
        QStringLiteral("Eventos"),
        [this](QObject*, QEvent* event) {
            // Hidden once the state change is over: hiding a window in the middle of its own
            // minimising leaves some platforms with a ghost taskbar button.
            if (event->type() == QEvent::WindowStateChange && isMinimized())
                QTimer::singleShot(0, this, Handler(&Tmain::EventosMinimize));
            return false;
        },
        this);
    installEventFilter(Eventos);

    connect(Button1, &QPushButton::clicked, this, Handler(&Tmain::Button1Click));
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // StatusNotifierItem trays (KDE, GNOME's extension) send one activation for any click
        // and never a double-click. Windows sends that same activation for a plain click, which
        // must not restore there: its double-click does.
        if (reason == QSystemTrayIcon::Trigger && !env_.trayTellsDoubleClick())
            Guarded([this] { TrayClick(); });
        else if (reason == QSystemTrayIcon::DoubleClick)
            Guarded([this] { TrayDblClick(); });
    });
    connect(Restaurar1, &QAction::triggered, this, Handler(&Tmain::Restaurar1Click));
}

void Tmain::Button1Click()
{
    // Without a notification area there would be no icon to bring the window back: it is
    // only minimised then, and its taskbar button stays.
    if (env_.trayAvailable())
        Tray->show();
    showMinimized();
}

void Tmain::EventosMinimize()
{
    if (!isMinimized())
        return;  // restored before this came round
    if (!env_.trayAvailable())
        return;  // left on the taskbar, the only way back
    // Minimised some other way (the taskbar, a window manager's key): without the icon a
    // hidden window could not be brought back, short of ending the program.
    Tray->show();
    hide();
}

void Tmain::TrayClick()
{
    RestoreFromTray();
}

void Tmain::TrayDblClick()
{
    RestoreFromTray();
}

void Tmain::Restaurar1Click()
{
    RestoreFromTray();
}

void Tmain::RestoreFromTray()
{
    {
        // The pages are shown again with the window; that is not the wait page being shown,
        // which would rebuild its label and make an extra check.
        QScopedValueRollback<bool> restoring(restoringFromTray_, true);
        show();
        showNormal();
    }
    // In front and with the keyboard, as the platform's own restore leaves a window.
    raise();
    activateWindow();
    Tray->hide();
}
