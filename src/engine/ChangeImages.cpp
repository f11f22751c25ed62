#include "ChangeImages.h"

#include "ChangeSteps.h"
#include "DiskSync.h"
#include "PagedRead.h"
#include "RowFile.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>

namespace {

const QByteArray kMagic = "TAXASIVA-IMAGENS";
const QByteArray kEnd = "FIM";
// Version 1 held each value as UTF-16; 2 holds it as UTF-8, which halves the file (the values
// are nearly all digits) and its writing. Both are read.
constexpr quint32 kVersion = 2;
constexpr quint8 kSectionEnd = kRowsEnd;

QString Listed(const QStringList& values)
{
    return u'(' + values.join(QStringLiteral(", ")) + u')';
}

QStringList Quoted(const QStringList& values)
{
    QStringList out;
    for (const QString& v : values)
        out << SqlLiteral(v, TColumnKind::Text);
    return out;
}

// The columns of a table as the driver names them.
QStringList ColumnsOf(TDbConnection& db, const QString& table)
{
    TOpenRead probe(db, QStringLiteral("SELECT TOP 1 * FROM ") + table);
    const QStringList columns = db.FieldNames();
    probe.close();
    return columns;
}

void WriteTable(QDataStream& out, const TImageTable& table)
{
    QList<qint32> kinds;
    for (TColumnKind kind : table.kinds)
        kinds << qint32(kind);
    out << table.name << table.columns << kinds << table.identity;
}

void ReadTable(QDataStream& in, TImageTable& table)
{
    QList<qint32> kinds;
    in >> table.name >> table.columns >> kinds >> table.identity;
    table.kinds.clear();
    for (qint32 kind : kinds)
        table.kinds << TColumnKind(kind);
}

void WriteRequest(QDataStream& out, const TChangeRequest& r)
{
    out << qint32(r.app);
    for (const TRatePair& row : r.rows)
        out << row.enabled << row.existing << row.replacement << row.description;
    out << r.options.keepCurrentRate << r.options.purchasePrices << r.options.salePrices << r.options.roundPrices
        << r.options.places;
}

void ReadRequest(QDataStream& in, TChangeRequest& r)
{
    qint32 app = 0;
    in >> app;
    r.app = TAppKind(app);
    for (TRatePair& row : r.rows)
        in >> row.enabled >> row.existing >> row.replacement >> row.description;
    in >> r.options.keepCurrentRate >> r.options.purchasePrices >> r.options.salePrices >> r.options.roundPrices
        >> r.options.places;
}

bool ReadValue(QDataStream& in, quint32 version, QString& value, QByteArray& scratch)
{
    if (version == 1) {
        in >> value;
        return in.status() == QDataStream::Ok;
    }
    quint32 n = 0;
    in >> n;
    if (n == kNullLength) {
        value = QString();
        return in.status() == QDataStream::Ok;
    }
    scratch.resize(qsizetype(n));
    if (in.readRawData(scratch.data(), int(n)) != int(n))
        return false;
    value = n == 0 ? QStringLiteral("") : QString::fromUtf8(scratch);
    return true;
}

bool ReadRow(QDataStream& in, quint32 version, QStringList& row, QByteArray& scratch)
{
    quint32 count = 0;
    in >> count;
    row.clear();
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString value;
        if (!ReadValue(in, version, value, scratch))
            return false;
        row << value;
    }
    return in.status() == QDataStream::Ok;
}

// Goes past a row without making its strings (each value is its length in bytes, then its
// bytes, in either version).
bool SkipRow(QDataStream& in)
{
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        quint32 bytes = 0;
        in >> bytes;
        if (bytes != kNullLength && in.skipRawData(int(bytes)) != int(bytes))
            return false;
    }
    return in.status() == QDataStream::Ok;
}

}  // namespace

QStringList IdentityOf(const TImageTable& table, const QStringList& row)
{
    QStringList values;
    for (const QString& column : table.identity)
        values << row.value(table.columns.indexOf(column));
    return values;
}

QString Holds(const QString& column, const QString& value, TColumnKind kind)
{
    return value.isNull() ? column + QStringLiteral(" IS NULL") : column + QStringLiteral(" = ") + SqlLiteral(value, kind);
}

