// How records reach a team's server.  Nothing that works a device waits on
// the network: every record, and every change of the site register, is
// written first to a file of this computer (localPath()), where it waits
// until it is sent.  sync() sends what waits and reads back what the rest
// of the team sent, so that the file also shows everyone's records and the
// register as the server holds it; the program calls it off the device
// path (at start, by a timer, after a record), tlctl when its work is done
// and in "tlctl journal sync".
//
// Sending is idempotent: the server keeps a record's UUID unique, so a send
// cut off halfway and repeated makes no duplicate and loses nothing.
//
// No widgets and no messages here but plain English details.
#pragma once

#include "journal.h"

#include <atomic>

namespace Journal {

// The file records are written to for `location`: the location itself when
// it names a file, the user's file (defaultPath()) when it names a server.
QString localPath(const QString &location);

// What waits in a file of this computer to be sent.
struct Waiting {
    qint64 records = 0;           // calibration and other journal records
    qint64 registerRecords = 0;   // the register's changes
    qint64 refused = 0;           // register changes the server refused (kept, not sent again)
    qint64 total() const { return records + registerRecords; }
};
// Counts them in the open file `db`.
Error waiting(Database &db, Waiting *waiting);

struct SyncReport {
    QString server;                // the server's location, as messages name it
    qint64 sent = 0;               // records the server took in now
    qint64 alreadyThere = 0;       // found on the server already (a send cut off before its answer)
    qint64 registerSent = 0;       // register changes the server took in now
    qint64 refused = 0;            // register changes the server refused now
    qint64 received = 0;           // records read from the server that this file had not
    qint64 registerReceived = 0;   // register changes read from the server that this file had not
    Waiting left;                  // what still waits afterwards
    Error error;                   // why it stopped; ok when all was sent and read
};

// Sends what waits in localPath(location) to the server `location` and
// reads back what this file has not, until done, an error, or `cancel`
// (checked between batches).  Several programs may sync the same server at
// once.  A location that names a file has nothing to sync: the report says
// so with no error.
SyncReport sync(const QString &location, const std::atomic_bool *cancel = nullptr);

} // namespace Journal
