#pragma once
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

using TQtTranslations = std::vector<std::unique_ptr<QTranslator>>;

// Puts Qt's own texts (the standard buttons, the edit menus of the text fields and of the date
// picker) into the language of locale, from Qt's catalogues in a "translations" folder beside
// the executable (the Windows folder carries them there) or in Qt's own translations folder.
// The texts stay while the translators returned live. A language with no catalogue keeps
// Qt's English.
TQtTranslations InstallQtTranslations(const QLocale& locale = QLocale::system());