QString IdentityHolds(const TImageTable& table, const QStringList& row)
{
    QStringList terms;
    for (const QString& column : table.identity) {
        const int i = int(table.columns.indexOf(column));
        terms << Holds(column, row.value(i), table.kinds.value(i));
    }
    return terms.join(QStringLiteral(" AND "));
}

TPagedRead ExactReadOf(const TImageTable& table, const QString& where)
{
    TPagedRead read;
    read.table = table.name;
    read.columns = table.columns;
    read.where = where;
    read.exact = true;
    read.kinds = table.kinds;
    return read;
}

QString ChangeImagePath(const QString& recordPath, const QString& runId)
{
    return QDir(QFileInfo(recordPath).absolutePath()).filePath(QStringLiteral("TaxasIVA.%1.imagens").arg(runId));
}

struct TChangeImageWriter::Impl {
    QString path;
    QString runId;
    TChangeRequest request;
    QFile file;
    QDataStream out;
    TImageTable tables[kImageTables];
    QString where[kImageTables];
    qint64 productsAt = 0;  // where the products of the first image start
    std::unique_ptr<TRowWriter> rows;

    // The rows gathered go to the file first: what follows them is written straight to it.
    void check()
    {
        const bool flushed = !rows || rows->Flush();
        if (!flushed || out.status() != QDataStream::Ok || file.error() != QFileDevice::NoError)
            throw TFileError(QStringLiteral("Não foi possível gravar as imagens da alteração no ficheiro ")
                             + QDir::toNativeSeparators(path));
    }

    // The rows of one table: every value as text that writes back the same.
    void read(TDbConnection& db, int index, const std::function<void(const TRowBytes&)>& each)
    {
        TImageTable& table = tables[index];
        TPagedRead rows;
        rows.table = table.name;
        rows.columns = table.columns;
        rows.where = where[index];
        rows.exact = true;
        rows.hold = true;
        if (index == kProducts) {
            rows.order = table.identity;
            rows.paged = true;
        }
        table.kinds = ReadPaged(db, rows, each);
    }

    void image(TDbConnection& db)
    {
        for (int index = 0; index < kImageTables; ++index) {
            if (tables[index].name.isEmpty())
                continue;
            if (index == kProducts) {
                check();
                productsAt = file.pos();
            }
            read(db, index, [&](const TRowBytes& row) { rows->Write(quint8(index), row); });
        }
        rows->WriteEnd();
        check();
    }
};

TChangeImageWriter::TChangeImageWriter(const QString& path, const QString& runId, const TChangeRequest& request)
    : d(std::make_unique<Impl>())
{
    d->path = path;
    d->runId = runId;
    d->request = request;
}

TChangeImageWriter::~TChangeImageWriter() = default;

