#include "SettingsFile.h"
#include "CheckChangeRequest.h"
#include "DurableFile.h"
#include "Errors.h"
#include "ProfileFile.h"
#include "QuotedSpan.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>

namespace {

const QByteArray kSection = "OPCOES";

// Enabled, existing rate, new rate, description of each row, in writing order.
const char* const kRowKeys[3][4] = {{"TAXA1", "ANTERIOR", "NOVA", "DESCRICAO"},
                                    {"TAXA2", "ANTERIOR2", "NOVA2", "DESCRICAO2"},
                                    {"TAXA3", "ANTERIOR3", "NOVA3", "DESCRICAO3"}};

// Booleans are written as "1"/"0" and read as whole numbers, as the INI service does.
QString BoolText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

bool ReadBool(const TProfileFile& file, const char* key, bool fallback) {
    auto text = file.value(kSection, key);
    if (!text) return fallback;
    auto number = ProfileInteger(*text);
    return number ? *number != 0 : fallback;
}

QString ReadText(const TProfileFile& file, const char* key, const QString& fallback = QString()) {
    return file.value(kSection, key).value_or(fallback);
}

[[noreturn]] void CannotWrite(const QString& path) {
    throw TFileError(CannotWriteText(path));
}

// A key and its value as the refusals name them: NOVA '100'.
QString Named(const char* key, const QString& value) {
    return QString::fromLatin1(key) + QStringLiteral(" '") + value + u'\'';
}

// The key a field of the rate entry page is stored under, with its stored value.
QString NamedField(TRequestField field, const TChangeRequest& r) {
    switch (field) {
    case TRequestField::None: break;
    case TRequestField::Existing1: return Named(kRowKeys[0][1], r.rows[0].existing);
    case TRequestField::New1: return Named(kRowKeys[0][2], r.rows[0].replacement);
    case TRequestField::Description1: return Named(kRowKeys[0][3], r.rows[0].description);
    case TRequestField::Existing2: return Named(kRowKeys[1][1], r.rows[1].existing);
    case TRequestField::New2: return Named(kRowKeys[1][2], r.rows[1].replacement);
    case TRequestField::Description2: return Named(kRowKeys[1][3], r.rows[1].description);
    case TRequestField::Existing3: return Named(kRowKeys[2][1], r.rows[2].existing);
    case TRequestField::New3: return Named(kRowKeys[2][2], r.rows[2].replacement);
    case TRequestField::Description3: return Named(kRowKeys[2][3], r.rows[2].description);
    case TRequestField::Places: return Named("CASAS", r.options.places);
    }
    return QString();
}

// The first stored text longer than the edit it goes into: the edit would cut it, and "100"
// would run as "10".
QString TooLong(const TChangeRequest& r) {
    const auto check = [](const char* key, const QString& value, int most) {
        return value.size() > most ? Named(key, value) + QStringLiteral(" tem mais de %1 caracteres.").arg(most)
                                   : QString();
    };
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = r.rows[i];
        for (const QString& found : {check(kRowKeys[i][1], row.existing, kRateMaxLength),
                                     check(kRowKeys[i][2], row.replacement, kRateMaxLength),
                                     check(kRowKeys[i][3], row.description, kDescriptionMaxLength)})
            if (!found.isEmpty()) return found;
    }
    return check("CASAS", r.options.places, kPlacesMaxLength);
}

// The rules on the entered values, as the window's check applies them before it asks.
QString FailedRule(const TChangeRequest& r) {
    const bool anyRow = std::any_of(r.rows.begin(), r.rows.end(), [](const TRatePair& row) { return row.enabled; });
    if (!anyRow) return QString();  // nothing would be sent; the run only ends the schedule
    const TCheckVerdict verdict = CheckRequestForm(r);
    if (verdict.accepted) return QString();
    QStringList named;
    for (TRequestField field : verdict.fields) named << NamedField(field, r);
    return named.isEmpty() ? verdict.text : named.join(QStringLiteral(", ")) + QStringLiteral(": ") + verdict.text;
}

