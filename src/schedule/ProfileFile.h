#pragma once
// An INI file kept the way the Windows private-profile functions keep it, so that a file
// written on either platform (or edited by hand in Notepad) reads the same everywhere:
// ANSI text, section and key names matched without regard to case, an
// existing key replaced on its own line, every other line left as it was, new lines
// ended by CR LF. A file edited by hand may come back as UTF-8, with or without a
// byte-order mark: it is read as such, and the first change turns it back into ANSI whole.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

// The ANSI code page: on Windows the system's own (GetACP), as the private-profile
// functions use it; elsewhere Windows-1252, the code page of the shops' systems. Characters
// it cannot hold become '?', as the Windows conversion does.
QString AnsiToText(const QByteArray& bytes);
QByteArray TextToAnsi(const QString& text);

// GetPrivateProfileString's buffer holds 2048 characters with the terminating zero.
constexpr int kProfileReadLimit = 2047;

class TProfileFile {
public:
    static TProfileFile FromBytes(const QByteArray& bytes);
    QByteArray toBytes() const;

    // The value after the first '=' of the key's line in the first section of that name, as
    // GetPrivateProfileString gives it: blanks around it removed, then one pair of enclosing
    // quotes (single or double); cut to kProfileReadLimit characters. Nothing when the section
    // or the key is missing.
    std::optional<QString> value(const QByteArray& section, const QByteArray& key) const;

    // Replaces the key's value in place, or adds the key after the last line of the section,
    // or adds the section at the end of the file. A value that the reading would change
    // (blanks at an end, enclosing quotes) is written inside quotes, so it reads back whole.
    // A file read as UTF-8 is first re-encoded into ANSI and loses its byte-order mark.
    void setValue(const QByteArray& section, const QByteArray& key, const QString& value);
    // Removes the key's line from the first section of that name; nothing else moves.
    void removeKey(const QByteArray& section, const QByteArray& key);

private:
    struct TLine {
        QByteArray text;  // without its line end
        QByteArray end;   // "\r\n", "\n", or empty for a last line without one
    };
    // [first, last) of the section's body (the lines after its header), or nothing.
    std::optional<std::pair<size_t, size_t>> sectionBody(const QByteArray& section) const;
    std::optional<size_t> keyLine(size_t first, size_t last, const QByteArray& key) const;

    QString decoded(const QByteArray& bytes) const;
    void toAnsi();

    QByteArray bom_;     // a UTF-8 byte-order mark before the first line, kept until a change
    bool utf8_ = false;  // the bytes read were valid UTF-8 holding more than ASCII
    std::vector<TLine> lines_;
};

// A boolean as GetPrivateProfileInt reads a whole number: decimal with an optional sign, or
// hexadecimal after "0x"/"0X" (at least one digit). Anything else is not a number.
std::optional<qint32> ProfileInteger(const QString& text);