bool TChangeImageWriter::ReadBefore(TDbConnection& db)
{
    const TChangeRequest& r = d->request;
    const TImageLayout layout = ProductImageLayout(db, r);
    if (layout.key.isEmpty())
        return false;

    // A write transaction from here on: the rows read stay as read until the commit, and no
    // other writer can come between the images and the change's own statements.
    SendCommand(db, kWriteLock);

    QStringList oldRates, rates;
    for (const TRatePair& row : r.rows) {
        if (!row.enabled)
            continue;
        oldRates << row.existing;
        rates << row.existing << row.replacement;
    }
    TImageTable& iva = d->tables[kRates];
    iva.name = QStringLiteral("iva");
    iva.columns = ColumnsOf(db, iva.name);
    iva.identity = {QStringLiteral("factor")};
    d->where[kRates] = QStringLiteral("factor IN ") + Listed(rates);
    if (IsQuibon(r.app)) {
        TImageTable& deleted = d->tables[kDeletedRates];
        deleted.name = QStringLiteral("iva_apagar");
        deleted.columns = ColumnsOf(db, deleted.name);
        deleted.identity = deleted.columns;
        d->where[kDeletedRates] = QStringLiteral("codigo IN ") + Listed(oldRates);
        TImageTable& terminals = d->tables[kTerminals];
        terminals.name = QStringLiteral("configpostos");
        terminals.columns = ColumnsOf(db, terminals.name);
        terminals.identity = db.RowKey(terminals.name);
        if (terminals.identity.isEmpty())
            for (const QString& c : terminals.columns)
                if (c.compare(QLatin1String("valor"), Qt::CaseInsensitive) != 0)
                    terminals.identity << c;
        d->where[kTerminals] = QStringLiteral("chave IN ") + Listed(Quoted(kTerminalKeys))
                               + QStringLiteral(" AND valor IN ") + Listed(Quoted(rates));
    }
    TImageTable& products = d->tables[kProducts];
    products.name = QStringLiteral("produtos");
    products.identity = layout.key;
    products.columns = layout.key;
    for (const TImageColumn& c : layout.columns)
        products.columns << c.name;
    d->where[kProducts] = layout.filter;

    d->file.setFileName(d->path);
    QDir().mkpath(QFileInfo(d->path).absolutePath());
    if (!d->file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        throw TFileError(QStringLiteral("Não foi possível criar o ficheiro das imagens da alteração ")
                         + QDir::toNativeSeparators(d->path));
    d->out.setDevice(&d->file);
    d->out.setVersion(QDataStream::Qt_6_0);
    d->rows = std::make_unique<TRowWriter>(d->file);
    d->out << kMagic << kVersion << d->runId;
    WriteRequest(d->out, r);
    // The tables' kinds are known once read: the header says which tables, the kinds follow
    // the second image.
    for (const TImageTable& table : d->tables)
        d->out << table.name;
    d->image(db);
    return true;
}

void TChangeImageWriter::ReadAfter(TDbConnection& db)
{
    if (!d->file.isOpen())
        return;
    const qint64 afterAt = d->file.pos();
    // Only the products of the first image: the rest of the table is not the change's.
    auto unread = [&] {
        return TFileError(QStringLiteral("Não foi possível reler as imagens da alteração no ficheiro ")
                          + QDir::toNativeSeparators(d->path));
    };
    QFile earlier(d->path);
    if (!d->file.flush())
        d->check();
    if (!earlier.open(QIODevice::ReadOnly) || !earlier.seek(d->productsAt))
        throw unread();
    TRowReader earlierRows(earlier);
    const TImageTable& products = d->tables[kProducts];
    const qsizetype keyColumns = products.identity.size();
    // The key comes first in a product's row; the products are the first image's last rows.
    TStoredRow wanted;
    auto nextKey = [&] {
        if (earlierRows.Read(wanted) && wanted.tag == kProducts)
            return true;
        if (earlierRows.atRowsEnd())
            return false;
        throw unread();
    };
    bool wanting = nextKey();
    for (int index = 0; index < kImageTables; ++index) {
        if (d->tables[index].name.isEmpty())
            continue;
        if (index != kProducts) {
            d->read(db, index, [&](const TRowBytes& row) { d->rows->Write(quint8(index), row); });
            continue;
        }
        const QString where = d->where[kProducts];
        d->where[kProducts].clear();  // the products are those read before, wherever they went
        d->read(db, index, [&](const TRowBytes& row) {
            if (wanting && row.SameStart(wanted.values, keyColumns)) {
                d->rows->Write(quint8(index), row);
                wanting = nextKey();
            }
        });
        d->where[kProducts] = where;
        // A product of the first image missing from the second would leave an images file
        // that no undo can read.
        if (wanting)
            throw TFileError(QStringLiteral("A imagem dos produtos depois da alteração não tem o produto ")
                             + wanted.values.texts(0, keyColumns).join(QStringLiteral(", ")));
    }
    d->rows->WriteEnd();
    d->check();
    for (const TImageTable& table : d->tables)
        WriteTable(d->out, table);
    d->out << afterAt << kEnd;
    d->check();
    if (!SyncToDisk(d->file))
        d->check();
    d->file.close();
}

void TChangeImageWriter::Discard()
{
    if (d->file.isOpen())
        d->file.close();
    QFile::remove(d->path);
}

struct TChangeImage::Impl {
    QString path;
    QString runId;
    TChangeRequest request;
    TImageTable tables[kImageTables];
    qint64 beforeAt = 0;
    qint64 afterAt = 0;
    qint64 products = 0;
    quint32 version = kVersion;

    [[noreturn]] void broken() const
    {
        throw TFileError(QStringLiteral("O ficheiro das imagens da alteração %1 está incompleto ou não é um "
                                        "ficheiro de imagens")
                             .arg(QDir::toNativeSeparators(path)));
    }

    // One image's rows, table by table, from offset.
    void rows(qint64 offset, const std::function<bool(int index, const QStringList& row)>& each) const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            broken();
        QDataStream in(&file);
        in.setVersion(QDataStream::Qt_6_0);
        QByteArray scratch;
        for (;;) {
            quint8 index = 0;
            in >> index;
            if (in.status() != QDataStream::Ok)
                broken();
            if (index == kSectionEnd)
                return;
            QStringList row;
            if (index >= kImageTables || !ReadRow(in, version, row, scratch))
                broken();
            if (!each(index, row))
                return;
        }
    }
};

