#include "OdbcLink.h"
#include "DataLink.h"
#include "Errors.h"
#include "FileLookup.h"
#include "OleDbString.h"
#include "QuotedSpan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

bool IsOneOf(const QString& value, std::initializer_list<const char*> words)
{
    const QString v = value.trimmed();
    for (const char* w : words)
        if (v.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// An ODBC connection string split into its attributes, values kept as written (braces
// included) so that a string from the data-link file reaches the driver unchanged.
TKeywordList SplitOdbcString(const QString& text)
{
    TKeywordList out;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        while (i < n && (text[i] == u';' || text[i].isSpace()))
            ++i;
        if (i >= n)
            break;
        const int keyStart = i;
        while (i < n && text[i] != u'=' && text[i] != u';')
            ++i;
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        QString value;
        if (i < n && text[i] == u'=') {
            ++i;
            const int valueStart = i;
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && text[i] == u'{') {
                i = int(QuotedSpanEnd(text, i, u'}'));
                while (i < n && text[i] != u';')
                    ++i;
            } else {
                while (i < n && text[i] != u';')
                    ++i;
            }
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        if (!key.isEmpty())
            out.append({key, value});
    }
    return out;
}

QString UnbracedOdbcValue(const QString& raw)
{
    if (raw.size() >= 2 && raw.startsWith(u'{') && raw.endsWith(u'}'))
        return raw.mid(1, raw.size() - 2).replace(QLatin1String("}}"), QLatin1String("}"));
    return raw;
}

// Every attribute ends with ';', the last one too: QODBC hands the driver manager the string
// with its terminating NUL counted in the length, so the NUL lands after the last ';' instead
// of at the end of the last value (FreeTDS took it into a trailing password, or kept the
// closing brace of a braced one).
QString JoinOdbc(const TKeywordList& pairs)
{
    QString out;
    for (const auto& p : pairs)
        out += p.first + u'=' + p.second + u';';
    return out;
}

// QODBC decides by itself how to read its database name: a name holding ".dsn" becomes
// FILEDSN=name, one holding DRIVER= or SERVER= is used as it is, anything else becomes
// DSN=name. The DSN attribute comes first in our strings, so dropping its keyword lets
// QODBC put it back and the driver manager receives exactly connectionString.
QString ShapedForQodbc(const QString& s)
{
    auto stripPrefix = [&](const QString& prefix) -> QString {
        return s.startsWith(prefix, Qt::CaseInsensitive) ? s.mid(prefix.size()) : s;
    };
    if (s.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        return stripPrefix(QStringLiteral("FILEDSN="));
    if (s.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive)
        || s.contains(QLatin1String("SERVER="), Qt::CaseInsensitive))
        return s;
    return stripPrefix(QStringLiteral("DSN="));
}

QString FirstOf(const TKeywordList& kw, std::initializer_list<const char*> keys)
{
    for (const char* k : keys) {
        const QString v = KeywordValue(kw, QLatin1String(k));
        if (!v.isEmpty())
            return v;
    }
    return {};
}

// What the OLE DB providers wait for a server before giving up, unless the file says otherwise;
// without a limit FreeTDS waits for ever on a port that accepts and never answers.
constexpr int kDefaultLoginTimeout = 15;

TOdbcLink SqlServerLink(const TKeywordList& kw, const QStringList& installedDrivers)
{
    const QString driver = BestSqlServerDriver(installedDrivers);
    if (driver.isEmpty())
        throw TDbError(QStringLiteral(
            "Não está instalado nenhum controlador ODBC para SQL Server. Instale o \"ODBC Driver "
            "18 for SQL Server\" da Microsoft (ou, em Linux, o controlador FreeTDS, pacote "
            "tdsodbc) e tente de novo"));
    const bool freeTds = driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
    const bool driver18 = driver.compare(QLatin1String("ODBC Driver 18 for SQL Server"),
                                         Qt::CaseInsensitive) == 0;
    auto value = [&](const QString& v, const char* keyword) {
        return freeTds ? FreeTdsValue(v, QLatin1String(keyword)) : OdbcValue(v);
    };

    TKeywordList out;
    out.append({QStringLiteral("DRIVER"), u'{' + driver + u'}'});

    const QString named = FirstOf(kw, {"data source", "server", "address", "addr", "network address"}).trimmed();
    QString server = named;
    // "." and "(local)" name this machine for the OLE DB providers; the ODBC drivers
    // outside Windows only know it by its network name.
    static const QRegularExpression localName(QStringLiteral("^(\\.|\\(local\\))(?=$|\\\\|,)"),
                                              QRegularExpression::CaseInsensitiveOption);
    if (server.isEmpty())
        server = QStringLiteral("localhost");
    server.replace(localName, QStringLiteral("localhost"));
    if (freeTds) {
        if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
            server = server.mid(4);
        const int comma = server.indexOf(u',');
        if (comma > 0) {
            out.append({QStringLiteral("SERVER"), value(server.left(comma).trimmed(), "Data Source")});
            out.append({QStringLiteral("PORT"), value(server.mid(comma + 1).trimmed(), "Data Source")});
        } else {
            out.append({QStringLiteral("SERVER"), value(server, "Data Source")});
        }
        // Every SQL Server takes a 7.4 login and answers with its own version; FreeTDS's
        // "auto" would try a Sybase login after a failed one, and that one can hang.
        out.append({QStringLiteral("TDS_Version"), QStringLiteral("7.4")});
    } else {
        out.append({QStringLiteral("SERVER"), value(server, "Data Source")});
    }

    const QString database = FirstOf(kw, {"initial catalog", "database"});
    if (!database.isEmpty())
        out.append({QStringLiteral("DATABASE"), value(database, "Initial Catalog")});

    TOdbcLink link;
    link.target = QStringLiteral("servidor \"%1\"").arg(named.isEmpty() ? server : named);
    if (!database.isEmpty())
        link.target += QStringLiteral(", base de dados \"%1\"").arg(database);
    const bool trusted = IsOneOf(KeywordValue(kw, QStringLiteral("integrated security")), {"sspi", "true", "yes"})
                         || IsOneOf(KeywordValue(kw, QStringLiteral("trusted_connection")), {"true", "yes"});
    if (trusted) {
        out.append({QStringLiteral("Trusted_Connection"), QStringLiteral("yes")});
        link.target += QStringLiteral(", autenticação do Windows");
    } else {
        const QString user = FirstOf(kw, {"user id", "uid", "user"});
        const QString password = FirstOf(kw, {"password", "pwd"});
        if (!user.isEmpty()) {
            out.append({QStringLiteral("UID"), value(user, "User ID")});
            link.target += QStringLiteral(", utilizador \"%1\"").arg(user);
        }
        // Persist Security Info only decides whether OLE DB hands the password back after
        // connecting; the login uses it either way.
        if (!password.isEmpty()) {
            const QString sent = value(password, "Password");
            out.append({QStringLiteral("PWD"), sent});
            link.secrets << password;
            if (sent != password)
                link.secrets << sent;
        }
    }

    // The OLE DB providers the applications used did not encrypt unless told to; driver 18
    // encrypts (and checks the certificate) by default, which would refuse most installed
    // servers, so it is told either way.
    const QString encrypt = KeywordValue(kw, QStringLiteral("encrypt"));
    const bool strict = IsOneOf(encrypt, {"strict"});
    const bool askEncrypt = strict || IsOneOf(encrypt, {"yes", "true", "mandatory"})
                            || IsOneOf(KeywordValue(kw, QStringLiteral("use encryption for data")), {"true", "yes"});
    const bool trustCertificate = IsOneOf(FirstOf(kw, {"trust server certificate", "trustservercertificate"}),
                                          {"true", "yes"});
    if (freeTds) {
        if (askEncrypt)
            out.append({QStringLiteral("Encryption"), QStringLiteral("require")});
    } else {
        if (askEncrypt)
            out.append({QStringLiteral("Encrypt"), (strict && driver18) ? QStringLiteral("strict") : QStringLiteral("yes")});
        else if (driver18)
            out.append({QStringLiteral("Encrypt"), QStringLiteral("no")});
        if (trustCertificate)
            out.append({QStringLiteral("TrustServerCertificate"), QStringLiteral("yes")});
    }

    const QString appName = KeywordValue(kw, QStringLiteral("application name"));
    if (!appName.isEmpty())
        out.append({QStringLiteral("APP"), value(appName, "Application Name")});
    const QString workstation = KeywordValue(kw, QStringLiteral("workstation id"));
    if (!workstation.isEmpty())
        out.append({QStringLiteral("WSID"), value(workstation, "Workstation ID")});

    bool timeoutOk = false;
    const int timeout = KeywordValue(kw, QStringLiteral("connect timeout")).trimmed().toInt(&timeoutOk);
    link.loginTimeout = timeoutOk && timeout > 0 ? timeout : kDefaultLoginTimeout;

    link.connectionString = JoinOdbc(out);
    link.qtDatabaseName = ShapedForQodbc(link.connectionString);
    return link;
}

TOdbcLink OdbcProviderLink(const TKeywordList& kw)
{
    TKeywordList ext = SplitOdbcString(KeywordValue(kw, QStringLiteral("extended properties")));
    auto has = [&](const char* key) { return HasKeyword(ext, QLatin1String(key)); };

    TOdbcLink link;
    TKeywordList out;
    // The data source (DSN or FILEDSN) goes first: see ShapedForQodbc.
    for (const char* key : {"dsn", "filedsn"}) {
        for (int i = 0; i < ext.size(); ++i) {
            if (NormalisedKeyword(ext[i].first) == QLatin1String(key)) {
                out.append(ext.takeAt(i));
                break;
            }
        }
    }
    const QString dataSource = KeywordValue(kw, QStringLiteral("data source"));
    if (out.isEmpty() && !has("driver")) {
        if (dataSource.isEmpty())
            throw TDbError(QStringLiteral(
                "O ficheiro de ligação não indica a origem de dados ODBC (\"Data Source\" ou "
                "\"Extended Properties\")"));
        out.append({QStringLiteral("DSN"), OdbcValue(dataSource)});
    }
    out.append(ext);

    const QString catalog = KeywordValue(kw, QStringLiteral("initial catalog"));
    if (!catalog.isEmpty() && !HasKeyword(out, QStringLiteral("database")))
        out.append({QStringLiteral("DATABASE"), OdbcValue(catalog)});
    const QString user = KeywordValue(kw, QStringLiteral("user id"));
    if (!user.isEmpty() && !HasKeyword(out, QStringLiteral("uid")))
        out.append({QStringLiteral("UID"), OdbcValue(user)});
    const QString password = KeywordValue(kw, QStringLiteral("password"));
    if (!password.isEmpty()) {
        link.secrets << password;
        if (!HasKeyword(out, QStringLiteral("pwd")))
            out.append({QStringLiteral("PWD"), OdbcValue(password)});
    }
    for (const auto& p : out) {
        const QString k = NormalisedKeyword(p.first);
        if (k == QLatin1String("pwd") || k == QLatin1String("password")) {
            const QString secret = UnbracedOdbcValue(p.second);
            if (!secret.isEmpty())
                link.secrets << secret;
        }
    }

    link.connectionString = JoinOdbc(out);
    link.qtDatabaseName = ShapedForQodbc(link.connectionString);
    return link;
}

// The OLE DB providers a data-link file may name, by the part of the name before its version
// ("SQLOLEDB.1"), and the ODBC link each becomes. A trailing '*' takes any ending, as
// "SQLNCLI11" or "MSOLEDBSQL19". A file that names no provider means MSDASQL, OLE DB's own
// default.
struct TProvider {
    const char* name;
    TOdbcLink (*link)(const TKeywordList& kw, const QStringList& installedDrivers);
};
const TProvider kProviders[] = {
    {"SQLOLEDB", SqlServerLink},
    {"SQLNCLI*", SqlServerLink},
    {"MSOLEDBSQL*", SqlServerLink},
    {"MSDASQL", [](const TKeywordList& kw, const QStringList&) { return OdbcProviderLink(kw); }},
};
const QLatin1String kDefaultProvider("msdasql");

const TProvider* ProviderNamed(const QString& base)
{
    for (const TProvider& p : kProviders) {
        const QString name = QString::fromLatin1(p.name).toLower();
        if (name.endsWith(u'*') ? base.startsWith(name.chopped(1)) : base == name)
            return &p;
    }
    return nullptr;
}

// "SQLOLEDB, SQLNCLI, MSOLEDBSQL e MSDASQL"
QString SupportedProviders()
{
    QStringList names;
    for (const TProvider& p : kProviders)
        names << QString::fromLatin1(p.name).remove(u'*');
    const QString last = names.takeLast();
    return names.join(QLatin1String(", ")) + QLatin1String(" e ") + last;
}

}  // namespace

