#pragma once
// Files found as Windows finds them. The applications were made for Windows, where names
// compare without regard to case; an installation copied here may hold VARLO.UDL or
// Varlo.ini, and its connection string may say .\Varlo.UDL for either.

#include <QString>

// Finds path (absolute or relative to baseDir, '\' or '/' as separators) the way Windows
// would: each component without regard to case. Returns the existing path, or an empty
// string when there is none.
QString FindFileIgnoringCase(const QString& path, const QString& baseDir);

// The entry of folder called name without regard to case, as Windows finds it. The
// spellings a copied installation holds in practice (as given, lower case, upper case, a
// capital first letter with either case of extension) are tried by name first, so a folder
// that may be entered but not listed still answers; the folder is listed only for any
// other spelling. Returns the entry's path (which may be a broken link), or an empty
// string when there is none.
QString FindEntryIgnoringCase(const QString& folder, const QString& name);
