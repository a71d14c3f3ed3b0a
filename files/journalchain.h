// The records' chain on a team server: each record carries the SHA-256 of
// the hash of the record before it and of its own canonical text, in the
// order the server took them in.  A record changed, put in or taken out
// afterwards breaks the chain at that place, and verify() names it.  A
// printed certificate carries a record's UUID and hash, so the paper can be
// checked against the server.
//
// The canonical text is the record's fields as "name=value" lines, in a
// fixed order, each value with '\' written "\\", a line feed "\n" and a
// carriage return "\r"; the time is UTC with milliseconds as the database
// holds it.  The id, the chain fields and the server id are not in it: the
// same record has the same text in every copy of the journal.
//
// No widgets and no messages but the plain English lines of verify().
#pragma once

#include "journal.h"

#include <QByteArray>
#include <QString>

namespace Journal {

// The "hash before" the first record of a chain: 64 zeros.
constexpr const char *GenesisHash = "0000000000000000000000000000000000000000000000000000000000000000";

QByteArray canonicalText(const Record &record);
// SHA-256 of `previous` (lower-case hex), a line feed and the canonical
// text, as lower-case hex.
QString chainHash(const QString &previous, const Record &record);

// What verify() found.
struct ChainCheck {
    enum class Finding {
        Intact,     // every record chained as taken in
        Altered,    // the record's own text no longer gives its hash
        Inserted,   // the record was put in: not chained, or chained to a
                    // record it does not follow
        Removed,    // a record before this one is missing
    };
    Finding finding = Finding::Intact;
    qint64 records = 0;   // how many were checked
    Record first;         // the first record where the chain breaks
    QString text;         // one English line: what was found, where
};

// Recomputes the chain of the open journal `db` (on a server) in the order
// the records were taken in, and finds the first record that was altered,
// inserted or removed.  A file of this computer has no chain: an error says
// so.
Error verify(Database &db, ChainCheck *check);

} // namespace Journal
