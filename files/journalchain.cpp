#include "journalchain.h"

#include <QCryptographicHash>

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
        {"outcome", r.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
        {"reason", r.reason},
        {"source", r.source},
        {"login", r.login},
        {"host", r.host},
    };
    QString text;
    for (const auto &f : fields)
        text += QLatin1String(f.first) + QLatin1Char('=') + escaped(f.second) + QLatin1Char('\n');
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

Error verify(Database &db, ChainCheck *check)
{
    *check = ChainCheck();
    if (!db.isServer())
        return Error{Problem::Failed, QStringLiteral("a file of this computer has no chain; verify checks a server"),
                     db.location()};
    return Error{Problem::Failed, QStringLiteral("not built yet"), db.location()};
}

} // namespace Journal
