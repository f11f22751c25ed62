#include "WindowHarness.h"

#include "Detection.h"
#include "SettingsFile.h"
#include "ShellShortcut.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

namespace {

// The controls a request is read from, in the order of the page.
const QStringList kRequestControls = {
    "Taxa1", "anterior",   "nova",   "descricao",  "Taxa2",    "anterior2", "nova2",        "descricao2",
    "Taxa3", "anterior3",  "nova3",  "descricao3", "opnovataxa", "opcompra", "opvenda", "oparredondar", "casas"};

const QString kRowSuffixes[] = {QString(), QStringLiteral("2"), QStringLiteral("3")};

}  // namespace

TWindowHarness::TWindowHarness() : TWindowHarness(nullptr) {}

TWindowHarness::TWindowHarness(const std::function<void(TmainEnvironment&)>& prepare, bool show)
{
    TmainEnvironment environment;
    environment.dialogs = &dialogs;
    environment.settingsFile = home_.filePath(QStringLiteral("Qorvanta.ini"));
    // The start-up entry is made only for a program that exists.
    environment.executablePath = home_.filePath(QStringLiteral("taxas-iva"));
    if (!WriteFileBytes(environment.executablePath, QByteArray()))
        qFatal("cannot make the program file");
    environment.clock = [] { return QDateTime(QDate(2024, 3, 1), QTime(10, 0)); };
    // A desktop with a notification area (the offscreen platform has none).
    environment.trayAvailable = [] { return true; };
    // The counts of products as rates are typed would slip reads between the statements the
    // tests follow; the tests of the counts ask for them.
    environment.countPause = -1;
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
    const bool busy = window_->Session().Busy();
    QTest::mouseClick(child<QAbstractButton>(name), Qt::LeftButton);
    // A press while the session works (Cancelar) returns at once; any other returns once what
    // it started on the database thread has ended and the window has shown it.
    if (busy)
        return;
    QCoreApplication::processEvents();
    if (!QTest::qWaitFor([&] { return !window_->Session().Busy(); }, 60000))
        qWarning("the session was still busy a minute after %s", qPrintable(name));
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

QString TWindowHarness::state(const QString& names) const
{
    QStringList wanted = kRequestControls;
    if (!names.isEmpty()) {
        wanted.clear();
        for (const QString& field : names.split(u';', Qt::SkipEmptyParts))
            wanted << field.section(u'=', 0, 0);
    }
    QStringList fields;
    for (const QString& name : wanted) {
        if (const auto* box = window_->findChild<QCheckBox*>(name))
            fields << name + (box->isChecked() ? "=1" : "=0");
        else
            fields << name + u'=' + child<QLineEdit>(name)->text();
    }
    return fields.join(u';');
}

TChangeRequest RequestOf(const QString& app, const QString& fields)
{
    TChangeRequest request;
    request.app = AppKindNamed(app).value_or(TAppKind::None);
    TChangeOptions& o = request.options;
    QHash<QString, bool*> flags = {{"opnovataxa", &o.keepCurrentRate}, {"opcompra", &o.purchasePrices},
                                   {"opvenda", &o.salePrices},        {"oparredondar", &o.roundPrices}};
    QHash<QString, QString*> texts = {{"casas", &o.places}};
    for (int row = 0; row < 3; ++row) {
        TRatePair& pair = request.rows[row];
        flags.insert(QStringLiteral("Taxa%1").arg(row + 1), &pair.enabled);
        texts.insert("anterior" + kRowSuffixes[row], &pair.existing);
        texts.insert("nova" + kRowSuffixes[row], &pair.replacement);
        texts.insert("descricao" + kRowSuffixes[row], &pair.description);
    }
    for (const QString& field : fields.split(u';', Qt::SkipEmptyParts)) {
        const QString name = field.section(u'=', 0, 0);
        const QString value = field.section(u'=', 1);
        if (flags.contains(name))
            *flags[name] = value == QLatin1String("1");
        else if (texts.contains(name))
            *texts[name] = value;
        else
            qFatal("no control named %s", qPrintable(name));
    }
    return request;
}

QString Describe(const TChangeRequest& r)
{
    QStringList parts;
    for (const TRatePair& row : r.rows)
        parts << QStringLiteral("%1 %2>%3 '%4'").arg(int(row.enabled)).arg(row.existing, row.replacement, row.description);
    const TChangeOptions& o = r.options;
    parts << QStringLiteral("keep %1 purchase %2 sale %3 round %4 places '%5'")
                 .arg(o.keepCurrentRate).arg(o.purchasePrices).arg(o.salePrices).arg(o.roundPrices).arg(o.places);
    parts << AppName(r.app) << r.moment.toString(Qt::ISODateWithMs);
    return parts.join(QStringLiteral(" | "));
}

QString EntryPath()
{
    return QString::fromLocal8Bit(ShellShortcutPath(kStartupFolder, "Qorvanta").c_str());
}

void ScheduleIn(const QString& folder, TChangeRequest request, const QDateTime& moment)
{
    request.moment = moment;
    WriteSettingsFile(QDir(folder).filePath("Qorvanta.ini"), request, ConnectionStringFor(request.app));
    const QString program = QDir(folder).filePath("taxas-iva");
    if (!WriteFileBytes(program, QByteArray()))
        qFatal("cannot make the program file");
    CreateShellShortcut(kStartupFolder, "Qorvanta", QFile::encodeName(program).toStdString());
}

void Tick(Tmain& window)
{
    const bool busy = window.Session().Busy();
    QMetaObject::invokeMethod(&window.Agenda(), "timeout");
    if (!busy && !QTest::qWaitFor([&] { return !window.Session().Busy(); }, 60000))
        qWarning("the session was still busy a minute after the tick");
}

void OnWindowThread(const std::function<void()>& f)
{
    if (QThread::currentThread() == qApp->thread())
        f();
    else
        QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
}
