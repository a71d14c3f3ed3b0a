#include "guidedsession.h"
#include "ui_guidedsession.h"

#include "conversions.h"
#include "filechoice_gui.h"
#include "gaslibrary.h"
#include "options.h"
#include "programlink.h"
#include "protocol_gui.h"
#include "sessionsetup.h"
#include "userfiles.h"

#include <QDir>
#include <QMessageBox>
#include <QUuid>

GuidedSession::GuidedSession(Mode mode, QWidget *parent)
    : QWidget(parent), ui(new Ui::GuidedSession), sessionMode(mode)
{
    ui->setupUi(this);
    showPeople();
    showState();
}

GuidedSession::~GuidedSession()
{
    delete ui;
}

qint64 GuidedSession::timeNow() const
{
    return now ? now() : QDateTime::currentMSecsSinceEpoch();
}

void GuidedSession::setPeople(const QString &name, const QString &org, const FunctionCheck::Tolerance &tol)
{
    technician = name;
    organisation = org;
    tolerance = tol;
    showPeople();
}

bool GuidedSession::running() const
{
    return step != Step::Idle && step != Step::Done;
}

// ------------------------------------------------------------ set-up

QStringList GuidedSession::libraryNames() const
{
    if (!gasNames.isEmpty())
        return gasNames;
    // The user's gas library, when there is one to read; the gas may always
    // be typed.
    QVector<GasLibrary::Entry> found;
    QStringList names;
    if (GasLibrary::search(UserFiles::gasLibraryPath(), QString(), &found) == GasLibrary::Status::Ok)
        for (const GasLibrary::Entry &e : found)
            if (!e.name.trimmed().isEmpty() && !names.contains(e.name.trimmed()))
                names << e.name.trimmed();
    return names;
}

bool GuidedSession::askSetup()
{
    const ParamBlock &p = command.DeviceParams;
    SessionSetup dialog(UnitNames.value(Conv::unitIndex(p.Config)), Conv::decimals(p.Config), libraryNames(), this);
    dialog.setPeople(technician, organisation);
    dialog.setGas(gas);
    dialog.setTolerance(tolerance);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const bool changed = dialog.technician() != technician || dialog.organisation() != organisation
                         || dialog.tolerance().percentOfGas != tolerance.percentOfGas
                         || dialog.tolerance().percentOfRange != tolerance.percentOfRange;
    technician = dialog.technician();
    organisation = dialog.organisation();
    tolerance = dialog.tolerance();
    gas = dialog.gas();
    if (changed)
        emit peopleChanged(technician, organisation, tolerance);
    showPeople();
    return true;
}

void GuidedSession::on_pushButton_People_clicked()
{
    // The same dialog as at a start (the button is off while one runs).
    askSetup();
}

void GuidedSession::showPeople()
{
    ui->label_People->setText(technician.isEmpty()
                                  ? tr("Исполнитель не указан")
                                  : organisation.isEmpty() ? tr("Исполнитель: %1").arg(technician)
                                                           : tr("Исполнитель: %1, %2").arg(technician, organisation));
    if (gas.name.isEmpty()) {
        ui->label_Gas->setText(tr("Поверочный газ будет запрошен при начале"));
        return;
    }
    QString text = tr("Газ: %1, %2 %3").arg(gas.name, QString::number(gas.concentration), gas.unit);
    if (!gas.cylinder.isEmpty())
        text += tr(", баллон № %1").arg(gas.cylinder);
    if (gas.expiry.isValid())
        text += tr(", годен до %1").arg(gas.expiry.toString(QStringLiteral("dd.MM.yyyy")));
    ui->label_Gas->setText(text);
}

// ------------------------------------------------------------ the session

