#include "QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace {

// The first folder holding a catalogue of the variant, loaded; null where none does.
std::unique_ptr<QTranslator> Load(const QLocale& variant, const QString& catalogue)
{
    const QStringList folders = {
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
    };
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(variant, catalogue, QStringLiteral("_"), folder))
            return translator;
    }
    return nullptr;
}

}  // namespace

TQtTranslations InstallQtTranslations(const QLocale& locale)
{
    // The language's main variant first and the system's own over it, as the translator
    // installed last is asked first. Qt's catalogue for European Portuguese is the older
    // whole-library one (qt_pt_PT), which lacks the standard buttons' texts and part of the
    // date picker's menu: those come from the Brazilian qtbase_pt_BR, the rest in European
    // wording.
    TQtTranslations installed;
    QStringList files;
    for (const QLocale& variant : {QLocale(locale.language()), locale}) {
        // The older catalogue only for a variant without a current one.
        std::unique_ptr<QTranslator> translator = Load(variant, QStringLiteral("qtbase"));
        if (!translator)
            translator = Load(variant, QStringLiteral("qt"));
        if (!translator || files.contains(translator->filePath()))
            continue;
        files << translator->filePath();
        QCoreApplication::installTranslator(translator.get());
        installed.push_back(std::move(translator));
    }
    return installed;
}