// Qt format strings: runs of one ASCII letter are fields, text in single quotes is literal.
// Calls keep(field) for each field and copies everything else.
template <typename F>
QString MapFields(const QString& format, F keep) {
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            const qsizetype end = QuotedSpanEnd(format, i, c);
            out += format.mid(i, end - i);
            i = end;
        } else if (c.isLetter() && c.unicode() < 0x80) {
            qsizetype j = i;
            while (j < format.size() && format[j] == c) ++j;
            out += keep(format.mid(i, j - i), out);
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// Blanks the ANSI file cannot hold (newer locale data puts a narrow no-break space before
// AM/PM) become plain blanks; the parser is given the same format, so they still match.
QString PlainBlanks(QString format) {
    for (char16_t c : {u'\u202F', u'\u2009', u'\u2007'}) format.replace(QChar(c), QLatin1Char(' '));
    return format;
}

// Many short dates carry a two-digit year, which Qt reads back as 19xx: a schedule for 2026
// would come back as 1926 and run at once. The rest of the regional form is kept.
QString DateFormat(const QLocale& locale) {
    return PlainBlanks(MapFields(locale.dateFormat(QLocale::ShortFormat),
                                 [](const QString& field, QString&) {
                                     return field[0] == QLatin1Char('y') ? QStringLiteral("yyyy") : field;
                                 }));
}

// The long time without its time zone (the moment is local) and without fractions.
QString TimeFormat(const QLocale& locale, QLocale::FormatType type) {
    QString format = MapFields(locale.timeFormat(type), [](const QString& field, QString& before) {
        if (field[0] == QLatin1Char('t')) return QString();
        if (field[0] == QLatin1Char('z')) {
            if (before.endsWith(QLatin1Char('.')) || before.endsWith(QLatin1Char(','))) before.chop(1);
            return QString();
        }
        return field;
    });
    format = PlainBlanks(format);
    // What stood between the seconds and the zone ("h:mm:ss AP, t") goes with the zone.
    while (!format.isEmpty() && (format.back().isSpace() || format.back() == QLatin1Char(',')))
        format.chop(1);
    while (!format.isEmpty() && format.front().isSpace()) format.remove(0, 1);
    return format;
}

// A format whose year field is shorter than four letters reads the year as two digits.
bool TwoDigitYear(const QString& format) {
    bool two = false;
    MapFields(format, [&](const QString& field, QString&) {
        two = two || (field[0] == QLatin1Char('y') && field.size() < 4);
        return field;
    });
    return two;
}

const QString kIsoDate = QStringLiteral("yyyy-MM-dd");
const QString kIsoDateTime = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QDateTime WholeSeconds(const QDateTime& moment) {
    const QTime t = moment.time();
    return QDateTime(moment.date(), QTime(t.hour(), t.minute(), t.second()), moment.timeSpec());
}

}  // namespace

QString SettingsFilePath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Qorvanta.ini");
}

QString MomentToText(const QDateTime& when, const QLocale& locale) {
    if (!when.isValid()) return QString();
    const QDateTime moment = when.toLocalTime();
    const bool midnight = moment.time() == QTime(0, 0);
    QString text = locale.toString(moment.date(), DateFormat(locale));
    if (!midnight) text += QLatin1Char(' ') + locale.toString(moment.time(), TimeFormat(locale, QLocale::LongFormat));

    // A locale whose digits or words the ANSI file cannot hold, or whose form does not read
    // back to the same second, would turn the schedule into "now": store it in ISO form then,
    // which the reader also understands.
    const bool representable = AnsiToText(TextToAnsi(text)) == text;
    if (!representable || MomentFromText(text, locale) != WholeSeconds(moment))
        text = moment.toString(midnight ? kIsoDate : kIsoDateTime);
    return text;
}

QDateTime MomentFromText(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return QDateTime();
    // The form this program writes, then the regional short date as it is (a file written by
    // hand or by an older version), then ISO.
    QStringList dates = {DateFormat(locale)};
    const QString regional = PlainBlanks(locale.dateFormat(QLocale::ShortFormat));
    if (!dates.contains(regional)) dates << regional;
    dates << kIsoDate;
    QStringList times = {TimeFormat(locale, QLocale::LongFormat), TimeFormat(locale, QLocale::ShortFormat),
                         QStringLiteral("HH:mm:ss"), QStringLiteral("HH:mm")};
    times.removeDuplicates();

    for (const QString& date : dates) {
        QDateTime moment;
        for (const QString& time : times) {
            moment = locale.toDateTime(t, date + QLatin1Char(' ') + time);
            if (moment.isValid()) break;
        }
        if (!moment.isValid()) {
            const QDate day = locale.toDate(t, date);
            if (day.isValid()) moment = QDateTime(day, QTime(0, 0));
        }
        if (!moment.isValid()) continue;
        // Qt puts a two-digit year in the 1900s; a schedule is for this century.
        return TwoDigitYear(date) ? moment.addYears(100) : moment;
    }
    return QDateTime();
}

