#include "journalchain.h"

#include <QCryptographicHash>
#include <QHash>
#include <QVector>

namespace Journal {

namespace {

QString escaped(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

} // namespace

QByteArray canonicalText(const Record &r)
{
    const QString time = r.time.isValid() ? r.time.toUTC().toString(Qt::ISODateWithMs) : QString();
    const QPair<const char *, QString> fields[] = {
        {"uuid", r.uuid},
        {"time", time},
        {"device_type", QString::number(r.deviceType)},
        {"serial", QString::number(r.serial)},
        {"serial_text", r.serialText},
        {"firmware", r.firmware},
        {"address", QString::number(r.address)},
        {"level", r.level},
        {"kind", r.kind},
        {"value", r.value},
        {"before", r.before},
        {"after", r.after},
        {"outcome", r.started ? QStringLiteral("started") : r.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
        {"reason", r.reason},
        {"source", r.source},
        {"login", r.login},
        {"host", r.host},
    };
    QString text;
    for (const auto &f : fields)
        text += QLatin1String(f.first) + QLatin1Char('=') + escaped(f.second) + QLatin1Char('\n');
    // Fields that came later are in the text only when set, so that the
    // hashes of the records made before them stay the same.
    if (!r.group.isEmpty())
        text += QLatin1String("group=") + escaped(r.group) + QLatin1Char('\n');
    if (!r.details.isEmpty())
        text += QLatin1String("details=") + escaped(r.details) + QLatin1Char('\n');
    return text.toUtf8();
}

QString chainHash(const QString &previous, const Record &record)
{
    QCryptographicHash sha(QCryptographicHash::Sha256);
    sha.addData(previous.toLatin1());
    sha.addData("\n", 1);
    sha.addData(canonicalText(record));
    return QString::fromLatin1(sha.result().toHex());
}

namespace {

QString named(const Record &r)
{
    return QStringLiteral("record #%1 (UUID %2, %3)")
        .arg(r.id)
        .arg(r.uuid.isEmpty() ? QStringLiteral("none") : r.uuid,
             r.time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")));
}

QByteArray raw(const QString &hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

} // namespace

Error verify(Database &db, ChainCheck *check)
{
    *check = ChainCheck();
    if (!db.isServer())
        return Error{Problem::Failed, QStringLiteral("a file of this computer has no chain; verify checks a server"),
                     db.location()};
    // Where each hash seen so far sits in the walk (the genesis before the
    // first record), so that a record chained to the wrong one tells
    // whether records were put in before it or one was taken out.
    QHash<QByteArray, qint64> seenAt;
    seenAt.insert(raw(QLatin1String(GenesisHash)), -1);
    QVector<qint64> ids;   // the ids in the order walked
    QString expected = QLatin1String(GenesisHash);
    // A record R chained past the record before it to an older one: either
    // the records in between were put in, or R itself was.  The record after
    // R tells which: chained to R, R belongs and those in between do not.
    struct Pending {
        Record record;
        qint64 index = 0;
        qint64 chainedTo = 0;    // index of the record R is chained to
    };
    bool pending = false;
    Pending skip;
    qint64 insertedId = 0;       // id of the first record put in, read again below
    auto decide = [&](const Record *next) {
        const bool rBelongs = next ? next->prevHash == skip.record.hash
                                   : skip.index - 1 - skip.chainedTo == 1;   // at the end: the simpler story
        check->finding = ChainCheck::Finding::Inserted;
        if (rBelongs)
            insertedId = ids.value(int(skip.chainedTo + 1));
        else
            check->first = skip.record;
    };
    const Error e = db.scan([&](const Record &r) {
        if (pending) {
            decide(&r);
            return false;
        }
        const qint64 index = check->records++;
        ids.append(r.id);
        if (r.hash.isEmpty()) {
            check->finding = ChainCheck::Finding::Inserted;
            check->first = r;
            return false;
        }
        if (chainHash(r.prevHash, r) != r.hash) {
            check->finding = ChainCheck::Finding::Altered;
            check->first = r;
            check->text = named(r) + QStringLiteral(" was altered: its text no longer gives its hash %1").arg(r.hash);
            return false;
        }
        if (r.prevHash != expected) {
            const auto at = seenAt.constFind(raw(r.prevHash));
            if (at != seenAt.constEnd() && at.value() < index - 1) {
                pending = true;
                skip = Pending{r, index, at.value()};
                return true;
            }
            check->finding = ChainCheck::Finding::Removed;
            check->first = r;
            check->text = QStringLiteral("a record before %1 was removed: it is chained to hash %2, which no "
                                         "record before it has").arg(named(r), r.prevHash);
            return false;
        }
        seenAt.insert(raw(r.hash), index);
        expected = r.hash;
        return true;
    });
    if (!e.ok())
        return e;
    if (pending && check->finding == ChainCheck::Finding::Intact)
        decide(nullptr);
    if (insertedId != 0) {
        const Error again = db.scan([&](const Record &r) {
            if (r.id != insertedId)
                return true;
            check->first = r;
            return false;
        });
        if (!again.ok())
            return again;
    }
    if (check->finding == ChainCheck::Finding::Inserted)
        check->text = named(check->first)
                      + (check->first.hash.isEmpty()
                             ? QStringLiteral(" was inserted: it carries no hash, the server never chained it")
                             : QStringLiteral(" was inserted: the chain as the server made it does not hold it"));
    if (check->finding == ChainCheck::Finding::Intact)
        check->text = check->records == 0 ? QStringLiteral("the journal has no records yet")
                                          : QStringLiteral("the chain of %1 records is intact; the last hash is %2")
                                                .arg(check->records).arg(expected);
    return Error();
}

} // namespace Journal
