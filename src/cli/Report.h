#pragma once
// What a command tells: its messages on standard error as they come (Portuguese, for a person
// or a log), and at its end either its text on standard output or, with --json, one JSON
// object there holding everything, the messages included. The progress of a run is drawn on
// standard error only when that is a terminal: a tool that collects the output gets none.

#include <QJsonObject>
#include <QString>
#include <QStringList>

class TReport {
public:
    explicit TReport(bool json);

    // A message for the person who runs the command: on standard error at once.
    void Message(const QString& text);
    // A line of the command's text, on standard output at the end (not with --json).
    void Line(const QString& text = QString());
    // A member of the JSON object.
    void Set(const QString& key, const QJsonValue& value);
    // The progress line, drawn over the last one on a terminal.
    void Progress(const QString& text);

    // Writes the text or the JSON object with the outcome; returns code.
    int Finish(int code, const QString& outcome);

private:
    void EndProgress();

    bool json_;
    bool terminal_;
    qsizetype progressWidth_ = 0;
    QJsonObject object_;
    QStringList messages_;
    QStringList lines_;
};
