// Where the ini file, the gas library and the translations are looked for:
// beside a portable program, in the user's folders for an installed one.
#include "userfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), qint64(data.size()));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestUserFiles : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        // A fresh home for each case.
        homeDir.reset(new QTemporaryDir);
        QVERIFY(homeDir->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(homeDir->filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(homeDir->filePath("data")));
    }

    void portableProgramKeepsFilesBesideItself()
    {
        QTemporaryDir app;
        QVERIFY(!UserFiles::installed(app.path()));
        QCOMPARE(UserFiles::iniPath(app.path()), app.filePath("ini"));
        QString error = "unchanged";
        QCOMPARE(UserFiles::gasLibraryPath(&error, app.path()), app.filePath("setting.xlsx"));
        QCOMPARE(error, QString("unchanged"));
        // Its own translations first, then those of the working directory.
        QCOMPARE(UserFiles::translationFolders(app.path()), QStringList({app.path(), QDir::currentPath()}));
        QVERIFY(!QDir(homeDir->filePath("config")).exists());
        QVERIFY(!QDir(homeDir->filePath("data")).exists());
    }

    void installedProgramUsesTheUsersFolders()
    {
        // root/bin/<program> with root/share/tl-configuration/setting.xlsx
        QTemporaryDir root;
        const QString bin = root.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        const QString share = root.filePath("share/tl-configuration");
        writeFile(share + "/setting.xlsx", "sample library");
        QVERIFY(UserFiles::installed(bin));

        const QString ini = UserFiles::iniPath(bin);
        QCOMPARE(ini, homeDir->filePath("config/tl-configuration/ini"));
        QVERIFY(QDir(homeDir->filePath("config/tl-configuration")).exists());

        QString error;
        const QString library = UserFiles::gasLibraryPath(&error, bin);
        QCOMPARE(error, QString());
        QCOMPARE(library, homeDir->filePath("data/tl-configuration/setting.xlsx"));
        QCOMPARE(readFile(library), QByteArray("sample library"));
        QVERIFY(!QFile::exists(library + ".part"));

        // The user's entries are never replaced by the sample again.
        writeFile(library, "user's own library");
        writeFile(share + "/setting.xlsx", "newer sample");
        QCOMPARE(UserFiles::gasLibraryPath(&error, bin), library);
        QCOMPARE(readFile(library), QByteArray("user's own library"));

        // Only the installed translations: none from the working directory.
        QCOMPARE(UserFiles::translationFolders(bin), QStringList{QDir::cleanPath(share)});
    }

    void missingSampleIsSaidNotHidden()
    {
        QTemporaryDir root;
        const QString bin = root.filePath("bin");
        QVERIFY(QDir().mkpath(root.filePath("share/tl-configuration")));
        QVERIFY(QDir().mkpath(bin));
        QString error;
        const QString library = UserFiles::gasLibraryPath(&error, bin);
        QCOMPARE(library, homeDir->filePath("data/tl-configuration/setting.xlsx"));
        QVERIFY(!QFile::exists(library));
        QVERIFY2(error.contains("no sample library"), qPrintable(error));
    }

private:
    std::unique_ptr<QTemporaryDir> homeDir;
};

QTEST_GUILESS_MAIN(TestUserFiles)
#include "test_userfiles.moc"
