#include "Console.h"

#include <atomic>
#include <cstdio>

namespace {
// Set from a signal handler or the console's own thread: lock-free, nothing else.
std::atomic<bool> interrupted{false};
}  // namespace

bool InterruptRequested()
{
    return interrupted.load();
}

#ifdef _WIN32
#include <windows.h>

namespace {

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interrupted = true;
    return TRUE;
}

}  // namespace

bool StandardErrorIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteConsoleText(bool toError, const QString& text)
{
    FILE* stream = toError ? stderr : stdout;
    const HANDLE handle = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        // The console's code page is seldom UTF-8: its wide function shows "ç" as "ç".
        fflush(stream);
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.utf16()), DWORD(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fflush(stream);
}

void CatchInterrupts()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
#else
#include <csignal>
#include <unistd.h>

namespace {

void OnSignal(int)
{
    interrupted = true;
}

}  // namespace

bool StandardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void WriteConsoleText(bool toError, const QString& text)
{
    FILE* stream = toError ? stderr : stdout;
    const QByteArray bytes = text.toUtf8();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fflush(stream);
}

void CatchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM})
        sigaction(signal, &action, nullptr);
}
#endif