TOdbcLink OdbcLinkForProviderString(const QString& oleDb, const QStringList& installedDrivers)
{
    const TKeywordList kw = ParseOleDbConnectionString(oleDb);
    const QString provider = KeywordValue(kw, QStringLiteral("provider")).trimmed();
    const QString base = provider.isEmpty() ? QString(kDefaultProvider) : provider.section(u'.', 0, 0).toLower();
    const TProvider* known = ProviderNamed(base);
    if (!known)
        throw TDbError(QStringLiteral(
            "O fornecedor OLE DB \"%1\" indicado no ficheiro de ligação não é suportado "
            "(suportados: %2)").arg(provider, SupportedProviders()));
    return known->link(kw, installedDrivers);
}

TOdbcLink OdbcLinkFor(const QString& connectionString, const QString& currentDir,
                      const QStringList& installedDrivers)
{
    if (connectionString.trimmed().isEmpty())
        throw TDbError(QStringLiteral("A cadeia de ligação à base de dados está vazia"));
    const TKeywordList kw = ParseOleDbConnectionString(connectionString);
    if (!HasKeyword(kw, QStringLiteral("file name")))
        return OdbcLinkForProviderString(connectionString, installedDrivers);

    const QString named = KeywordValue(kw, QStringLiteral("file name"));
    const QString found = named.trimmed().isEmpty() ? QString() : FindFileIgnoringCase(named, currentDir);
    if (found.isEmpty() || !QFileInfo(found).isFile()) {
        QString shown = named;
        shown.replace(u'\\', u'/');
        shown = QDir::cleanPath(QDir(currentDir).absoluteFilePath(shown));
        throw TDbError(QStringLiteral("O ficheiro de ligação à base de dados \"%1\" não existe (%2)")
                           .arg(named, shown));
    }
    QFile file(found);
    if (!file.open(QIODevice::ReadOnly))
        throw TDbError(QStringLiteral("Não foi possível ler o ficheiro de ligação \"%1\": %2")
                           .arg(found, file.errorString()));
    const QString line = DataLinkConnectionLine(file.readAll(), found);

    // Further keywords beside FILE NAME refine what the file says, as with OLE DB.
    QString merged = line;
    for (const auto& p : kw) {
        if (NormalisedKeyword(p.first) == QLatin1String("file name"))
            continue;
        QString value = p.second;
        value.replace(u'"', QLatin1String("\"\""));
        merged += QStringLiteral(";%1=\"%2\"").arg(QString(p.first).replace(u'=', QLatin1String("==")), value);
    }
    try {
        return OdbcLinkForProviderString(merged, installedDrivers);
    } catch (const TDbError& e) {
        throw TDbError(e.text() + QStringLiteral(" [%1]").arg(found));
    }
}

