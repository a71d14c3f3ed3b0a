// Where a test's journal lives, for the tests that run alike on an SQLite
// file and on the throw-away server (pgcluster.h): the location that
// Journal::Database opens, and plain SQL on the same database outside the
// journal's code.  A data-driven test adds the rows with addRows() and makes
// its place from the row's "server" column.
#pragma once

#include "pgcluster.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtTest>

class JournalPlace
{
public:
    static void addRows()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }

    // With `server` a new database `name` on `cluster` (started on first
    // use), else the SQLite file `path`.
    JournalPlace(bool server, PgCluster &cluster, const QString &name, const QString &path)
        : cluster(server ? &cluster : nullptr), name(name), path(path)
    {
        if (!server) {
            location = path;
        } else if (cluster.createDatabase(name)) {
            location = cluster.url(name);
        } else {
            why = cluster.why();
        }
    }

    bool ready() const { return !location.isEmpty(); }
    bool isServer() const { return cluster != nullptr; }

    // Runs `statements` one after another; false, with the statement and the
    // database's words in `why`, at the first that fails.
    bool run(const QStringList &statements)
    {
        bool ok = true;
        {
            QSqlDatabase db = open();
            QSqlQuery q(db);
            if (!db.isOpen()) {
                why = db.lastError().text();
                ok = false;
            }
            for (const QString &s : statements) {
                if (ok && !q.exec(s)) {
                    why = s + QStringLiteral(": ") + q.lastError().text();
                    ok = false;
                }
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("plain"));
        return ok;
    }

    // The first column of the first row; invalid when there is none.
    QVariant value(const QString &statement) { return column(statement).value(0); }

    // The first column of every row.
    QVariantList column(const QString &statement)
    {
        QVariantList values;
        {
            QSqlDatabase db = open();
            QSqlQuery q(db);
            if (db.isOpen() && q.exec(statement)) {
                while (q.next())
                    values << q.value(0);
            } else {
                why = statement + QStringLiteral(": ") + q.lastError().text() + db.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("plain"));
        return values;
    }

    QString location;
    QString why;

private:
    QSqlDatabase open()
    {
        if (cluster)
            return cluster->connect(QStringLiteral("plain"), name);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(path);
        db.open();
        return db;
    }

    PgCluster *cluster;
    QString name;
    QString path;
};
