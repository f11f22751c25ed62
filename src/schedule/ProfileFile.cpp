#include "ProfileFile.h"

#include <QStringDecoder>
#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <string>
#else
#include <array>
#endif

namespace {

#ifndef _WIN32
// Bytes 0x80 to 0x9F of Windows-1252; the five it leaves undefined map to the C1 control of
// the same number, as MultiByteToWideChar does. Every other byte is its Latin-1 character.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ToAnsiByte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

#endif

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray Trimmed(const QByteArray& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.mid(b, e - b);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool Enclosed(const QByteArray& text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front();
}

bool SameName(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The name of a section header line, or nothing for any other line.
std::optional<QByteArray> HeaderName(const QByteArray& line) {
    const QByteArray t = Trimmed(line);
    if (!t.startsWith('[')) return std::nullopt;
    qsizetype close = t.indexOf(']');
    return Trimmed(t.mid(1, close < 0 ? -1 : close - 1));
}

}  // namespace

#ifdef _WIN32

// The system's own ANSI code page (GetACP), as the private-profile functions use it; a
// character it cannot hold becomes '?'.
QString AnsiToText(const QByteArray& bytes) {
    if (bytes.isEmpty()) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.constData(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.constData(), static_cast<int>(bytes.size()), &wide[0], size);
    return QString::fromWCharArray(wide.data(), size);
}

QByteArray TextToAnsi(const QString& text) {
    if (text.isEmpty()) return {};
    const std::wstring wide = text.toStdWString();
    const int length = static_cast<int>(wide.size());
    // A system set to UTF-8 refuses a replacement character (and holds every character).
    const char* replacement = GetACP() == CP_UTF8 ? nullptr : "?";
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, replacement, nullptr);
    QByteArray out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), size, replacement, nullptr);
    return out;
}

#else

QString AnsiToText(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out += (b >= 0x80 && b < 0xA0) ? QChar(kHighControls[b - 0x80]) : QChar(b);
    }
    return out;
}

QByteArray TextToAnsi(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // One question mark for a character outside the basic plane, not two.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
        out += ToAnsiByte(c.unicode());
    }
    return out;
}

#endif

TProfileFile TProfileFile::FromBytes(const QByteArray& bytes) {
    TProfileFile file;
    qsizetype start = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        file.bom_ = bytes.left(3);
        start = 3;
    }
    // Windows-1252 text is almost never valid UTF-8 once it holds an accented letter, so a
    // file that is must have been saved as UTF-8 by an editor.
    const QByteArray body = bytes.mid(start);
    if (std::any_of(body.begin(), body.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(body);
        file.utf8_ = !utf8.hasError();
    }
    while (start < bytes.size()) {
        qsizetype lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            file.lines_.push_back({bytes.mid(start), {}});
            break;
        }
        qsizetype end = (lf > start && bytes[lf - 1] == '\r') ? lf - 1 : lf;
        file.lines_.push_back({bytes.mid(start, end - start), bytes.mid(end, lf + 1 - end)});
        start = lf + 1;
    }
    return file;
}

QByteArray TProfileFile::toBytes() const {
    QByteArray out = bom_;
    for (const auto& line : lines_) out += line.text + line.end;
    return out;
}

std::optional<std::pair<size_t, size_t>> TProfileFile::sectionBody(const QByteArray& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = HeaderName(lines_[i].text);
        if (!name || !SameName(*name, section)) continue;
        size_t last = i + 1;
        while (last < lines_.size() && !HeaderName(lines_[last].text)) ++last;
        return std::make_pair(i + 1, last);
    }
    return std::nullopt;
}

std::optional<size_t> TProfileFile::keyLine(size_t first, size_t last, const QByteArray& key) const {
    for (size_t i = first; i < last; ++i) {
        const QByteArray& text = lines_[i].text;
        qsizetype eq = text.indexOf('=');
        if (eq >= 0 && SameName(Trimmed(text.left(eq)), key)) return i;
    }
    return std::nullopt;
}

std::optional<QString> TProfileFile::value(const QByteArray& section, const QByteArray& key) const {
    auto body = sectionBody(section);
    if (!body) return std::nullopt;
    auto at = keyLine(body->first, body->second, key);
    if (!at) return std::nullopt;
    const QByteArray& text = lines_[*at].text;
    QByteArray raw = Trimmed(text.mid(text.indexOf('=') + 1));
    if (Enclosed(raw)) raw = raw.mid(1, raw.size() - 2);
    return decoded(raw).left(kProfileReadLimit);
}

QString TProfileFile::decoded(const QByteArray& bytes) const {
    return utf8_ ? QString::fromUtf8(bytes) : AnsiToText(bytes);
}

// The profile functions read ANSI only: behind a byte-order mark they miss the first
// section, and UTF-8 lines beside the ANSI values written here would make the file neither.
// Characters the code page lacks become '?', as in any value written.
void TProfileFile::toAnsi() {
    bom_.clear();
    if (!utf8_) return;
    for (TLine& line : lines_) line.text = TextToAnsi(QString::fromUtf8(line.text));
    utf8_ = false;
}

void TProfileFile::setValue(const QByteArray& section, const QByteArray& key, const QString& value) {
    toAnsi();
    // A line break inside a value would split it into lines of its own and corrupt the file.
    QString oneLine = value;
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QByteArray stored = TextToAnsi(oneLine);
    if (Trimmed(stored) != stored || Enclosed(stored)) stored = '"' + stored + '"';
    const QByteArray text = key + '=' + stored;

    auto body = sectionBody(section);
    if (!body) {
        if (!lines_.empty() && lines_.back().end.isEmpty()) lines_.back().end = "\r\n";
        lines_.push_back({'[' + section + ']', "\r\n"});
        lines_.push_back({text, "\r\n"});
        return;
    }
    if (auto at = keyLine(body->first, body->second, key)) {
        lines_[*at].text = text;
        if (lines_[*at].end.isEmpty()) lines_[*at].end = "\r\n";
        return;
    }
    // After the section's last line that is not blank, so that a blank line kept before the
    // next section stays where it was.
    size_t at = body->second;
    while (at > body->first && Trimmed(lines_[at - 1].text).isEmpty()) --at;
    if (at > 0 && lines_[at - 1].end.isEmpty()) lines_[at - 1].end = "\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), TLine{text, "\r\n"});
}

void TProfileFile::removeKey(const QByteArray& section, const QByteArray& key) {
    const auto body = sectionBody(section);
    if (!body) return;
    if (const auto at = keyLine(body->first, body->second, key))
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
}

std::optional<qint32> ProfileInteger(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    if (t.size() >= 3 && t[0] == QLatin1Char('0') && (t[1] == QLatin1Char('x') || t[1] == QLatin1Char('X'))) {
        const QString digits = t.mid(2);
        // toUInt would also take a sign or blanks after the prefix; a hexadecimal value is
        // digits only.
        for (QChar c : digits)
            if (!QStringLiteral("0123456789abcdefABCDEF").contains(c)) return std::nullopt;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok) return std::nullopt;
        return static_cast<qint32>(v);
    }
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
            !(i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'))))
            return std::nullopt;
    }
    const int v = t.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return v;
}
