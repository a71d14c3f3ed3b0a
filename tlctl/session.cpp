#include "session.h"

#include "accesslevels.h"
#include "command.h"
#include "console.h"
#include "deviceops.h"
#include "framedecode.h"
#include "portdiagnosis.h"
#include "paramtable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace Tlctl {

using namespace Params;

// ---------------------------------------------------------------- simulator

QString SimulatedDetector::executable()
{
    return SimLauncher::findExecutable(QCoreApplication::applicationDirPath());
}

bool SimulatedDetector::start(const QStringList &args, QString &error)
{
    const QString path = executable();
    if (path.isEmpty()) {
        error = QStringLiteral("tl02-sim is neither beside tlctl nor on PATH");
        return false;
    }
    if (launcher.start(path, QStringList{QStringLiteral("--quiet")} + args))
        return true;
    error = launcher.errorString();
    return false;
}

// ------------------------------------------------------------------ session

namespace {

// --frames: every frame on its own line ("> " sent, "< " received, the bytes
// in hex), each followed by an indented line that says what it carries, and
// after every attempt an indented line with its result.  Scripts that count
// bytes read only the "> " and "< " lines.
void printFrame(bool sent, const QByteArray &bytes, void *context)
{
    auto *printer = static_cast<FramePrinter *>(context);
    const FrameDecode::Frame frame = FrameDecode::decode(bytes, sent, sent || !printer->haveRequest
                                                                          ? nullptr : &printer->lastRequest,
                                                         printer->link->DeviceParams);
    if (sent && frame.kind != FrameDecode::Kind::RawText) {
        printer->lastRequest = frame;
        printer->haveRequest = true;
    }
    QTextStream &err = *printer->err;
    err << (sent ? "> " : "< ") << FrameDecode::hexBytes(bytes) << "\n";
    err << "    " << FrameDecode::describe(frame) << "\n";
    err.flush();
}

void printAttempt(quint16 result, void *context)
{
    QTextStream &err = *static_cast<FramePrinter *>(context)->err;
    err << "    = " << FrameDecode::resultName(result) << "\n";
    err.flush();
}

} // namespace

QString resolvePortPath(const QString &given)
{
    // A network address (tcp://HOST:PORT, modbus-tcp://HOST:PORT) names no
    // file: it goes to the link as it is.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (scheme.match(given).hasMatch())
        return given;
    if (given.contains(QLatin1Char('/')))
        return QDir::cleanPath(QDir::current().absoluteFilePath(given));
    const QString inDev = QStringLiteral("/dev/") + given;
    const QFileInfo here(QDir::current().absoluteFilePath(given));
    if (!QFileInfo::exists(inDev) && (here.exists() || here.isSymLink()))
        return here.absoluteFilePath();
    return inDev;
}

namespace {

// A signal cuts the exchange that runs (or the next one) short within one
// wait slice, instead of after its retries.
bool keepExchanging(qint64, void *)
{
    return !interrupted();
}

} // namespace

Session::Session(const Options &options, Io &io, Command *link)
    : opt(options), ioRef(io), made(link ? nullptr : new Command), own(link ? *link : *made)
{
    own.setWaitHook(keepExchanging, nullptr);
}

Session::~Session()
{
    own.setWaitHook(nullptr, nullptr);
    own.setTrafficHook(nullptr, nullptr);
    own.attemptLimit = 0;
    own.closePort();
    sim.stop();
}

int Session::fail(int code, const QString &message)
{
    ioRef.out.flush();
    ioRef.err << "tlctl: " << message << "\n";
    ioRef.err.flush();
    return code;
}