QString BestSqlServerDriver(const QStringList& installedDrivers)
{
    static const char* const preference[] = {
        "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server",
        "ODBC Driver 13.1 for SQL Server", "ODBC Driver 13 for SQL Server",
        "SQL Server Native Client 11.0", "SQL Server",
    };
    for (const char* wanted : preference)
        for (const QString& d : installedDrivers)
            if (d.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0)
                return d;
    for (const QString& d : installedDrivers)
        if (d.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive))
            return d;
    return {};
}

QString WithoutSecrets(QString text, const QStringList& secrets)
{
    for (const QString& s : secrets)
        if (!s.isEmpty())
            text.replace(s, QStringLiteral("****"));
    return text;
}

QString FreeTdsValue(const QString& value, const QString& keyword)
{
    if (value.contains(QLatin1String("};")))
        throw TDbError(QStringLiteral(
            "O valor de \"%1\" no ficheiro de ligação contém \"};\", que o controlador FreeTDS não "
            "consegue passar ao servidor. Mude esse valor ou instale o \"ODBC Driver 18 for SQL "
            "Server\" da Microsoft").arg(keyword));
    if (value.contains(u';') || value.startsWith(u'{'))
        return u'{' + value + u'}';
    return value;
}

QString OdbcValue(const QString& value)
{
    const bool plain = !value.isEmpty() && !value.contains(u';') && !value.contains(u'{')
                       && !value.contains(u'}') && value == value.trimmed();
    if (plain)
        return value;
    return u'{' + QString(value).replace(u'}', QLatin1String("}}")) + u'}';
}

QString OdbcAttribute(const QString& odbcString, const QString& key)
{
    QString found;
    for (const auto& [name, value] : SplitOdbcString(odbcString))
        if (NormalisedKeyword(name) == NormalisedKeyword(key))
            found = UnbracedOdbcValue(value);
    return found;
}
