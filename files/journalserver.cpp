#include "journalserver.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace Journal {

namespace {

// The register's tables, its changes as records and which record set each
// field; the tables with a counted id.
const char *const RegisterTables[] = {"sites", "detectors", "detector_moves", "register_records", "register_state"};
const char *const CountedTables[] = {"records", "sites", "detector_moves", "register_records"};

// The records' guard.  It checks current_user, the role whose privileges
// the statement runs with (after SET ROLE, too), not session_user, the
// login: a login that is a member of the owner but has set the role
// tl_technician is held to the technician's rights, as the privileges hold
// it.  The owner is read from pg_class for the table the trigger fires on
// (TG_RELID), so a new owner (ALTER TABLE ... OWNER TO) is followed without
// running init again.  pg_has_role(..., 'MEMBER') lets through the owner,
// the roles that may act as the owner and superusers: each of them may drop
// the trigger anyway, so refusing them would protect nothing.  The function
// is no SECURITY DEFINER (current_user would then be its owner) and its
// search_path is fixed, so a function of the same name in another schema
// cannot stand in for pg_has_role.  TRUNCATE, which fires no row trigger, is
// refused by a statement trigger of the same function.
const char *const GuardFunction =
    "CREATE OR REPLACE FUNCTION tl_records_kept() RETURNS trigger"
    " LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $guard$\n"
    "DECLARE\n"
    "    owner_id oid;\n"
    "BEGIN\n"
    "    SELECT relowner INTO owner_id FROM pg_class WHERE oid = TG_RELID;\n"
    "    IF owner_id IS NULL OR NOT pg_has_role(current_user, owner_id, 'MEMBER') THEN\n"
    "        RAISE EXCEPTION 'the journal''s records are kept as written: % refused for %', TG_OP, current_user\n"
    "            USING ERRCODE = 'insufficient_privilege',\n"
    "                  HINT = 'only the owner of the table ' || TG_TABLE_NAME || ' may change or remove records';\n"
    "    END IF;\n"
    "    IF TG_LEVEL = 'STATEMENT' THEN\n"
    "        RETURN NULL;\n"
    "    ELSIF TG_OP = 'DELETE' THEN\n"
    "        RETURN OLD;\n"
    "    END IF;\n"
    "    RETURN NEW;\n"
    "END\n"
    "$guard$";

QString ident(const char *name)
{
    return QLatin1String(name);
}

} // namespace