void WriteSettingsFile(const QString& path, const TChangeRequest& request,
                       const QString& connectionString, const QLocale& locale,
                       const QDateTime& revertAt, const QString& changeId) {
    // Foreign keys and sections stay, so the file is read first; one that exists but cannot
    // be read could not be rewritten without losing them.
    QByteArray old;
    QFile current(path);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) CannotWrite(path);
        old = current.readAll();
        current.close();
    }
    TProfileFile file = TProfileFile::FromBytes(old);

    for (int r = 0; r < 3; ++r) {
        const TRatePair& row = request.rows[r];
        file.setValue(kSection, kRowKeys[r][0], BoolText(row.enabled));
        file.setValue(kSection, kRowKeys[r][1], row.existing);
        file.setValue(kSection, kRowKeys[r][2], row.replacement);
        file.setValue(kSection, kRowKeys[r][3], row.description);
    }
    const TChangeOptions& o = request.options;
    file.setValue(kSection, "CRIARNOVA", BoolText(o.keepCurrentRate));
    file.setValue(kSection, "PRECOSCOMPRA", BoolText(o.purchasePrices));
    file.setValue(kSection, "PRECOSVENDA", BoolText(o.salePrices));
    file.setValue(kSection, "ARREDONDAR", BoolText(o.roundPrices));
    file.setValue(kSection, "CASAS", o.places);
    file.setValue(kSection, "DATAHORA", MomentToText(request.moment, locale));
    file.setValue(kSection, "SOFT", connectionString);
    file.setValue(kSection, "APLICACAO", AppName(request.app));
    // Left from an earlier schedule, they would undo a change nobody asked to undo.
    if (revertAt.isValid())
        file.setValue(kSection, "REPOR", MomentToText(revertAt, locale));
    else
        file.removeKey(kSection, "REPOR");
    if (revertAt.isValid() && !changeId.isEmpty())
        file.setValue(kSection, "ALTERACAO", changeId);
    else
        file.removeKey(kSection, "ALTERACAO");

    // Written beside and renamed over the old file: a failure part-way leaves the previous
    // schedule (or none), never a half-written one that the next start would resume.
    if (!WriteWhole(path, file.toBytes())) CannotWrite(path);
}

TSchedule ReadSettingsFile(const QString& path, const QDateTime& now, const QLocale& locale) {
    QFile in(path);
    QByteArray bytes;
    TSchedule s;
    if (in.open(QIODevice::ReadOnly))
        bytes = in.readAll();
    else if (in.exists())
        s.refusal = CannotReadText(path) + u'.';  // its defaults are no schedule anyone made
    const TProfileFile file = TProfileFile::FromBytes(bytes);

    TChangeRequest& r = s.request;
    for (int i = 0; i < 3; ++i) {
        r.rows[i].enabled = ReadBool(file, kRowKeys[i][0], true);
        r.rows[i].existing = ReadText(file, kRowKeys[i][1]);
        r.rows[i].replacement = ReadText(file, kRowKeys[i][2]);
        r.rows[i].description = ReadText(file, kRowKeys[i][3]);
    }
    r.options.keepCurrentRate = ReadBool(file, "CRIARNOVA", false);
    r.options.purchasePrices = ReadBool(file, "PRECOSCOMPRA", false);
    r.options.salePrices = ReadBool(file, "PRECOSVENDA", false);
    r.options.roundPrices = ReadBool(file, "ARREDONDAR", false);
    r.options.places = ReadText(file, "CASAS", QStringLiteral("2"));
    const QString storedMoment = ReadText(file, "DATAHORA");
    const QDateTime moment = MomentFromText(storedMoment, locale);
    r.moment = moment.isValid() ? moment : now;
    s.connectionString = ReadText(file, "SOFT");
    const QString storedApp = ReadText(file, "APLICACAO");
    const std::optional<TAppKind> app = AppKindNamed(storedApp);
    r.app = app.value_or(TAppKind::None);

    // A moment that cannot be read is not "now": run at once, it could be months early.
    if (s.refusal.isEmpty()) s.refusal = TooLong(r);
    if (s.refusal.isEmpty() && !moment.isValid() && !storedMoment.isEmpty())
        s.refusal = Named("DATAHORA", storedMoment) + QStringLiteral(" não é uma data válida.");
    // The kind decides which statements run; a name the program never writes is no kind to guess.
    if (s.refusal.isEmpty() && !app)
        s.refusal = Named("APLICACAO", storedApp) + QStringLiteral(" não é uma das aplicações ") + InstalledKindNames()
                    + u'.';
    if (s.refusal.isEmpty()) s.refusal = FailedRule(r);

    const QString storedRevert = ReadText(file, "REPOR");
    s.revertAt = MomentFromText(storedRevert, locale);
    s.changeId = ReadText(file, "ALTERACAO");
    if (s.refusal.isEmpty() && !storedRevert.isEmpty() && !s.revertAt.isValid())
        s.refusal = Named("REPOR", storedRevert) + QStringLiteral(" não é uma data válida.");
    // Reverted before it is made, the change would stay for good.
    if (s.refusal.isEmpty() && s.revertAt.isValid() && s.revertAt <= r.moment)
        s.refusal = Named("REPOR", storedRevert) + QStringLiteral(" não é posterior a ") + Named("DATAHORA", storedMoment)
                    + u'.';
    if (s.refusal.isEmpty() && !s.changeId.isEmpty() && !s.revertAt.isValid())
        s.refusal = Named("ALTERACAO", s.changeId) + QStringLiteral(" sem REPOR: não se sabe quando desfazer a alteração.");
    return s;
}

void RemoveSettingsFile(const QString& path) {
    QFile::remove(path);
}

bool KeepInDoubtCopy(const QString& path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) && WriteWhole(path + QStringLiteral(".duvida"), in.readAll());
}
