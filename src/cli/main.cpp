// taxas-iva-cli: the window's work from a command line, for the tools that run a program on
// many shops' computers and read its exit code and output.

#include "Arguments.h"
#include "Console.h"
#include "Report.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString OutcomeWord(const QString& doneWord, int code)
{
    switch (code) {
    case kExitDone:
        return doneWord;
    case kExitRefused:
        return QStringLiteral("recusada");
    case kExitRolledBack:
        return QStringLiteral("anulada");
    case kExitNoInstallation:
        return QStringLiteral("sem ligação");
    case kExitInDoubt:
        return QStringLiteral("em dúvida");
    default:
        return QStringLiteral("interrompida");
    }
}

// Qt's own diagnostics (the ODBC driver's English warnings of every refused statement) are
// no message for the person who runs the command: what went wrong is told once, in Portuguese.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg)
        WriteConsoleText(true, text + u'\n');
}

}  // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(QuietQt);
    QCoreApplication app(argc, argv);
    // A Ctrl+C in the middle of a change cancels it: the database rolls it back and the record
    // says so, instead of a process killed half-way.
    CatchInterrupts();

    const QStringList words = QCoreApplication::arguments().mid(1);
    // Known before the words are judged, so that a bad word is told in JSON too.
    TReport report(words.contains(QStringLiteral("--json")));
    QString doneWord;
    const auto finish = [&](int code) { return report.Finish(code, OutcomeWord(doneWord, code)); };

    try {
        const TArguments arguments = ParseArguments(words);
        doneWord = arguments.doneWord;
        report.Set(QStringLiteral("comando"), arguments.command);
        if (arguments.has(QStringLiteral("ajuda"))) {
            WriteConsoleText(false, UsageText());
            return kExitDone;
        }
        if (arguments.has(QStringLiteral("pasta"))) {
            const QString folder = arguments.value(QStringLiteral("pasta"));
            if (!QDir(folder).exists() || !QDir::setCurrent(folder)) {
                report.Message(QStringLiteral("A pasta %1 não existe ou não pode ser aberta.")
                                   .arg(QDir::toNativeSeparators(folder)));
                return finish(kExitNoInstallation);
            }
        }
        return finish(arguments.run(arguments, report));
    } catch (const std::exception& error) {
        // A bad argument, a rate that is not a number, a settings file that cannot be
        // written: nothing was sent.
        report.Message(OperatorText(error));
        return finish(kExitRefused);
    }
}