QString resultText(quint16 result)
{
    switch (result) {
    case ResultNoReply: return QStringLiteral("no reply");
    case ResultBadReply: return QStringLiteral("garbled reply (bad CRC or too short)");
    case ResultMismatch: return QStringLiteral("the reply did not fit the request");
    case ResultWriteTimeout: return QStringLiteral("the request could not be sent (write time-out)");
    case ResultIllegalAddress: return QStringLiteral("the device refused the request (exception: illegal address)");
    case ResultIllegalValue: return QStringLiteral("the device refused the request (exception: illegal value)");
    case ResultRefused: return QStringLiteral("the device refused the request (exception)");
    case ResultUnsupported: return QStringLiteral("the reply carried an unknown function code");
    case ResultNotConnected: return QStringLiteral("not connected: the port is closed");
    case ResultLineLost: return QStringLiteral("the line was lost after the request was sent");
    case ResultNoSilence:
        return QStringLiteral("line does not fall silent (continuous data): a faulty device or noise on the line");
    case ResultCancelled: return QStringLiteral("interrupted");
    default: return QStringLiteral("exchange result %1").arg(result);
    }
}

QString resultHint(quint16 result)
{
    switch (result) {
    case ResultNoReply:
        return QStringLiteral("check the address (--address), the wiring and that the detector is powered");
    case ResultBadReply:
    case ResultMismatch:
    case ResultUnsupported:
        return QStringLiteral("check the line (termination, 9600 baud, no second master) and the address");
    case ResultWriteTimeout:
        return QStringLiteral("check that the port is still there (adapter plugged in)");
    case ResultLineLost:
        return QStringLiteral("check the connection or the adapter");
    case ResultNoSilence:
        return QStringLiteral("not a write time-out: find the device that keeps sending (disconnect the devices one "
                              "by one) and check the wiring, shielding and termination");
    default:
        return QStringLiteral("check that a TL-02 detector answers at this address and its firmware version");
    }
}

QString Session::where() const
{
    return QStringLiteral("address %1 on %2").arg(own.SlaveAddress).arg(port);
}

int Session::exchangeFailed(const QString &what, quint16 result, bool unverified)
{
    if (result == ResultCancelled) {
        QString text = QStringLiteral("%1 at %2 interrupted by %3: the exchange (function %4) was cut short")
                           .arg(what, where(), interruptCause())
                           .arg(own.request.function);
        // A write that went out may have been carried out.
        const quint8 f = own.request.function;
        const bool write = f == Modbus::FnWriteSingle || f == Modbus::FnWriteMultiple || f == Modbus::FnWriteMemory
                           || f == Modbus::FnWriteFileRecord;
        if (unverified || (write && own.lastRequestSent()))
            text += QStringLiteral("; the write had gone out: read the detector again before relying on it");
        return fail(interruptExitCode(), text);
    }
    QString text = resultText(result);
    // A network line says which connection it lost.
    if (result == ResultLineLost && port.contains(QLatin1String("://")))
        text = QStringLiteral("connection to %1 lost after the request was sent").arg(port.section(QLatin1String("://"), 1));
    if (unverified)
        text += QStringLiteral("; written, not verified: read the detector again before relying on it");
    return fail(ExitExchange, QStringLiteral("%1 at %2: %3; %4").arg(what, where(), text, resultHint(result)));
}

int Session::open()
{
    if (opened)
        return ExitOk;
    if (opt.simulate) {
        QStringList args;
        if (opt.address >= 1 && opt.address <= 255)
            args << QStringLiteral("--address") << QString::number(opt.address);
        QString error;
        if (!sim.start(args, error))
            return fail(ExitPort, QStringLiteral("cannot start the simulated detector: %1; "
                                                 "check that tl02-sim was built beside tlctl").arg(error));
        port = sim.portPath();
    } else {
        port = opt.port;
        if (port.isEmpty())
            port = qEnvironmentVariable("TLCTL_PORT");
        if (port.isEmpty())
            return fail(ExitUsage, QStringLiteral("no port given; use --port PATH (tlctl ports lists them), "
                                                  "set TLCTL_PORT, or try --simulate"));
        port = resolvePortPath(port);
    }
    if (!DeviceOps::open(own, port)) {
        if (port.contains(QLatin1String("://")))
            return fail(ExitPort, QStringLiteral("cannot open %1: %2; check the address and that the device "
                                                 "server or gateway is listening")
                                      .arg(port, own.errorString()));
        const QString advice = PortDiagnosis::advice(PortDiagnosis::diagnose(port, own.errorString()));
        if (!advice.isEmpty())
            return fail(ExitPort, QStringLiteral("cannot open %1: %2").arg(port, advice));
        return fail(ExitPort, QStringLiteral("cannot open %1: %2; check the path (tlctl ports lists serial "
                                             "ports) and your permission to use it (group dialout)")
                                  .arg(port, own.errorString()));
    }
    own.SlaveAddress = quint16(opt.address);
    if (opt.frames) {
        framePrinter.err = &ioRef.err;
        framePrinter.link = &own;
        own.setTrafficHook(printFrame, &framePrinter, printAttempt);
    }
    opened = true;
    return ExitOk;
}

