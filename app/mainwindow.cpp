// The main window: form, ini file, language switch, page set-up, timers and
// the exchange commands behind the left-hand buttons.
#include "mainwindow.h"
#include "sitewindow.h"
#include "ui_mainwindow.h"

#include "accesslevels.h"
#include "authorizationwindow.h"
#include "calibration.h"
#include "programlink.h"
#include "connect_com_port.h"
#include "deviceops.h"
#include "devicesetting_2_window.h"
#include "devicesetting_3_window.h"
#include "errorbox.h"
#include "exchangewatch.h"
#include "journal.h"
#include "journalsender.h"
#include "measurechart.h"
#include "programlanguage.h"
#include "windowplace.h"
#include "measurewindow.h"
#include "options.h"
#include "parameterfile_gui.h"
#include "reference.h"
#include "trafficmonitor.h"
#include "userfiles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>
#include <QStyle>
#include <QStyleOptionButton>

MainWindow *theMainWindow = nullptr;
MeasureWindow *currentMeasureWindow = nullptr;
Calibration *currentCalibration = nullptr;
DeviceSetting_2_Window *currentDeviceSetting2 = nullptr;
DeviceSetting_3_Window *currentDeviceSetting3 = nullptr;

namespace {
const int IniLineCount = 10;
const char *const EnglishBase = "TL_Program_en_US.";
const char *const RussianBase = "TL_Program_en_RU.";
const int PollIntervalMs = 1000;

QString &iniPathOverride()
{
    static QString path;
    return path;
}

// The left column has fixed widths made for narrow Windows fonts; with a
// wider font (or a longer translation) a text is narrowed until it fits
// rather than cut off.
void fitFont(QWidget *w, const QString &text, int available)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    auto fits = [&lines, available](const QFont &font) {
        const QFontMetrics fm(font);
        for (const QString &line : lines) {
            if (fm.horizontalAdvance(line) > available)
                return false;
        }
        return true;
    };
    // Always start from the font the form gave, whatever an earlier fit chose.
    const char *const baseKey = "tlBaseFont";
    if (!w->property(baseKey).isValid())
        w->setProperty(baseKey, w->font());
    QFont font = w->property(baseKey).value<QFont>();
    font.setStretch(100);
    for (int stretch = 95; stretch >= 70 && !fits(font); stretch -= 5)
        font.setStretch(stretch);
    // Last resort: a smaller size.
    while (!fits(font) && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    w->setFont(font);
}

void fitButton(QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.rect = QRect(QPoint(0, 0), button->size());
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    fitFont(button, button->text(), contents.width() - 8);
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    for (int i = 0; i < IniLineCount; ++i)
        ini.append(QString());

    ui->setupUi(this);
    setMaximumSize(645, 590);

    loadIni();
    if (ini.at(IniLanguage) == QLatin1String(EnglishBase)) {
        ui->radioButtonLanguageEn->setChecked(true);
        switchLanguage(QLatin1String(EnglishBase));
    } else {
        ui->radioButtonLanguageRus->setChecked(true);
        switchLanguage(QLatin1String(RussianBase));
    }

    connect(&pollTimer, &QTimer::timeout, this, &MainWindow::pollTick);
    connect(&calibrationTimer, &QTimer::timeout, this, &MainWindow::calibrationTimerTick);
    exchangeWatch = std::make_unique<ExchangeWatch>(this);

    holdJournalFile();
    // The journal goes to its server in the background from the start.
    sender = std::make_unique<JournalSender>();
    sender->setLocation(journalLocation());
    connect(sender.get(), &JournalSender::syncEnded, this, &MainWindow::journalSent);
    sender->start();
}

MainWindow::~MainWindow()
{
    // What runs on the line from here on runs with nobody to answer: a
    // switch-off that is not confirmed is reported on stderr (quitting on a
    // signal; a close has dealt with it already).
    exchangeWatch.reset();
    // A send in progress is cut off (it is repeated at the next start).
    sender.reset();
    journalHold.reset();
    // The site's work finishes its detectors before the link goes.
    delete siteWindow;
    endOutputTestBeforeQuit(true);
    // The detector must not be left simulating a concentration, and the
    // pages go while this window is still whole (they may use it on the way).
    removePages(true);
    // The chart shows the trend kept here: it goes first.
    delete chart;
    chart = nullptr;
    saveIni();
    pollTimer.stop();
    calibrationTimer.stop();
    delete ui;
    ui = nullptr;
    if (theMainWindow == this)
        theMainWindow = nullptr;
}

// ---------------------------------------------------------------- ini file

QString MainWindow::iniPath()
{
    if (!iniPathOverride().isEmpty())
        return iniPathOverride();
    return UserFiles::iniPath();
}

void MainWindow::setIniPathOverride(const QString &path)
{
    iniPathOverride() = path;
}

void MainWindow::loadIni()
{
    QFile file(iniPath());
    // Read-write creates the file when there is none; a directory we may not
    // write to still lets us read what is there.
    if (!file.open(QIODevice::ReadWrite) && !file.open(QIODevice::ReadOnly))
        return;
    for (int i = 0; i < IniLineCount; ++i) {
        QByteArray line = file.atEnd() ? QByteArray() : file.readLine();
        const int nul = line.indexOf('\0');
        if (nul >= 0)
            line.truncate(nul);
        ini[i] = QString::fromUtf8(line).trimmed();
    }
    file.close();
}

bool MainWindow::saveIni()
{
    QSaveFile file(iniPath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray data;
    // The lines after the sixth only up to the last that says something:
    // without the later settings the file stays the six lines older
    // programs wrote.
    int lines = IniLineCount;
    while (lines > IniJournal && ini.value(lines - 1).isEmpty())
        --lines;
    for (int i = 0; i < lines; ++i)
        data += ini.value(i).toUtf8() + "\r\n";
    // commit() does not check the last flush of the buffer: flush first, so a
    // full disk never replaces the old file with a cut one.
    if (file.write(data) != data.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// --------------------------------------------------------------- language

void MainWindow::switchLanguage(const QString &baseName)
{
    ini[IniLanguage] = baseName;
    // The base name, cut at its last '_' or '.' until a file is found, in
    // the folders the program may take translations from: an installed
    // program only its data folder, never the working directory.
    const QStringList folders = UserFiles::translationFolders();
    for (const QString &folder : folders) {
        if (translator.load(baseName, folder))
            break;
    }
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::installTranslator(&translator);
    ProgramLanguage::setEnglish(baseName == QLatin1String(EnglishBase));
    ui->retranslateUi(this);
    setSoundText();
    fitTexts();
    if (siteStatus)
        showSiteStatus();
    pageSetup();
}

void MainWindow::on_radioButtonLanguageRus_clicked()
{
    switchLanguage(QLatin1String(RussianBase));
}

void MainWindow::on_radioButtonLanguageEn_clicked()
{
    switchLanguage(QLatin1String(EnglishBase));
}

void MainWindow::fitTexts()
{
    QPushButton *const buttons[] = {
        ui->pushButtonBootloader, ui->pushButtonReadFactorySettings, ui->pushButton_Save_Param,
        ui->pushButton_Read_Param, ui->pushButtonLoadConfigDevice, ui->pushButtonSaveConfigPC,
        ui->pushButtonResetDevice, ui->pushButtonSaveFactorySettings};
    for (QPushButton *b : buttons)
        fitButton(b);

    const QMargins m = ui->horizontalLayout->contentsMargins();
    fitFont(ui->label, ui->label->text(),
            ui->widget_AddrMb->width() - m.left() - m.right() - ui->horizontalLayout->spacing()
                - ui->spinBox->sizeHint().width());
}

void MainWindow::setSoundText()
{
    ui->checkBox_SoundOn->setText(soundTextOn ? tr("Вкл.") : tr("Выкл."));
}

// ---------------------------------------------------------------- pages

void MainWindow::removePages(bool now)
{
    // A gas procedure waiting for its confirmation ends with its page (and
    // stops the calibration timer), as an output test does.
    if (currentCalibration)
        currentCalibration->endProcedures();

    QStackedWidget *const stacks[] = {ui->stackedWidget, ui->stackedWidget_calib,
                                      ui->stackedWidget_2, ui->stackedWidget_3};
    for (QStackedWidget *stack : stacks) {
        while (stack->count() > 0) {
            QWidget *page = stack->widget(0);
            stack->removeWidget(page);
            page->hide();
            // Page set-up may run from inside a page's own slot: let the
            // event loop delete it.
            page->deleteLater();
        }
        if (now) {
            // Pages taken out earlier and not yet deleted are still children
            // of their stack.
            qDeleteAll(stack->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly));
        }
    }
    currentMeasureWindow = nullptr;
    currentCalibration = nullptr;
    currentDeviceSetting2 = nullptr;
    currentDeviceSetting3 = nullptr;
    for (QLabel *&label : notRead)
        label = nullptr;
}

QStackedWidget *MainWindow::stack(int index) const
{
    QStackedWidget *const stacks[StackCount] = {ui->stackedWidget, ui->stackedWidget_calib, ui->stackedWidget_2,
                                                ui->stackedWidget_3};
    return index >= 0 && index < StackCount ? stacks[index] : nullptr;
}

void MainWindow::showBlockState()
{
    const bool fromLink = DeviceOps::blockFromLink(command);
    for (int i = 0; i < StackCount; ++i) {
        if (!notRead[i])
            continue;
        const bool shown = fromLink && pageOrigin[i] == command.Origin;
        stack(i)->setCurrentIndex(shown ? 0 : stack(i)->indexOf(notRead[i]));
    }
    // Nothing that writes the block, or replaces the device's parameters,
    // goes to a device whose parameters have not been read.
    QWidget *const writers[] = {ui->pushButton_Save_Param, ui->pushButtonSaveFactorySettings,
                                ui->pushButtonLoadConfigDevice, ui->pushButtonSaveConfigPC,
                                ui->pushButtonReadFactorySettings};
    for (QWidget *w : writers)
        w->setEnabled(fromLink);
    ui->action_config->setEnabled(fromLink);
}

void MainWindow::pageSetup()
{
    pollTimer.stop();
    ui->pushButton_Read_Param->setEnabled(true);

    removePages(false);

    const QString title = ProgramName + tr(" v") + ProgramVersion;
    QWidget *const leftButtons[] = {
        ui->pushButtonBootloader, ui->pushButtonReadFactorySettings, ui->pushButton_Save_Param,
        ui->pushButton_Read_Param, ui->checkBoxAutoupdate, ui->pushButtonLoadConfigDevice,
        ui->pushButtonSaveConfigPC, ui->pushButtonResetDevice, ui->pushButtonSaveFactorySettings};

    // The sound command goes to a detector only.
    ui->checkBox_SoundOn->setEnabled(Params::isDetector(command.DeviceType));

    if (Params::isDetector(command.DeviceType)) {
        setWindowTitle(title + tr(" , устройство TL-02"));
        ui->tabWidget->show();
        ui->widget_AddrMb->show();
        for (QWidget *w : leftButtons)
            w->setVisible(w != ui->pushButtonBootloader);

        auto *measure = new MeasureWindow(this);
        ui->stackedWidget->insertWidget(0, measure);
        ui->stackedWidget->setCurrentIndex(0);
        currentMeasureWindow = measure;

        auto *calibration = new Calibration(calibrationClock, this);
        // The gas calibration reads the live values while it waits for its
        // confirmation; the chart follows them.
        connect(calibration, &Calibration::liveValuesRead, this, &MainWindow::takeLiveValues);
        connect(calibration, &Calibration::stepCompleted, this, &MainWindow::recordCalibration);
        connect(calibration, &Calibration::stepStarting, this, &MainWindow::recordCalibrationStart);
        connect(calibration, &Calibration::stepConfirmed, this,
                [this](const QString &text) { statusBar()->showMessage(text, 5000); });
        connect(calibration, &Calibration::codesRefreshed, this, [] {
            if (currentDeviceSetting3)
                currentDeviceSetting3->refresh();
        });
        setUpGuidedSessions(calibration);
        ui->stackedWidget_calib->insertWidget(0, calibration);
        ui->stackedWidget_calib->setCurrentIndex(0);
        currentCalibration = calibration;

        auto *settings = new DeviceSetting_2_Window(this);
        ui->stackedWidget_2->insertWidget(0, settings);
        ui->stackedWidget_2->setCurrentIndex(0);
        currentDeviceSetting2 = settings;

        auto *calibParams = new DeviceSetting_3_Window(this);
        ui->stackedWidget_3->insertWidget(0, calibParams);
        ui->stackedWidget_3->setCurrentIndex(0);
        currentDeviceSetting3 = calibParams;

        // The new pages show the block as it is now; in place of a page
        // whose values are not this device's, its tab says so.
        for (int i = 0; i < StackCount; ++i) {
            pageOrigin[i] = command.Origin;
            // The calibration parameters stand below the tabs: a short note there.
            notRead[i] = new QLabel(i == 3 ? tr("Калибровочные параметры не прочитаны.")
                                           : tr("Параметры прибора не прочитаны.\nНажмите «Считать параметры»."));
            notRead[i]->setObjectName(QStringLiteral("label_NotRead"));
            notRead[i]->setAlignment(Qt::AlignCenter);
            notRead[i]->setWordWrap(true);
            stack(i)->addWidget(notRead[i]);
        }
        showBlockState();

        // From another tab this runs the tab-change handler, which reads.
        ui->tabWidget->setCurrentIndex(0);
        showStatus(tr("Успешное подключение TL"));

        if (Access::hasLoggedIn(command.UserName))
            ui->action_config->setVisible(true);
        if (!Access::seesProductionControls(command.UserName))
            ui->stackedWidget_3->hide();
        else if (Access::isProduction(command.UserName))
            ui->stackedWidget_3->show();

        readCycle(0);
    } else if (command.DeviceType == Params::TypeBootloader) {
        setWindowTitle(title + tr(" , устройство Bootloader"));
        ui->tabWidget->hide();
        ui->widget_AddrMb->hide();
        for (QWidget *w : leftButtons)
            w->setVisible(w == ui->pushButtonBootloader);
        command.SlaveAddress = 0;
        showStatus(tr("Успешное подключение Bootloader"));
    } else {
        setWindowTitle(title);
        ui->tabWidget->hide();
        for (QWidget *w : leftButtons)
            w->hide();
        ui->widget_AddrMb->show();
    }
}

// ------------------------------------------------------------ read cycle

bool MainWindow::readCycle(int tab)
{
    // Live values alone only complete a block read from this very device.
    const bool full = !ui->checkBoxAutoupdate->isChecked() || !DeviceOps::blockFromLink(command);
    return reportRead(tab, full, DeviceOps::read(command, full ? DeviceOps::ReadMode::Full : DeviceOps::ReadMode::LiveOnly));
}

bool MainWindow::reportRead(int tab, bool full, const DeviceOps::Outcome &read)
{
    if (full && read.blockRead())
        ui->spinBox->setValue(command.SlaveAddress);
    if (!read.ok()) {
        showStatus(exchangeErrorText(read.linkResult));
        // What the measurement page shows is no longer live; the chart
        // breaks its lines here.
        trend.addGap();
        if (currentMeasureWindow)
            currentMeasureWindow->showLiveStale(lastLiveSource == liveSource() ? lastLiveRead : QDateTime());
        showBlockState();
        return false;
    }
    takeLiveValues();

    switch (tab) {
    case 0:
        if (currentMeasureWindow)
            currentMeasureWindow->refresh();
        break;
    case 1:
        if (currentCalibration)
            currentCalibration->updateFromParameters();
        break;
    case 2:
        if (currentDeviceSetting2)
            currentDeviceSetting2->refresh();
        break;
    default:
        break;
    }
    if (tab >= 0 && tab < 3)
        pageOrigin[tab] = command.Origin;
    if (currentDeviceSetting3)
        currentDeviceSetting3->refresh();
    pageOrigin[3] = command.Origin;
    showBlockState();
    // A change of state here sends the matching sound command, as a click does.
    ui->checkBox_SoundOn->setChecked(command.DeviceParams.Status & Params::StatusSoundOff);
    showStatus(tr("Успешная передача данных"));
    return true;
}

void MainWindow::endOutputTest()
{
    // Cancels a gas calibration waiting for confirmation and switches an
    // output test's simulation off on the device.
    if (currentCalibration)
        currentCalibration->endProcedures();
    // No tick of the calibration page may reach the line while another
    // flow runs (a dialog's event loop would serve it).
    calibrationTimer.stop();
}

MainWindow::FlowHost MainWindow::flowHost()
{
    return FlowHost(*this, ui->tabWidget->currentIndex());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window answers during a long exchange: a close cuts it short and
    // comes again once the flow it belongs to has returned.
    if (command.busy()) {
        event->ignore();
        ExchangeWatch::cutRunning();
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    endOutputTestBeforeQuit(false);
    QMainWindow::closeEvent(event);
}

bool MainWindow::endOutputTestBeforeQuit(bool toStderr)
{
    if (!currentCalibration || currentCalibration->switchOffBeforeQuit())
        return true;
    const QString text = tr("Не удалось подтвердить, что имитация концентрации на приборе отключена. Прибор может "
                            "выдавать имитируемое значение: проверьте его.");
    if (toStderr)
        ExchangeWatch::toStderr(text);
    else
        QMessageBox::warning(this, tr("Выход"), text);
    return false;
}

void MainWindow::pollTick()
{
    // A tick that falls due while an exchange waits (the window answers
    // meanwhile) is skipped: the exchanges of one line run one at a time.
    if (command.busy())
        return;
    readCycle(ui->tabWidget->currentIndex());
}

QString MainWindow::liveSource() const
{
    return command.PortName + QLatin1Char('@') + QString::number(command.SlaveAddress);
}

void MainWindow::takeLiveValues()
{
    // Samples of another port or address start a new chart.
    lastLiveRead = QDateTime::currentDateTime();
    lastLiveSource = liveSource();
    trend.add(command.DeviceParams, lastLiveRead.toMSecsSinceEpoch(), lastLiveSource);
    if (chart)
        chart->refresh();
}

// -------------------------------------------------------- exchange slots

void MainWindow::on_spinBox_valueChanged(int value)
{
    // An output test ends on the detector it runs on, before the address
    // points elsewhere.
    if (quint16(value) != command.SlaveAddress)
        endOutputTest();
    command.SlaveAddress = quint16(value);
    showBlockState();
}

void MainWindow::on_pushButton_Read_Param_clicked()
{
    showStatus(tr("Идет передача данных..."));
    QCoreApplication::processEvents();
    stopAutoUpdate();
    readCycle(ui->tabWidget->currentIndex());
}

void MainWindow::on_pushButton_Save_Param_clicked()
{
    FlowHost host = flowHost();
    writeParameters(host);
    showBlockState();
}

void MainWindow::on_checkBoxAutoupdate_stateChanged(int state)
{
    if (state) {
        pollTimer.start(PollIntervalMs);
        ui->pushButton_Read_Param->setEnabled(false);
    } else {
        pollTimer.stop();
        ui->pushButton_Read_Param->setEnabled(true);
    }
}

void MainWindow::on_tabWidget_currentChanged(int index)
{
    // Off the calibration tab no procedure goes on.  This comes before the
    // read, so that the read already sees the device with its simulation
    // switched off rather than the state a moment before.
    if (index != 1 && currentCalibration)
        currentCalibration->endProcedures();
    ui->checkBoxAutoupdate->setEnabled(index == 0);
    ui->checkBoxAutoupdate->setChecked(false);
    on_pushButton_Read_Param_clicked();
}

void MainWindow::on_pushButtonResetDevice_clicked()
{
    DeviceOps::sendCommand(command, Params::CmdRestart);
}

void MainWindow::on_checkBox_SoundOn_stateChanged(int state)
{
    // With no detector shown there is nobody to send the command to.
    if (!Params::isDetector(command.DeviceType))
        return;
    if (const quint16 sent = DeviceOps::switchSoundOff(command, state != 0); sent != ResultOk) {
        showExchangeError(this, sent);
        return;
    }
    soundTextOn = state != 0;
    setSoundText();
}

void MainWindow::on_action_connect_triggered()
{
    // The link may go to another port or device: nothing may keep running
    // on the one shown now.
    endOutputTest();
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();

    if (!command.LoggedIn) {
        AuthorizationWindow login(this, 0);
        login.exec();
        if (!command.LoggedIn) {
            pageSetup();
            return;
        }
    }

    {
        Connect_com_port dialog(this);
        dialog.exec();
    }
    ui->spinBox->setValue(command.SlaveAddress);
    pageSetup();
}

void MainWindow::on_action_reference_triggered()
{
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();
    Reference about(this);
    about.exec();
}

void MainWindow::on_action_chart_triggered()
{
    // Non-modal: the reads go on while it is open, and they feed it.
    if (!chart)
        chart = new MeasureChart(trend, this);
    WindowPlace::fitOnScreen(chart, this);
    chart->show();
    chart->raise();
    chart->activateWindow();
}

void MainWindow::on_action_monitor_triggered()
{
    // It only watches the line: nothing is stopped or sent for it.
    if (!monitorWindow)
        monitorWindow = new TrafficMonitor(this);
    WindowPlace::fitOnScreen(monitorWindow, this);
    monitorWindow->show();
    monitorWindow->raise();
    monitorWindow->activateWindow();
}

void MainWindow::stopAutoUpdate()
{
    ui->checkBoxAutoupdate->setChecked(false);
}

// ----------------------------------------------------------------- timers

void MainWindow::startCalibrationTimer(int intervalMs)
{
    calibrationTimer.start(intervalMs);
}

void MainWindow::stopCalibrationTimer()
{
    calibrationTimer.stop();
}

bool MainWindow::calibrationTimerActive() const
{
    return calibrationTimer.isActive();
}

void MainWindow::calibrationTimerTick()
{
    if (command.busy())
        return;
    if (ui->tabWidget->currentIndex() != 1)
        calibrationTimer.stop();
    if (currentCalibration)
        currentCalibration->timerTick();
    // A write of the output test refused for another device drops the block.
    showBlockState();
}

// ------------------------------------------------------------- status bar

void MainWindow::showStatus(const QString &text)
{
    ui->statusbar->showMessage(text);
}

void MainWindow::clearStatus()
{
    ui->statusbar->clearMessage();
}
