#include "DataLink.h"
#include "Errors.h"

#include <QRegularExpression>
#include <QStringDecoder>

QString DataLinkConnectionLine(const QByteArray& bytes, const QString& fileNameForErrors)
{
    QString text;
    auto decode = [&](QStringConverter::Encoding encoding, int skip) {
        QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
        text = decoder.decode(QByteArrayView(bytes).sliced(skip));
    };
    const auto b = [&](int i) { return static_cast<unsigned char>(bytes.at(i)); };
    if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE)
        decode(QStringConverter::Utf16LE, 2);
    else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF)
        decode(QStringConverter::Utf16BE, 2);
    else if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        decode(QStringConverter::Utf8, 3);
    else if (bytes.size() >= 2 && b(0) != 0 && b(1) == 0)
        decode(QStringConverter::Utf16LE, 0);  // Unicode without its mark
    else {
        QStringDecoder utf8(QStringConverter::Utf8, QStringDecoder::Flag::Stateless);
        text = utf8.decode(bytes);
        if (utf8.hasError())
            text = QString::fromLatin1(bytes);  // an ANSI file from an older tool
    }

    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    for (QString line : text.split(lineBreak)) {
        line.remove(QChar(0));
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'[') || line.startsWith(u';'))
            continue;
        return line;
    }
    throw TDbError(QStringLiteral("O ficheiro de ligação %1 não contém nenhuma cadeia de ligação")
                       .arg(fileNameForErrors));
}
