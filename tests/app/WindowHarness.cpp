#include "WindowHarness.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TWindowHarness::TWindowHarness() : TWindowHarness(nullptr) {}

TWindowHarness::TWindowHarness(const std::function<void(TmainEnvironment&)>& prepare, bool show)
{
    TmainEnvironment environment;
    environment.dialogs = &dialogs;
    environment.settingsFile = home_.filePath(QStringLiteral("Qorvanta.ini"));
    environment.executablePath = home_.filePath(QStringLiteral("taxas-iva"));
    environment.clock = [] { return QDateTime(QDate(2024, 3, 1), QTime(10, 0)); };
    if (prepare)
        prepare(environment);
    window_ = std::make_unique<Tmain>(environment);
    if (show)
        this->show();
}

void TWindowHarness::show()
{
    window_->show();
    window_->activateWindow();
    if (!QTest::qWaitForWindowActive(window_.get()))
        qWarning("the main window did not become active");
}

TWindowHarness::~TWindowHarness() = default;

void TWindowHarness::click(const QString& name)
{
    QTest::mouseClick(child<QAbstractButton>(name), Qt::LeftButton);
}

bool TWindowHarness::acceptConditions()
{
    click(QStringLiteral("btaceito"));
    const auto* next = child<QPushButton>(QStringLiteral("btnext1"));
    return QTest::qWaitFor([&] { return next->isVisible(); }, 5000) && waitFocus(QStringLiteral("btnext1"));
}

bool TWindowHarness::openRateEntry()
{
    if (!acceptConditions())
        return false;
    click(QStringLiteral("btnext1"));
    return window_->ActivePage() == tabexec && waitFocus(QStringLiteral("anterior"));
}

void TWindowHarness::fill(const QString& fields)
{
    for (const QString& field : fields.split(u';', Qt::SkipEmptyParts)) {
        const QString name = field.section(u'=', 0, 0);
        const QString value = field.section(u'=', 1);
        if (auto* box = window_->findChild<QCheckBox*>(name))
            box->setChecked(value == QLatin1String("1"));
        else
            child<QLineEdit>(name)->setText(value);
    }
}