void GuidedSession::on_pushButton_Start_clicked()
{
    if (running())
        return;
    if (!askSetup())
        return;
    const QDate today = QDate::currentDate();
    expiredConfirmed = false;
    if (gas.expired(today)) {
        const auto answer = QMessageBox::warning(
            this, tr("Поверочный газ"),
            tr("Срок годности баллона %1 истёк %2. Использовать его всё равно? Протокол отметит это.")
                .arg(gas.cylinder.isEmpty() ? gas.name : QStringLiteral("№ ") + gas.cylinder,
                     gas.expiry.toString(QStringLiteral("dd.MM.yyyy"))),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        expiredConfirmed = true;
    }
    begin();
}

void GuidedSession::begin()
{
    const ParamBlock &p = command.DeviceParams;
    const bool calibration = sessionMode == Mode::Calibration;
    const Journal::Record device = Journal::fromDevice(
        command, calibration ? Journal::Kind::AsFound : Journal::Kind::FunctionCheck, QStringLiteral("program"));
    group = QUuid::createUuid().toString(QUuid::WithoutBraces);
    finished = false;
    data = Protocol::Data();
    data.kind = calibration ? Protocol::Kind::Calibration : Protocol::Kind::FunctionCheck;
    data.time = QDateTime::currentDateTime();
    data.organisation = organisation;
    data.technician = technician;
    data.device.type = device.deviceType;
    data.device.serialText = device.serialText;
    data.device.firmware = device.firmware;
    data.device.address = device.address;
    data.unit = UnitNames.value(Conv::unitIndex(p.Config));
    data.gas = gas;
    data.expiredConfirmed = expiredConfirmed;
    int interval = 0;
    if (siteLookup)
        siteLookup(device.serial, &data.device.tag, &interval);
    data.nextDue = FunctionCheck::nextDue(data.time.date(), interval);
    const FunctionCheck::DeviceLimits limits = FunctionCheck::limitsOf(p);
    ui->label_Verdict->clear();
    if (calibration) {
        data.calibration.limits = limits;
        data.calibration.tolerance = tolerance;
        // The zero is taken at the range's lower value, as the zero
        // calibration sets it.
        data.calibration.zeroGas = limits.rangeMin;
        data.calibration.spanGas = gas.concentration;
        data.before = p;
        data.after = p;
        watch.reset(new FunctionCheck::StabilityWatch(limits.rangeMin, limits.rangeMax));
        enter(Step::FoundZero);
    } else {
        FunctionCheck::CheckSetup setup;
        setup.gas = gas.concentration;
        setup.limits = limits;
        setup.tolerance = tolerance;
        check.reset(new FunctionCheck::CheckRun(setup));
        enter(Step::Check);
    }
    emit readingWanted(true);
}

void GuidedSession::enter(Step next)
{
    step = next;
    gasOn = false;
    if (watch)
        watch->reset();
    showState();
}

void GuidedSession::cancel()
{
    if (!running())
        return;
    step = Step::Idle;
    check.reset();
    ui->label_Verdict->setText(tr("Прервано. Записанное в журнал остаётся в нём."));
    emit readingWanted(false);
    showState();
}

void GuidedSession::on_pushButton_Cancel_clicked()
{
    cancel();
}

void GuidedSession::reading(double value)
{
    if (!running())
        return;
    const qint64 ms = timeNow();
    last = value;
    if (step == Step::Check) {
        const bool wasSettled = check->settledAt() >= 0;
        check->add(ms, value);
        if (!wasSettled && check->settledAt() >= 0)
            emit settled(QDateTime::fromMSecsSinceEpoch(check->settledAt()), tr("Показания установились"));
        if (check->phase() == FunctionCheck::CheckRun::Phase::Done)
            finishCheck();
        else
            showState();
        return;
    }
    if (gasOn) {
        const bool wasStable = watch->stable();
        watch->add(ms, value);
        if (!wasStable && watch->stable())
            emit settled(QDateTime::fromMSecsSinceEpoch(watch->stableSince()), stepName(step));
        const bool readingStep = step == Step::FoundZero || step == Step::FoundSpan || step == Step::LeftZero
                                 || step == Step::LeftSpan;
        // A span reading is taken by itself once it has come off the zero;
        // flat at the zero, the gas may not have reached the sensor yet
        // ("Принять показания" takes it all the same).
        const bool zero = step == Step::FoundZero || step == Step::LeftZero;
        const FunctionCheck::CalibrationSession &c = data.calibration;
        const bool moved = zero || qAbs(value - c.zeroGas) > c.allowed(c.zeroGas);
        if (readingStep && watch->stable() && moved) {
            takeReading(value);
            return;
        }
    }
    showState();
}

void GuidedSession::on_pushButton_Action_clicked()
{
    if (!running())
        return;
    if (step == Step::Check) {
        if (check->phase() == FunctionCheck::CheckRun::Phase::Idle) {
            check->start(timeNow());
            gasOn = true;
        } else if (check->phase() == FunctionCheck::CheckRun::Phase::RemoveGas
                   || check->phase() == FunctionCheck::CheckRun::Phase::Settling) {
            check->gasRemoved(timeNow());
            if (check->phase() == FunctionCheck::CheckRun::Phase::Done) {
                finishCheck();
                return;
            }
        }
        showState();
        return;
    }
    if (!gasOn) {
        gasOn = true;
        watch->reset();
        showState();
        return;
    }
    if (!watch->stable())
        return;
    if (step == Step::AdjustZero || step == Step::AdjustSpan) {
        const bool zero = step == Step::AdjustZero;
        emit adjustRequested(zero, zero ? data.calibration.zeroGas : data.calibration.spanGas, group);
        return;
    }
    takeReading(watch->last());
}

void GuidedSession::on_pushButton_Skip_clicked()
{
    if (step == Step::AdjustZero)
        enter(Step::LeftZero);
    else if (step == Step::AdjustSpan)
        enter(Step::LeftSpan);
}

void GuidedSession::adjusted(bool written, const ParamBlock &, const ParamBlock &after, const QString &recordUuid)
{
    if (step != Step::AdjustZero && step != Step::AdjustSpan)
        return;
    if (!recordUuid.isEmpty())
        data.records.append({recordUuid, QString()});
    if (!written) {
        ui->label_Verdict->setText(tr("Калибровка не выполнена. Повторите или пропустите шаг."));
        showState();
        return;
    }
    data.after = after;
    ui->label_Verdict->setText(tr("Калибровка выполнена"));
    enter(step == Step::AdjustZero ? Step::LeftZero : Step::LeftSpan);
}

void GuidedSession::takeReading(double value)
{
    FunctionCheck::CalibrationSession &c = data.calibration;
    switch (step) {
    case Step::FoundZero:
        c.foundZero = value;
        enter(Step::FoundSpan);
        break;
    case Step::FoundSpan: {
        c.foundSpan = value;
        Journal::Record r = record(Journal::Kind::AsFound);
        r.ok = true;
        data.records.append({r.uuid, QString()});
        emit recordReady(r);
        enter(Step::AdjustZero);
        break;
    }
    case Step::LeftZero:
        c.leftZero = value;
        enter(Step::AdjustSpan);
        break;
    case Step::LeftSpan:
        c.leftSpan = value;
        finishCalibration();
        break;
    default:
        break;
    }
}

Journal::Record GuidedSession::record(Journal::Kind kind) const
{
    Journal::Record r = Journal::fromDevice(command, kind, QStringLiteral("program"));
    r.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    Protocol::describe(r, data, group);
    return r;
}

namespace {
QString reasonsText(const QVector<FunctionCheck::Reason> &reasons)
{
    QStringList words;
    for (FunctionCheck::Reason reason : reasons)
        words << FunctionCheck::reasonText(reason);
    return words.join(QStringLiteral("; "));
}
} // namespace

void GuidedSession::finishCalibration()
{
    step = Step::Done;
    finished = true;
    const QVector<FunctionCheck::Reason> reasons = data.calibration.reasons();
    Journal::Record r = record(Journal::Kind::AsLeft);
    data.records.append({r.uuid, QString()});
    Protocol::describe(r, data, group);
    r.ok = reasons.isEmpty();
    r.reason = reasonsText(reasons);
    emit recordReady(r);
    ui->label_Verdict->setText(reasons.isEmpty() ? tr("Калибровка выполнена, прибор в допуске. Следующая калибровка: %1")
                                                       .arg(data.nextDue.toString(QStringLiteral("dd.MM.yyyy")))
                                                 : tr("Калибровка не пройдена: %1").arg(r.reason));
    emit readingWanted(false);
    showState();
}

void GuidedSession::finishCheck()
{
    step = Step::Done;
    finished = true;
    data.check = check->setup();
    data.result = check->result();
    Journal::Record r = record(Journal::Kind::FunctionCheck);
    data.records.append({r.uuid, QString()});
    Protocol::describe(r, data, group);
    r.ok = data.result.passed();
    r.reason = reasonsText(data.result.reasons);
    emit recordReady(r);
    ui->label_Verdict->setText(r.ok ? tr("Прибор работоспособен. Следующая проверка: %1")
                                          .arg(data.nextDue.toString(QStringLiteral("dd.MM.yyyy")))
                                    : tr("Прибор не прошёл проверку: %1").arg(r.reason));
    check.reset();
    emit readingWanted(false);
    showState();
}

// ------------------------------------------------------------ presenting

QString GuidedSession::valueText(double value) const
{
    if (qIsNaN(value))
        return QStringLiteral("—");
    return QString::number(value, 'f', Conv::decimals(command.DeviceParams.Config)) + QLatin1Char(' ')
           + UnitNames.value(Conv::unitIndex(command.DeviceParams.Config));
}

QString GuidedSession::stepName(Step s) const
{
    switch (s) {
    case Step::FoundZero:
        return tr("Ноль до регулировки");
    case Step::FoundSpan:
        return tr("Диапазон до регулировки");
    case Step::AdjustZero:
        return tr("Калибровка нуля");
    case Step::LeftZero:
        return tr("Ноль после регулировки");
    case Step::AdjustSpan:
        return tr("Калибровка диапазона");
    case Step::LeftSpan:
        return tr("Диапазон после регулировки");
    case Step::Check:
        return tr("Проверка работоспособности");
    case Step::Idle:
    case Step::Done:
        break;
    }
    return QString();
}

void GuidedSession::showState()
{
    const bool calibration = sessionMode == Mode::Calibration;
    const bool on = running();
    ui->pushButton_Start->setEnabled(!on);
    ui->pushButton_People->setEnabled(!on);
    ui->pushButton_Cancel->setEnabled(on);
    ui->pushButton_Protocol->setEnabled(!on && finished);
    ui->pushButton_Skip->setVisible(calibration);
    ui->pushButton_Skip->setEnabled(step == Step::AdjustZero || step == Step::AdjustSpan);
    ui->label_Reading->setText(on ? tr("Показания: %1").arg(valueText(last)) : QString());
    showPeople();

    if (!on) {
        ui->label_Step->setText(QString());
        ui->label_Countdown->setText(QString());
        ui->label_Instruction->setText(step == Step::Done ? QString()
                                       : calibration
                                           ? tr("Калибровка по шагам: показания до регулировки, регулировка нуля и диапазона, показания после.")
                                           : tr("Проверка газом без регулировки: ничего не записывается в прибор."));
        ui->pushButton_Action->setText(calibration ? tr("Газ подан") : tr("Газ подан"));
        ui->pushButton_Action->setEnabled(false);
        return;
    }

    const QString gasText = tr("%1 %2").arg(QString::number(gas.concentration), gas.unit);
    if (step == Step::Check) {
        const auto phase = check->phase();
        ui->label_Step->setText(stepName(step));
        if (phase == FunctionCheck::CheckRun::Phase::Idle) {
            ui->label_Instruction->setText(tr("Подайте поверочный газ (%1) и нажмите «Газ подан».").arg(gasText));
            ui->pushButton_Action->setText(tr("Газ подан"));
            ui->pushButton_Action->setEnabled(true);
            ui->label_Countdown->setText(QString());
        } else if (phase == FunctionCheck::CheckRun::Phase::Settling) {
            ui->label_Instruction->setText(tr("Газ подан. Ждите установления показаний."));
            ui->pushButton_Action->setText(tr("Газ снят"));
            ui->pushButton_Action->setEnabled(true);
            ui->label_Countdown->setText(tr("до установления: %1 с").arg(check->secondsLeft()));
        } else if (phase == FunctionCheck::CheckRun::Phase::RemoveGas) {
            ui->label_Instruction->setText(tr("Показания установились. Снимите газ и нажмите «Газ снят»."));
            ui->pushButton_Action->setText(tr("Газ снят"));
            ui->pushButton_Action->setEnabled(true);
            ui->label_Countdown->setText(tr("установились"));
        } else {
            ui->label_Instruction->setText(tr("Газ снят. Ждите возврата показаний за пороги."));
            ui->pushButton_Action->setEnabled(false);
            ui->label_Countdown->setText(QString());
        }
        return;
    }

    const int index = int(step) - int(Step::FoundZero) + 1;
    ui->label_Step->setText(tr("Шаг %1 из 6: %2").arg(index).arg(stepName(step)));
    const bool zero = step == Step::FoundZero || step == Step::AdjustZero || step == Step::LeftZero;
    const bool adjust = step == Step::AdjustZero || step == Step::AdjustSpan;
    if (!gasOn) {
        ui->label_Instruction->setText(zero ? tr("Подайте нулевой газ и нажмите «Газ подан».")
                                            : tr("Подайте поверочный газ (%1) и нажмите «Газ подан».").arg(gasText));
        ui->pushButton_Action->setText(tr("Газ подан"));
        ui->pushButton_Action->setEnabled(true);
        ui->label_Countdown->setText(QString());
        return;
    }
    const bool stable = watch->stable();
    ui->label_Countdown->setText(stable ? tr("показания стабильны") : tr("до стабильности: %1 с").arg(watch->secondsLeft()));
    if (adjust) {
        ui->label_Instruction->setText(stable ? tr("Показания стабильны: можно калибровать.")
                                              : tr("Ждите стабильных показаний."));
        ui->pushButton_Action->setText(zero ? tr("Калибровать ноль") : tr("Калибровать диапазон"));
    } else {
        ui->label_Instruction->setText(tr("Показания будут сняты, когда станут стабильными."));
        ui->pushButton_Action->setText(tr("Принять показания"));
    }
    ui->pushButton_Action->setEnabled(stable);
}

// ------------------------------------------------------------ protocol

bool GuidedSession::saveProtocol(const QString &path, QString *error)
{
    if (!finished) {
        *error = tr("Нет завершённого сеанса");
        return false;
    }
    return Protocol::writePdf(data, path, error);
}

void GuidedSession::on_pushButton_Protocol_clicked()
{
    const QString name = QStringLiteral("%1_%2_%3.pdf")
                             .arg(Protocol::title(data.kind).replace(QLatin1Char(' '), QLatin1Char('_')),
                                  data.device.serialText, data.time.toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = FileChoice::saveFileName(this, Protocol::title(data.kind), QDir::home().filePath(name),
                                                  tr("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveProtocol(path, &error))
        QMessageBox::warning(this, Protocol::title(data.kind), tr("Протокол не записан: %1").arg(error));
}
