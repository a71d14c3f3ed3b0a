#include "userfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace UserFiles {

namespace {

QString programDir(const QString &appDir)
{
    return appDir.isEmpty() ? QCoreApplication::applicationDirPath() : appDir;
}

QString under(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QLatin1Char('/') + QLatin1String(FolderName);
}

} // namespace

bool installed(const QString &appDir)
{
    return QFileInfo(installedDataFolder(appDir)).isDir();
}

bool appDirWritable(const QString &appDir)
{
    // access() asks the kernel, so a folder that root owns reads as not
    // writable for a user even when its mode bits would let the group write.
    const QByteArray dir = QFile::encodeName(programDir(appDir));
    return !dir.isEmpty() && ::access(dir.constData(), W_OK) == 0;
}

QString configFolder()
{
    return under(QStandardPaths::GenericConfigLocation);
}

QString dataFolder()
{
    return under(QStandardPaths::GenericDataLocation);
}

QString installedDataFolder(const QString &appDir)
{
    return QDir::cleanPath(programDir(appDir) + QStringLiteral("/../share/") + QLatin1String(FolderName));
}

bool keepsFilesBeside(const QString &appDir)
{
    return !installed(appDir) && appDirWritable(appDir);
}

QString iniPath(const QString &appDir)
{
    if (keepsFilesBeside(appDir))
        return programDir(appDir) + QStringLiteral("/ini");
    const QString folder = configFolder();
    QDir().mkpath(folder);
    return folder + QStringLiteral("/ini");
}

QString sampleLibraryPath(const QString &appDir)
{
    const QString candidates[] = {programDir(appDir) + QStringLiteral("/setting.xlsx"),
                                  installedDataFolder(appDir) + QStringLiteral("/setting.xlsx")};
    for (const QString &path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QString gasLibraryPath(QString *error, const QString &appDir)
{
    if (keepsFilesBeside(appDir))
        return programDir(appDir) + QStringLiteral("/setting.xlsx");

    const QString folder = dataFolder();
    const QString path = folder + QStringLiteral("/setting.xlsx");
    if (QFileInfo::exists(path))
        return path;    // the user's own copy: never replaced

    const QString sample = sampleLibraryPath(appDir);
    QString why;
    if (sample.isEmpty()) {
        why = QStringLiteral("no sample library is installed");
    } else if (!QDir().mkpath(folder)) {
        why = QStringLiteral("cannot create %1").arg(folder);
    } else {
        // Copy under a temporary name first, so that an interrupted copy
        // never leaves a cut library behind under the real name.
        const QString part = path + QStringLiteral(".part");
        QFile::remove(part);
        if (!QFile::copy(sample, part)) {
            why = QStringLiteral("cannot copy %1 to %2").arg(sample, folder);
        } else {
            QFile::setPermissions(part, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            if (!QFile::rename(part, path)) {
                QFile::remove(part);
                // Another instance may have made the copy in the meantime.
                if (!QFileInfo::exists(path))
                    why = QStringLiteral("cannot create %1").arg(path);
            }
        }
    }
    if (error)
        *error = why;
    return path;
}

QStringList translationFolders(const QString &appDir)
{
    // The translations hold the texts of the safety confirmations: a file
    // that someone else put into the working directory must not replace them.
    if (installed(appDir))
        return {installedDataFolder(appDir)};
    if (keepsFilesBeside(appDir))
        return {programDir(appDir), QDir::currentPath()};
    return {programDir(appDir)};
}

} // namespace UserFiles