int Session::connect(bool detectorOnly)
{
    const int rc = open();
    if (rc != ExitOk)
        return rc;
    const DeviceOps::Outcome probe = DeviceOps::probe(own);
    if (probe.failed == DeviceOps::Step::Unrecognised)
        // A Modbus TCP gateway cannot carry the raw text: say so, not "sent".
        return fail(ExitExchange, QStringLiteral("the device at %1 reports type %2, which is neither a TL-02 "
                                                 "detector nor its bootloader (%3); check the address")
                                      .arg(where()).arg(qint16(own.DeviceParams.DeviceTypeReg))
                                      .arg(probe.linkResult == ResultOk
                                               ? QStringLiteral("\"DEACTIV\" sent")
                                               : QStringLiteral("\"DEACTIV\" could not be sent on this line")));
    if (!probe.ok())
        return failed(probe);
    if (detectorOnly && own.DeviceType == TypeBootloader)
        return fail(ExitExchange, QStringLiteral("the device at %1 is in its bootloader; only tlctl flash "
                                                 "works until new firmware is loaded").arg(where()));
    return ExitOk;
}

int Session::fullRead()
{
    return failed(DeviceOps::read(own, DeviceOps::ReadMode::Full));
}

int Session::failed(const DeviceOps::Outcome &outcome, const QString &commandWhat, quint16 code,
                    const QString &blockWhat)
{
    using DeviceOps::Step;
    const quint16 r = outcome.linkResult;
    // After a write whose request went out, a failed read is the read-back.
    const bool after = outcome.unverified;
    const QString back = after ? QStringLiteral("reading back: ") : QString();
    switch (outcome.failed) {
    case Step::None:
        return ExitOk;
    case Step::Probe:
    case Step::Input:
        return exchangeFailed(back + QStringLiteral("reading input registers 0-9"), r, after);
    case Step::IdentBasic:
        return exchangeFailed(back + QStringLiteral("reading the identification (basic objects)"), r, after);
    case Step::IdentRegular:
        return exchangeFailed(back + QStringLiteral("reading the identification (regular objects)"), r, after);
    case Step::Holding:
        return exchangeFailed(back + QStringLiteral("reading %1 holding registers from 0x1000").arg(own.WriteCount),
                              r, after);
    case Step::BlockWrite:
        return exchangeFailed(blockWhat.isEmpty() ? QStringLiteral("writing %1 holding registers from 0x1000")
                                                        .arg(own.WriteCount)
                                                  : blockWhat,
                              r, after);
    case Step::Command:
        return exchangeFailed(QStringLiteral("%1 (command %2)").arg(commandWhat, hex4(code)), r, after);
    case Step::NotRead:
        return fail(ExitExchange, QStringLiteral("the parameters of the device at %1 have not been read: read it "
                                                 "again; nothing was written").arg(where()));
    case Step::Identity:
        return exchangeFailed(QStringLiteral("reading the serial number and device type before writing (nothing "
                                             "was written)"), r);
    case Step::Foreign:
        return fail(ExitExchange, QStringLiteral("a different detector answers at %1 than the one whose parameters "
                                                 "were read: read it again; nothing was written").arg(where()));
    case Step::Unrecognised:
    case Step::NotBootloader:
    case Step::Check:
        break;
    }
    return fail(ExitExchange, QStringLiteral("the device at %1 did not do what was asked").arg(where()));
}

int Session::writeBlockAndVerify()
{
    return writeVerified(false);
}

int Session::storeFactory()
{
    return writeVerified(true);
}

int Session::restoreFactory()
{
    return failed(DeviceOps::restoreFactory(own), QStringLiteral("restoring the factory settings"), CmdRestoreFactory);
}

