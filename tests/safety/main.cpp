// Runs one group of the safety suite ("test_safety files"), or every group
// when none is named.  Further arguments go to QTest (e.g. a test function).
#include "safetysuite.h"

#include <QApplication>
#include <QtTest>
#include <cstdio>
#include <memory>

namespace Safety {
QVector<Group> &groups()
{
    static QVector<Group> list;
    return list;
}
} // namespace Safety

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    QString only;
    if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) {
        only = args[1];
        args.removeAt(1);
    }
    int failed = 0;
    bool ran = false;
    for (const Safety::Group &g : Safety::groups()) {
        if (!only.isEmpty() && only != QLatin1String(g.name))
            continue;
        ran = true;
        std::unique_ptr<QObject> test(g.make());
        failed += QTest::qExec(test.get(), args);
    }
    if (!ran) {
        std::fprintf(stderr, "test_safety: no group named %s\n", qPrintable(only));
        return 2;
    }
    return failed;
}
