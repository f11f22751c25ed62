#pragma once
// What the command line needs of the console it runs in, the same on every system: whether
// standard error is a terminal (progress is drawn only there), text that reaches a console
// as its own characters whatever its code page, and Ctrl+C turned into a request that the
// program answers by cancelling its change rather than dying in the middle of it.

#include <QString>

bool StandardErrorIsTerminal();

// Writes text to standard output or standard error: into a console as its characters, into a
// file or a pipe as UTF-8.
void WriteConsoleText(bool toError, const QString& text);

// From here on Ctrl+C (and Ctrl+Break, or SIGTERM where there are signals) no longer ends the
// process: each one is only noted, for InterruptRequested to tell.
void CatchInterrupts();
bool InterruptRequested();
