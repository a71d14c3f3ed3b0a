// Helpers shared by the application-shell tests: a clean link between test
// cases, the simulated detector on the link, and handlers that drive the
// login and connection dialogs while they run modally.
#pragma once

#include "modalcloser.h"
#include "programlink.h"
#include "simlink.h"
#include "simprocess.h"
#include "testframes.h"
#include "testwidgets.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

// A control line to the simulator `sim` that must be acknowledged.
#define SIM(line)                                                  \
    do {                                                           \
        bool ok_ = false;                                          \
        sim.send(QStringLiteral(line), &ok_);                      \
        QVERIFY2(ok_, line);                                       \
    } while (false)

namespace ShellTest {

using TestWidgets::child;

// Current status bar text of a main window.
QString status(const QWidget &mainWindow);

// Runs the tests in the directory that holds the translation files and
// points the ini file into `dir`.
void prepare(const QTemporaryDir &dir);
// Link and dialogs back to their start state (port closed, nobody logged in).
void resetLink();

// Starts the simulator and opens the program's port on it at `address`.
inline bool openSim(SimProcess &sim, const QStringList &args = {}, int address = 1)
{
    return SimLink::openSim(command, sim, args, address);
}

// Function codes of request frames, a readable form for failure messages
// and big-endian 16-bit fields.
using TestFrames::describe;
using TestFrames::functions;
using TestFrames::word;
// Checks frames[offset..offset+3] are one full read: identification codes 1
// and 2, the holding block of `count` registers, input registers 0-9.
void verifyFullRead(const QList<QByteArray> &frames, int offset, int count, int address = 1);

// Handlers for ModalCloser.
// Types a login and password into the login page and presses "Авторизоваться".
ModalCloser::Handler login(const QString &name, const QString &password);
// Leaves the widget to ModalCloser's default action (a message box gets OK).
ModalCloser::Handler passThrough();

struct DialogState {
    bool seen = false;
    QString button;
    bool rescanEnabled = false;
    QString portText;
};
// Records the connection dialog's state; when `port` is given and the dialog
// is disconnected, types the port, confirms it with Enter and presses Connect.
// ModalCloser then closes the dialog.
ModalCloser::Handler connectDialog(const QString &port, DialogState *state = nullptr);

} // namespace ShellTest