Error initServer(Database &db, QStringList *report)
{
    report->clear();
    if (!db.isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), db.location()};
    if (!db.isServer()) {
        report->append(QStringLiteral("%1 is a file of this computer: no roles to set up (they are a server's)")
                           .arg(db.location()));
        return Error();
    }

    Error e = db.begin();
    if (!e.ok())
        return e;
    QSqlQuery q(db.handle());
    QString failed;   // the statement that failed
    auto run = [&](const QString &statement) {
        if (!failed.isEmpty())
            return false;
        if (q.exec(statement))
            return true;
        failed = statement;
        return false;
    };
    auto answer = [&](const QString &statement) {
        return run(statement) && q.next() ? q.value(0) : QVariant();
    };
    // No notices ("trigger ... does not exist, skipping") on the caller's
    // standard error; warnings and errors still come.
    run(QStringLiteral("SET LOCAL client_min_messages = warning"));

    // Only the tables' owner may grant on them and guard them; anyone else
    // would only get warnings for most of it, so is told plainly.
    const QString owner =
        answer(QStringLiteral("SELECT pg_get_userbyid(relowner) FROM pg_class WHERE oid = 'records'::regclass"))
            .toString();
    const QVariant mayOwn = answer(QStringLiteral(
        "SELECT pg_has_role(current_user, relowner, 'USAGE') FROM pg_class WHERE oid = 'records'::regclass"));
    if (failed.isEmpty() && !mayOwn.toBool()) {
        const QString who = answer(QStringLiteral("SELECT current_user")).toString();
        db.rollback();
        return Error{Problem::Failed,
                     QStringLiteral("the journal's tables belong to %1: journal init runs as that role, not as %2")
                         .arg(owner, who),
                     db.location()};
    }

    // The roles, where missing (a role is the server's, not the database's:
    // another team database on the same server may have made them).
    const QString technician = ident(TechnicianRole);
    const QString admin = ident(AdminRole);
    QStringList lines;
    for (const QString &role : {technician, admin}) {
        const QVariant there = answer(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = '%1'").arg(role));
        if (there.toInt() == 0 && run(QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(role)))
            lines << QStringLiteral("role %1 made").arg(role);
        else if (there.toInt() > 0)
            lines << QStringLiteral("role %1 already there").arg(role);
    }
    const QVariant member =
        answer(QStringLiteral("SELECT pg_has_role('%1', '%2', 'MEMBER')").arg(admin, technician));
    if (member.isValid() && !member.toBool() && run(QStringLiteral("GRANT %1 TO %2").arg(technician, admin)))
        lines << QStringLiteral("%1 made a member of %2").arg(admin, technician);

    // The privileges, set anew each time: what was granted before is taken
    // back first, so the roles have exactly these.
    QStringList tables{QStringLiteral("records")};
    for (const char *t : RegisterTables)
        tables << QLatin1String(t);
    const QString all = tables.join(QStringLiteral(", "));
    run(QStringLiteral("REVOKE ALL ON %1, journal_schema FROM %2, %3").arg(all, technician, admin));
    run(QStringLiteral("GRANT SELECT ON journal_schema TO %1").arg(technician));
    run(QStringLiteral("GRANT SELECT, INSERT ON %1 TO %2").arg(all, technician));
    // Applying a register change updates detectors and which record set a
    // field (register_state); the changes themselves, as the records, are
    // only added.
    run(QStringLiteral("GRANT UPDATE ON detectors, detector_moves, register_state TO %1").arg(technician));
    run(QStringLiteral("GRANT INSERT, UPDATE (name, calibration_interval_days) ON sites TO %1").arg(admin));
    for (const char *table : CountedTables) {
        const QString sequence =
            answer(QStringLiteral("SELECT pg_get_serial_sequence('%1', 'id')").arg(QLatin1String(table))).toString();
        if (!sequence.isEmpty()) {
            run(QStringLiteral("REVOKE ALL ON SEQUENCE %1 FROM %2, %3").arg(sequence, technician, admin));
            run(QStringLiteral("GRANT USAGE, SELECT ON SEQUENCE %1 TO %2").arg(sequence, technician));
        }
    }
    if (failed.isEmpty())
        lines << QStringLiteral("%1 may read and add records, the register's rows and its changes and update "
                                "detectors, detector_moves and register_state; %2 may also name sites and set "
                                "their intervals; neither may delete").arg(technician, admin);

    // The guard on the records.
    run(QLatin1String(GuardFunction));
    run(QStringLiteral("DROP TRIGGER IF EXISTS tl_records_kept ON records"));
    run(QStringLiteral("CREATE TRIGGER tl_records_kept BEFORE UPDATE OR DELETE ON records FOR EACH ROW "
                       "EXECUTE FUNCTION tl_records_kept()"));
    run(QStringLiteral("DROP TRIGGER IF EXISTS tl_records_not_truncated ON records"));
    run(QStringLiteral("CREATE TRIGGER tl_records_not_truncated BEFORE TRUNCATE ON records FOR EACH STATEMENT "
                       "EXECUTE FUNCTION tl_records_kept()"));
    if (failed.isEmpty())
        lines << QStringLiteral("records may be changed or removed by their owner %1 only").arg(owner);

    if (!failed.isEmpty()) {
        e = db.fail(Problem::Failed, q.lastError());
        db.rollback();
        return e;
    }
    q.finish();
    e = db.commit();
    if (e.ok())
        *report = lines;
    return e;
}

} // namespace Journal
