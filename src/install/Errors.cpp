#include "Errors.h"

#include <QRegularExpression>

#include <vector>

QString OperatorText(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const TTaxasError*>(&error))
        return own->text();
    return QString::fromUtf8(error.what());
}

QString OperatorText(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return OperatorText(e);
    } catch (...) {
    }
    return QStringLiteral("Ocorreu um erro inesperado");
}

namespace {

// The driver's words stay as they are, for whoever supports the shop; the sentence tells the
// operator what usually lies behind them. From SQL Server, messages 1222 and 1205 (a lock
// waited for in vain, a deadlock), 3906 (read-only), 1105 and 9002 (data or log full), 208
// and 207 (no such object or column), as an English-speaking server words them.
struct TCause {
    const char* sentence;
    const char* words;  // a regular expression, compared without regard to case
};
const TCause kCauses[] = {
    {"A base de dados está bloqueada por outro programa (por exemplo uma cópia de segurança em curso). ",
     "database is locked|database table is locked|lock request time out period exceeded|chosen as the deadlock victim"},
    {"A base de dados só permite leitura e não aceita alterações. ",
     "attempt to write a readonly database|because the database is read-only"},
    {"Não há espaço para a base de dados: o disco, ou o espaço que lhe está reservado, está cheio. ",
     "database or disk is full|could not allocate space for object|the transaction log for database .* is full"},
    {"Falta uma tabela ou uma coluna na base de dados: a instalação não é da aplicação detectada, ou o "
     "ficheiro de ligação indica outra base de dados. ",
     "no such table|no such column|invalid object name|invalid column name"},
};

}  // namespace

QString ExplainedDatabaseText(const QString& driverText)
{
    static const auto patterns = [] {
        std::vector<QRegularExpression> out;
        for (const TCause& cause : kCauses)
            out.emplace_back(QString::fromLatin1(cause.words), QRegularExpression::CaseInsensitiveOption);
        return out;
    }();
    for (std::size_t i = 0; i < patterns.size(); ++i)
        if (patterns[i].match(driverText).hasMatch())
            return QString::fromUtf8(kCauses[i].sentence) + driverText;
    return driverText;
}
