// Setting up a journal on a PostgreSQL server for a team: two group roles,
// what each may do, and a trigger that keeps the records as they were
// written.  Everything the server is told for it is in journalserver.cpp.
//
//   tl_technician  NOLOGIN.  Reads and adds records and the register's rows
//                  (sites, detectors, detector_moves) and changes
//                  (register_records); may update detectors, detector_moves
//                  and register_state, which applying a change keeps up to
//                  date.  Deletes nothing.  A change it may not make (an
//                  interval) is refused by the server, and the sender marks
//                  it so.
//   tl_admin       NOLOGIN, a member of tl_technician; also names sites and
//                  sets their calibration intervals.
//
// A technician's login is a role of its own made a member of one of them
// (CREATE ROLE name LOGIN IN ROLE tl_technician).  The records may be
// changed or removed by the tables' owner only, whatever was granted.
//
// No widgets and no messages but the plain English lines of the report.
#pragma once

#include "journal.h"

#include <QStringList>

namespace Journal {

constexpr const char *TechnicianRole = "tl_technician";
constexpr const char *AdminRole = "tl_admin";

// On the open journal `db` (on a server; run as the owner of its tables,
// with CREATEROLE while a role is missing): makes the roles that are
// missing, sets their privileges and the records' trigger, all in one
// transaction.  Running it again sets the same again.  `report` gets one
// line per thing done.  An open SQLite file has nothing of this: `report`
// says so and no error is returned.
Error initServer(Database &db, QStringList *report);

} // namespace Journal
