#pragma once
// The start-up entry that starts the program at the user's next log-on with its own folder
// as working directory. Free of Qt so that it builds for Windows as it is.

#include <string>

// Shell folder 7: the current user's start-up folder.
constexpr int kStartupFolder = 7;

// Creates (or replaces) the entry named name in the shell folder, starting target with the
// target's folder as working directory; the folder itself is created when missing (on Linux
// with every missing folder above it, on Windows one level). True when the entry is in
// place; false, with nothing made, when target does not exist, the folder is unknown or the
// entry cannot be saved. On Windows, a shell link object that cannot be had throws
// std::runtime_error with the system's text. Paths are in the local 8-bit encoding
// (QFile::encodeName).
bool CreateShellShortcut(int folder, const std::string& name, const std::string& target);

// Deletes the entry; every failure is ignored.
void DeleteShellShortcut(int folder, const std::string& name);

// The file the entry is kept in ("<folder>/Qorvanta.desktop" on Linux, "<folder>\Qorvanta.lnk"
// on Windows); empty when the folder cannot be found.
std::string ShellShortcutPath(int folder, const std::string& name);
