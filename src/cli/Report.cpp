#include "Report.h"

#include "Console.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Every character beyond ASCII written as \uXXXX: the object reaches a remote console, a
// pipe or a file in any code page intact, and every JSON reader takes it.
QString AsciiJson(const QJsonObject& object)
{
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

}  // namespace

TReport::TReport(bool json) : json_(json), terminal_(StandardErrorIsTerminal()) {}

void TReport::EndProgress()
{
    if (progressWidth_ == 0)
        return;
    WriteConsoleText(true, QStringLiteral("\n"));
    progressWidth_ = 0;
}

void TReport::Message(const QString& text)
{
    EndProgress();
    messages_ << text;
    WriteConsoleText(true, text + u'\n');
}

void TReport::Line(const QString& text)
{
    lines_ << text;
}

void TReport::Set(const QString& key, const QJsonValue& value)
{
    object_.insert(key, value);
}

void TReport::Progress(const QString& text)
{
    if (!terminal_)
        return;
    // Blanks over what a longer line left.
    const QString line = text.leftJustified(progressWidth_);
    WriteConsoleText(true, u'\r' + line);
    progressWidth_ = qMax<qsizetype>(text.size(), 1);
}

int TReport::Finish(int code, const QString& outcome)
{
    EndProgress();
    if (!json_) {
        if (!lines_.isEmpty())
            WriteConsoleText(false, lines_.join(u'\n') + u'\n');
        return code;
    }
    object_.insert(QStringLiteral("codigo"), code);
    object_.insert(QStringLiteral("resultado"), outcome);
    object_.insert(QStringLiteral("mensagens"), QJsonArray::fromStringList(messages_));
    WriteConsoleText(false, AsciiJson(object_) + u'\n');
    return code;
}
