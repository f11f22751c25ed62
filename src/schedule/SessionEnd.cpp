#include "SessionEnd.h"

#ifdef _WIN32
#include <windows.h>

void HoldSessionEnd(quintptr window, const QString& reason)
{
    ShutdownBlockReasonCreate(reinterpret_cast<HWND>(window), reinterpret_cast<LPCWSTR>(reason.utf16()));
}

void ReleaseSessionEnd(quintptr window)
{
    ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(window));
}
#else
void HoldSessionEnd(quintptr, const QString&) {}
void ReleaseSessionEnd(quintptr) {}
#endif
