#pragma once
// The command line's words: a command, the options it takes, and the change request they
// make. Each command names its options in one table, so a new command or option is a row.

#include "Errors.h"
#include "TChangeRequest.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

// What the remote-management tools read of a run.
enum TExitCode : int {
    kExitDone = 0,
    kExitRefused = 1,         // a bad argument or a refusal of the checks: nothing was sent
    kExitRolledBack = 2,      // the database refused: everything was rolled back
    kExitNoInstallation = 3,  // no application found, or no connection to its database
    kExitInDoubt = 4,         // whether the change was committed is unknown: check by hand
    kExitInterrupted = 5,     // Ctrl+C: the run was cancelled and rolled back
};

// A word the command does not take, or a value it cannot use; its text says which.
class TArgumentError : public TTaxasError {
public:
    using TTaxasError::TTaxasError;
};

class TReport;
struct TArguments;
using TCommandRun = int (*)(const TArguments& arguments, TReport& report);

struct TArguments {
    QString command;
    TCommandRun run = nullptr;
    QString doneWord;  // what the command did, in the JSON's "resultado", when it ends well
    QStringList positionals;
    QHash<QString, QStringList> options;  // by name without "--"; a flag holds one empty value

    bool has(const QString& name) const { return options.contains(name); }
    QString value(const QString& name) const { return options.value(name).value(0); }
};

// The words after the program's name. Throws TArgumentError.
TArguments ParseArguments(const QStringList& words);

// The request of the --linha options and the change's options, its application left out.
// Throws TArgumentError for a value no control of the rate entry page could hold.
TChangeRequest RequestOf(const TArguments& arguments);

// DATA as dd/mm/aaaa hh:mm, the system's short date or aaaa-mm-dd hh:mm. Throws TArgumentError.
QDateTime MomentOf(const QString& text, const QString& option = QStringLiteral("quando"));

// --ajuda.
QString UsageText();
