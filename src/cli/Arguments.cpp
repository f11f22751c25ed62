#include "Arguments.h"

#include "Commands.h"
#include "SettingsFile.h"

namespace {

struct TOptionForm {
    const char* name;
    bool takesValue;
    int most;  // times it may be given
};

const TOptionForm kOptions[] = {
    {"pasta", true, 1},        {"json", false, 1},         {"ajuda", false, 1},
    {"linha", true, 3},        {"manter-taxa", false, 1},  {"precos-compra", false, 1},
    {"precos-venda", false, 1}, {"arredondar", true, 1},   {"quando", true, 1},
    {"repor", true, 1},
};

struct TCommandForm {
    const char* name;
    TCommandRun run;
    const char* doneWord;  // the JSON's "resultado" when it ends with kExitDone
    QStringList options;   // beyond --pasta, --json and --ajuda
    QStringList required;
    int mostPositionals;
};

const QStringList kRequestOptions = {"linha", "manter-taxa", "precos-compra", "precos-venda", "arredondar"};

const TCommandForm kCommands[] = {
    {"verificar", RunVerify, "verificada", {}, {}, 0},
    {"simular", RunSimulate, "simulada", kRequestOptions, {"linha"}, 0},
    {"alterar", RunChangeNow, "efectuada", kRequestOptions, {"linha"}, 0},
    {"agendar", RunSchedule, "agendada", kRequestOptions + QStringList{"quando", "repor"}, {"linha", "quando"}, 0},
    {"desfazer", RunUndo, "desfeita", {}, {}, 1},
    {"estado", RunStatus, "lido", {}, {}, 0},
};

const TOptionForm* OptionNamed(const QString& name)
{
    for (const TOptionForm& option : kOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

[[noreturn]] void Refuse(const QString& text)
{
    throw TArgumentError(text);
}

// A value longer than the edit that holds it on the rate entry page: the edit would have cut
// it, and "100" would run as "10".
void CheckLength(const QString& what, const QString& value, int most)
{
    if (value.size() > most)
        Refuse(QStringLiteral("%1 '%2' tem mais de %3 caracteres.").arg(what, value).arg(most));
}

// "verificar, simular, ... ou estado", from the table, so that a new command is named too.
QString CommandList()
{
    QStringList names;
    for (const TCommandForm& form : kCommands)
        names << QString::fromUtf8(form.name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" ou ") + last;
}

}  // namespace

TArguments ParseArguments(const QStringList& words)
{
    TArguments parsed;
    const TCommandForm* command = nullptr;
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (!word.startsWith(QStringLiteral("--"))) {
            if (!command) {
                for (const TCommandForm& form : kCommands)
                    if (word == QLatin1String(form.name))
                        command = &form;
                if (!command)
                    Refuse(QStringLiteral("Comando desconhecido: \"%1\". Veja taxas-iva-cli --ajuda.").arg(word));
                parsed.command = word;
                parsed.run = command->run;
                parsed.doneWord = QString::fromUtf8(command->doneWord);
            } else {
                parsed.positionals << word;
            }
            continue;
        }
        // --nome VALOR or --nome=VALOR
        QString name = word.mid(2);
        std::optional<QString> value;
        if (const qsizetype equals = name.indexOf(u'='); equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        const TOptionForm* option = OptionNamed(name);
        if (!option)
            Refuse(QStringLiteral("Opção desconhecida: %1. Veja taxas-iva-cli --ajuda.").arg(word));
        if (option->takesValue && !value) {
            if (i + 1 >= words.size())
                Refuse(QStringLiteral("Falta o valor de --%1.").arg(name));
            value = words[++i];
        } else if (!option->takesValue && value) {
            Refuse(QStringLiteral("A opção --%1 não leva valor.").arg(name));
        }
        QStringList& values = parsed.options[name];
        values << value.value_or(QString());
        if (values.size() > option->most)
            Refuse(option->most == 1 ? QStringLiteral("A opção --%1 só pode ser indicada uma vez.").arg(name)
                                     : QStringLiteral("A opção --%1 pode ser indicada no máximo %2 vezes.")
                                           .arg(name)
                                           .arg(option->most));
    }
    if (parsed.has(QStringLiteral("ajuda")))
        return parsed;
    if (!command)
        Refuse(QStringLiteral("Falta o comando (%1). Veja taxas-iva-cli --ajuda.").arg(CommandList()));
    for (auto it = parsed.options.cbegin(); it != parsed.options.cend(); ++it) {
        const QString& name = it.key();
        if (!command->options.contains(name) && name != QLatin1String("pasta") && name != QLatin1String("json"))
            Refuse(QStringLiteral("O comando %1 não aceita a opção --%2.").arg(parsed.command, name));
    }
    for (const QString& name : command->required)
        if (!parsed.has(name))
            Refuse(QStringLiteral("O comando %1 precisa da opção --%2.").arg(parsed.command, name));
    if (parsed.positionals.size() > command->mostPositionals)
        Refuse(QStringLiteral("O comando %1 não aceita \"%2\".").arg(parsed.command, parsed.positionals.last()));
    return parsed;
}

TChangeRequest RequestOf(const TArguments& arguments)
{
    TChangeRequest request;
    const QStringList rows = arguments.options.value(QStringLiteral("linha"));
    for (int i = 0; i < rows.size(); ++i) {
        // The description is the rest: it may hold colons of its own.
        const QStringList parts = rows[i].split(u':');
        if (parts.size() < 2)
            Refuse(QStringLiteral("--linha \"%1\": indique ANTIGA:NOVA ou ANTIGA:NOVA:DESCRICAO.").arg(rows[i]));
        TRatePair& row = request.rows[i];
        row.enabled = true;
        row.existing = parts[0];
        row.replacement = parts[1];
        // As the page leaves it on leaving the new rate: "NOVA%", unless typed over.
        row.description = parts.size() > 2 ? parts.mid(2).join(u':') : row.replacement + u'%';
        const QString where = QStringLiteral("--linha %1: ").arg(i + 1);
        CheckLength(where + QStringLiteral("a taxa"), row.existing, kRateMaxLength);
        CheckLength(where + QStringLiteral("a nova taxa"), row.replacement, kRateMaxLength);
        CheckLength(where + QStringLiteral("a descrição"), row.description, kDescriptionMaxLength);
    }
    TChangeOptions& options = request.options;
    options.keepCurrentRate = arguments.has(QStringLiteral("manter-taxa"));
    options.purchasePrices = arguments.has(QStringLiteral("precos-compra"));
    options.salePrices = arguments.has(QStringLiteral("precos-venda"));
    if (arguments.has(QStringLiteral("arredondar"))) {
        options.roundPrices = true;
        options.places = arguments.value(QStringLiteral("arredondar"));
        CheckLength(QStringLiteral("--arredondar"), options.places, kPlacesMaxLength);
    }
    return request;
}

QDateTime MomentOf(const QString& text, const QString& option)
{
    // dd/mm/aaaa first, whatever the system's date looks like, then the system's own.
    QDateTime moment = MomentFromText(text, QLocale(QLocale::Portuguese, QLocale::Portugal));
    if (!moment.isValid())
        moment = MomentFromText(text);
    if (!moment.isValid())
        Refuse(QStringLiteral("--%1 \"%2\" não é uma data válida: use dd/mm/aaaa hh:mm ou aaaa-mm-dd hh:mm.")
                   .arg(option, text));
    return moment;
}

QString UsageText()
{
    return QStringLiteral(
        "Alteração de taxas de IVA na base de dados da aplicação instalada nesta pasta.\n"
        "\n"
        "taxas-iva-cli verificar                       a aplicação, se os preços incluem IVA, as taxas e os seus "
        "produtos\n"
        "taxas-iva-cli simular  PEDIDO                 a alteração feita e anulada, com o que mudaria\n"
        "taxas-iva-cli alterar  PEDIDO                 a alteração, agora\n"
        "taxas-iva-cli agendar  PEDIDO --quando DATA [--repor DATA]\n"
        "                                              a alteração agendada, como \"Confirmar\" a deixa; com\n"
        "                                              --repor, desfeita a essa data (taxas temporárias)\n"
        "taxas-iva-cli desfazer [ID]                   desfaz a última alteração (a do registo ID, se indicado)\n"
        "taxas-iva-cli estado                          a alteração agendada e as últimas execuções\n"
        "\n"
        "PEDIDO: --linha ANTIGA:NOVA[:DESCRICAO]  uma a três vezes, linhas 1 a 3 por ordem (descrição: NOVA%)\n"
        "        --manter-taxa     não eliminar a taxa actual (criar nova)\n"
        "        --precos-compra   actualizar os preços de compra  } só com os preços\n"
        "        --precos-venda    actualizar os preços de venda   } com IVA incluído\n"
        "        --arredondar CASAS  arredondar os novos preços de venda a 2, 3 ou 4 casas decimais\n"
        "DATA:   dd/mm/aaaa hh:mm (ou a data curta do sistema) ou aaaa-mm-dd hh:mm\n"
        "\n"
        "--pasta PASTA  a pasta da aplicação (de início, a pasta actual)\n"
        "--json         um objecto JSON na saída padrão em vez do texto\n"
        "\n"
        "A alteração agendada é executada pelo taxas-iva desta pasta, a partir da entrada de arranque\n"
        "automático do utilizador que a agendou, no início da sessão seguinte.\n"
        "\n"
        "Códigos de saída:\n"
        "  0  feito\n"
        "  1  recusado pelas verificações, ou argumento inválido: nada foi enviado\n"
        "  2  a base de dados recusou: tudo foi anulado\n"
        "  3  nenhuma aplicação encontrada, ou sem ligação à base de dados\n"
        "  4  em dúvida: não se sabe se a alteração foi gravada; verifique à mão as taxas e os preços\n"
        "  5  interrompido (Ctrl+C): a alteração foi cancelada e anulada\n");
}
