// Links every entry point of the start-up entry against the Windows libraries.
#include "ShellShortcut.h"
#include <cstdio>

int main(int argc, char** argv) {
    const std::string target = argc > 0 ? argv[0] : "taxas-iva.exe";
    CreateShellShortcut(kStartupFolder, "Qorvanta", target);
    std::printf("%s\n", ShellShortcutPath(kStartupFolder, "Qorvanta").c_str());
    DeleteShellShortcut(kStartupFolder, "Qorvanta");
    return 0;
}
