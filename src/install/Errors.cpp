#include "Errors.h"

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