int Session::writeVerified(bool storeFactory)
{
    const quint16 count = own.WriteCount;
    ParamBlock sent;
    QVector<quint16> bad;
    const DeviceOps::ReadBackCheck check = [&](const ParamBlock &written) {
        sent = written;
        bad = registersNotTaken(written, own.DeviceParams, count);
        return bad.isEmpty();
    };
    const DeviceOps::Outcome outcome = storeFactory ? DeviceOps::storeFactory(own, check)
                                                    : DeviceOps::writeAndReadBack(own, check);
    if (outcome.failed != DeviceOps::Step::Check)
        return failed(outcome, QStringLiteral("storing the factory settings"), CmdStoreFactory);

    QStringList details;
    for (quint16 reg : bad) {
        bool named = false;
        for (const QString &name : namesOfRegister(reg)) {
            const ParamDef *def = findParameter(name);
            if (!def)
                continue;
            const Shown want = show(*def, sent);
            const Shown have = show(*def, own.DeviceParams);
            if (want.text == have.text)
                continue;
            details << QStringLiteral("%1 (sent %2, device has %3)").arg(name, want.text, have.text);
            named = true;
        }
        if (!named)
            details << QStringLiteral("register %1 (sent %2, device has %3)")
                           .arg(hex4(reg), hex4(holdingValue(sent, reg)), hex4(holdingValue(own.DeviceParams, reg)));
    }
    details.removeDuplicates();
    return fail(ExitExchange, QStringLiteral("the device at %1 did not take %2; check that these values are "
                                             "allowed by this device and its firmware")
                                  .arg(where(), details.join(QStringLiteral(", "))));
}

// -------------------------------------------------------------------- login

int login(Command &link, const Options &opt, Io &io, bool required, const QString &why)
{
    auto refuse = [&](const QString &message) {
        io.out.flush();
        io.err << "tlctl: " << message << "\n";
        io.err.flush();
        return int(ExitAccess);
    };
    if (opt.user.isEmpty()) {
        if (!required)
            return ExitOk;
        return refuse(QStringLiteral("%1 changes the device and needs a login: give --user NAME (User, Admin "
                                     "or Velta) and the password in TLCTL_PASSWORD or at the prompt").arg(why));
    }
    QString password;
    if (qEnvironmentVariableIsSet("TLCTL_PASSWORD")) {
        password = qEnvironmentVariable("TLCTL_PASSWORD");
    } else if (!io.askSecret || !io.askSecret(QStringLiteral("Password for %1: ").arg(opt.user), password)) {
        return refuse(QStringLiteral("no password for %1: set TLCTL_PASSWORD or run tlctl on a terminal "
                                     "to be asked").arg(opt.user));
    }
    const QString level = Access::levelFor(opt.user, password);
    if (level.isEmpty())
        return refuse(QStringLiteral("login refused for \"%1\": wrong name or password (names are User, "
                                     "Admin and Velta, case-sensitive)").arg(opt.user));
    link.UserName = level;
    link.Password = password;
    link.LoggedIn = 1;
    return ExitOk;
}

int factoryPassword(Command &link, Io &io)
{
    if (!Access::needsFactoryPassword(link.UserName)) {
        link.FactoryAccess = 1;
        return ExitOk;
    }
    QString password;
    if (qEnvironmentVariableIsSet("TLCTL_FACTORY_PASSWORD")) {
        password = qEnvironmentVariable("TLCTL_FACTORY_PASSWORD");
    } else if (!io.askSecret || !io.askSecret(QStringLiteral("Factory password: "), password)) {
        io.err << "tlctl: the level User needs the factory password for this: set TLCTL_FACTORY_PASSWORD "
                  "or run tlctl on a terminal to be asked\n";
        io.err.flush();
        return ExitAccess;
    }
    link.FactoryAccess = Access::factoryPasswordAccepted(password) ? 1 : 0;
    if (!link.FactoryAccess) {
        io.err << "tlctl: factory password refused; ask for the factory password or log in as Admin\n";
        io.err.flush();
        return ExitAccess;
    }
    return ExitOk;
}

} // namespace Tlctl