TChangeImage::TChangeImage(const QString& path) : d(std::make_unique<Impl>())
{
    d->path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TFileError(QStringLiteral("Não foi possível ler o ficheiro das imagens da alteração ")
                         + QDir::toNativeSeparators(path));
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_6_0);
    QByteArray magic;
    quint32 version = 0;
    in >> magic >> version >> d->runId;
    if (magic != kMagic || version < 1 || version > kVersion)
        d->broken();
    d->version = version;
    ReadRequest(in, d->request);
    QString names[kImageTables];
    for (QString& name : names)
        in >> name;
    d->beforeAt = file.pos();
    // The trailer: the second image's offset and the end mark, written last of all.
    QByteArray end;
    qint64 afterAt = 0;
    if (file.size() < 20 || !file.seek(file.size() - 8 - 4 - 3))
        d->broken();
    in >> afterAt >> end;
    if (in.status() != QDataStream::Ok || end != kEnd || afterAt <= d->beforeAt || afterAt >= file.size())
        d->broken();
    d->afterAt = afterAt;
    // The tables follow the second image.
    if (!file.seek(afterAt))
        d->broken();
    for (;;) {
        quint8 index = 0;
        in >> index;
        if (in.status() != QDataStream::Ok)
            d->broken();
        if (index == kSectionEnd)
            break;
        if (!SkipRow(in))
            d->broken();
        if (index == kProducts)
            ++d->products;
    }
    for (TImageTable& table : d->tables)
        ReadTable(in, table);
    if (in.status() != QDataStream::Ok)
        d->broken();
}

TChangeImage::~TChangeImage() = default;

const TChangeRequest& TChangeImage::request() const { return d->request; }
const TImageTable& TChangeImage::table(int index) const { return d->tables[index]; }
qint64 TChangeImage::ProductCount() const { return d->products; }

QList<TImagedRow> TChangeImage::SmallTable(int index) const
{
    QList<QStringList> before, after;
    auto collect = [&](QList<QStringList>& into) {
        return [&into, index](int at, const QStringList& row) {
            if (at == index)
                into << row;
            return at <= index;  // the products come last and are many
        };
    };
    d->rows(d->beforeAt, collect(before));
    d->rows(d->afterAt, collect(after));
    const TImageTable& table = d->tables[index];
    QList<TImagedRow> rows;
    for (const QStringList& row : before)
        rows << TImagedRow{row, {}};
    for (const QStringList& row : after) {
        bool paired = false;
        for (TImagedRow& imaged : rows) {
            if (imaged.after.isEmpty() && IdentityOf(table, imaged.before) == IdentityOf(table, row)) {
                imaged.after = row;
                paired = true;
                break;
            }
        }
        if (!paired)
            rows << TImagedRow{{}, row};
    }
    return rows;
}

void TChangeImage::Products(const std::function<void(const TImagedRow&)>& each) const
{
    // The two images of the products hold the same products in the same order: read side by
    // side.
    QFile afterFile(d->path);
    if (!afterFile.open(QIODevice::ReadOnly) || !afterFile.seek(d->afterAt))
        d->broken();
    QDataStream after(&afterFile);
    after.setVersion(QDataStream::Qt_6_0);
    QByteArray scratch;
    auto nextAfter = [&]() -> QStringList {
        for (;;) {
            quint8 index = 0;
            after >> index;
            if (after.status() != QDataStream::Ok || index == kSectionEnd)
                return {};
            QStringList row;
            if (!ReadRow(after, d->version, row, scratch))
                return {};
            if (index == kProducts)
                return row;
        }
    };
    d->rows(d->beforeAt, [&](int index, const QStringList& row) {
        if (index != kProducts)
            return true;
        const QStringList later = nextAfter();
        if (later.isEmpty() || IdentityOf(d->tables[kProducts], later) != IdentityOf(d->tables[kProducts], row))
            d->broken();
        each(TImagedRow{row, later});
        return true;
    });
}
