// Where the program and tlctl keep the files a user changes: the ini file,
// the gas library, and where they find the translations.
//
// A program run from a folder it may write to (a portable copy, the build
// folder) keeps them beside itself, as it always has.  An installed program
// (one with its data folder, ../share/tl-configuration, beside its bin
// folder), or one whose folder this user may not write, keeps them in the
// user's own folders, even when run by root:
//   ~/.config/tl-configuration/ini
//   ~/.local/share/tl-configuration/setting.xlsx  (copied from the installed
//                                                  sample on first use)
// (the XDG variables move them as usual).
#pragma once

#include <QString>
#include <QStringList>

namespace UserFiles {

// The folder name under the user's configuration and data folders.
inline constexpr const char *FolderName = "tl-configuration";

// Each function takes the program's folder; empty means this program's own
// (QCoreApplication::applicationDirPath()).

// Whether the program's own folder may be written by this user.
bool appDirWritable(const QString &appDir = QString());
// Whether the program runs installed: its data folder is there.
bool installed(const QString &appDir = QString());
// Whether the ini file and the library live beside the program.
bool keepsFilesBeside(const QString &appDir = QString());
// The user's configuration and data folders for this program (not created).
QString configFolder();
QString dataFolder();
// The installed data folder (translations, sample library): ../share/
// tl-configuration beside the program's bin folder.
QString installedDataFolder(const QString &appDir = QString());

// The ini file's path.  The folder is created when it is the user's own.
QString iniPath(const QString &appDir = QString());

// The gas library the program and tlctl use by default.  Beside the program
// when its folder may be written; otherwise the user's copy, made from the
// installed sample when the user has none yet (an existing copy is never
// replaced).  When the copy cannot be made, the path is still returned and
// `error` (when given) says why; opening the missing file then fails as a
// missing library does.
QString gasLibraryPath(QString *error = nullptr, const QString &appDir = QString());
// The sample library a new user copy is made from: beside the program, else
// in the installed data folder; empty when there is none.
QString sampleLibraryPath(const QString &appDir = QString());

// The folders searched, in order, for a translation file.  An installed
// program reads only its data folder; a copy that keeps its files beside
// itself reads its own folder, then the working directory; any other copy
// (a folder this user may not write) only its own folder.
QStringList translationFolders(const QString &appDir = QString());

} // namespace UserFiles
