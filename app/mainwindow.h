// The program's one main window.
#pragma once

#include "calibrationclock.h"
#include "programlink.h"
#include "deviceops.h"
#include "measuretrend.h"
#include "parameterfile_gui.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QTranslator>
#include <memory>

namespace Ui { class MainWindow; }

class QLabel;
class QStackedWidget;

class MeasureChart;
class MeasureWindow;
class Calibration;
class DeviceSetting_2_Window;
class DeviceSetting_3_Window;
class JournalSender;
class JournalWindow;
namespace Journal { class Database; }
class SiteWindow;
class SiteHost;
class ExchangeWatch;
struct CalibrationStep;
namespace Journal { struct Record; }

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Rebuilds the window for command.DeviceType (no device, detector,
    // bootloader); for a detector creates the four pages and reads the device.
    void pageSetup();
    // Identification, holding block and live values (or only the live values
    // under automatic reading), then refresh of the pages of tab `tab`.
    // Returns whether every request succeeded.
    bool readCycle(int tab);
    // The end of a read cycle whose requests have been made: after a full
    // read whose identification and holding block came in, the address box
    // shows SlaveAddress; on success the pages of tab `tab` are refreshed,
    // the sound box follows the device and the status says so; on failure
    // the status says "Ошибка обмена данными".  Returns read.ok().
    bool reportRead(int tab, bool full, const DeviceOps::Outcome &read);
    // Pages and write controls follow the block: a page is shown only while
    // the block holds a full read of the device the link addresses now and
    // the page was last filled from that read; otherwise its tab shows
    // "Параметры прибора не прочитаны".  Every control that writes to the
    // device is enabled only while the block is that device's.
    void showBlockState();
    // Ends whatever the calibration page has running against the device (a
    // waiting gas calibration is cancelled, an output test switches the
    // simulation off on the device) before a flow that changes the link or
    // the device.
    void endOutputTest();
    // Before the program quits: a running output test is switched off on
    // the device, once.  When that is not confirmed the user is told, in a
    // box or (`toStderr`: quitting on a signal, nobody to answer a box) on
    // stderr.  Returns whether it was confirmed (true when no test ran).
    // The close of the window and its destructor call it.
    bool endOutputTestBeforeQuit(bool toStderr);

    // Calibration timer, owned here; the calibration page starts and stops it
    // through the clock it is given, and each timeout runs its tick.
    void startCalibrationTimer(int intervalMs);
    void stopCalibrationTimer();
    bool calibrationTimerActive() const;

    // Status bar: messages without time-out.
    void showStatus(const QString &text);
    void clearStatus();

    // Ini values, lines 1..10 stored at index 0..9.  A file of six lines
    // (older programs) has the later ones empty.
    enum IniLine {
        IniConfigDir = 0,      // directory of parameter files
        IniFirmwareDir = 1,    // directory of firmware files
        IniFirmwarePath = 2,   // last firmware file
        IniLoadPath = 3,       // last parameter file loaded into the device
        IniSavePath = 4,       // last parameter file saved on the PC
        IniLanguage = 5,       // translation base name
        IniJournal = 6,        // the journal's location (empty: this computer's file)
        IniTechnician = 7,     // who calibrates and checks, for the protocols
        IniOrganisation = 8,
        IniTolerance = 9,      // "10;5": % of the test gas; % of the range (empty: these)
    };
    QString iniValue(int line) const { return ini.value(line); }
    void setIniValue(int line, const QString &value) { if (line >= 0 && line < ini.size()) ini[line] = value; }
    static QString iniPath();
    // Test hook: use this path instead of the one beside the program
    // (an empty path goes back to the default).
    static void setIniPathOverride(const QString &path);
    // Writes the ini file at once (safe replace); false when it failed.
    bool saveIni();

    // Unchecks "Авто" (ends automatic reading).
    void stopAutoUpdate();

    // The journal's location as set (the user's file unless "Настройки
    // журнала..." named another); records go to its file of this computer.
    QString journalLocation() const;
    // Keeps `setting` (checked by the caller: Journal::checkSetting()) in
    // the ini file at once and points the journal's windows and the sender
    // at it; false when the ini file could not be written.
    bool setJournalSetting(const QString &setting);
    // The background sender of the journal to its server.
    JournalSender *journalSender() const { return sender.get(); }

public slots:
    void on_spinBox_valueChanged(int value);
    void on_pushButton_Save_Param_clicked();
    void on_pushButton_Read_Param_clicked();
    void on_checkBoxAutoupdate_stateChanged(int state);
    void on_tabWidget_currentChanged(int index);
    void on_pushButtonLoadConfigDevice_clicked();
    void on_pushButtonSaveConfigPC_clicked();
    void on_radioButtonLanguageRus_clicked();
    void on_radioButtonLanguageEn_clicked();
    void on_action_connect_triggered();
    void on_pushButtonResetDevice_clicked();
    void on_pushButtonBootloader_clicked();
    void on_pushButtonReadFactorySettings_clicked();
    void on_pushButtonSaveFactorySettings_clicked();
    void on_action_config_triggered();
    void on_checkBox_SoundOn_stateChanged(int state);
    void on_action_reference_triggered();
    // Opens the traffic monitor (or brings the open one to the front).
    void on_action_monitor_triggered();
    void on_action_chart_triggered();
    void on_action_journal_triggered();
    // "Журнал": where the journal lives.
    void on_action_journalSettings_triggered();
    // Opens the "Объект" window (or brings the open one to the front).
    void on_action_site_triggered();

public:
    // Writes a record into the calibration journal after the device work it
    // describes; a journal that cannot be written is reported (warning box
    // "Журнал калибровок") and changes nothing of that work.  True when
    // written.
    bool writeJournal(Journal::Record &record, bool report = true);
    // The calibration page's record of a step it ran.
    void recordCalibration(const CalibrationStep &step);
    // The record written before a calibration step's device write.
    void recordCalibrationStart(const CalibrationStep &step);
    // The calibration page's guided session and function check: who does
    // the work from the ini, their records into the journal, the site's tag
    // and interval for the protocol.
    void setUpGuidedSessions(Calibration *calibration);

private:
    // The window as the parameter-file and factory flows see it, for the tab
    // shown when the flow started.
    class FlowHost final : public ExchangeHost
    {
    public:
        FlowHost(MainWindow &window, int tab) : window(window), tab(tab) {}
        QWidget *dialogParent() override { return &window; }
        void showStatus(const QString &text) override { window.showStatus(text); }
        void stopAutoUpdate() override { window.stopAutoUpdate(); }
        bool readCycle() override { return window.readCycle(tab); }
        bool reportRead(const DeviceOps::Outcome &read) override { return window.reportRead(tab, true, read); }

    private:
        MainWindow &window;
        int tab;
    };
    FlowHost flowHost();

    void closeEvent(QCloseEvent *event) override;
    void pollTick();
    // After every successful read of the live values (the read cycle's, the
    // calibration page's): a sample for the measurement chart.
    void takeLiveValues();
    void calibrationTimerTick();
    void loadIni();
    void switchLanguage(const QString &baseName);
    // Ends the calibration page's procedures and takes the pages out of every stack;
    // `now` deletes them at once instead of through the event loop.
    void removePages(bool now);
    void setSoundText();
    // Narrows the fonts of fixed-width texts that would be cut off.
    void fitTexts();

    QTimer calibrationTimer;
    TimerClock calibrationClock{calibrationTimer};
    Ui::MainWindow *ui;
    QTranslator translator;
    QTimer pollTimer;
    std::unique_ptr<ExchangeWatch> exchangeWatch;
    QStringList ini;
    // The live values of the last hour; the chart window, once opened, is
    // kept (hidden when closed) and shows them.
    MeasureTrend trend;
    MeasureChart *chart = nullptr;
    // The journal window, once opened (non-modal; it deletes itself when closed).
    QPointer<JournalWindow> journalWindow;
    // Sends the journal to its server off this thread; reports each send.
    std::unique_ptr<JournalSender> sender;
    void journalSent();
    // The journal's file of this computer, held open while the program
    // runs: a record's own connection is then never the file's last one,
    // whose close would copy the log back into the file and sync it to the
    // disk on the thread that wrote the record (the device work's).  That
    // happens in a commit every 1000 pages of log, and when this closes.
    std::unique_ptr<Journal::Database> journalHold;
    void holdJournalFile();
    // Per stack (measurement, calibration, settings, calibration parameters):
    // the origin of the block its page was last filled from, and the label
    // shown instead of the page while that is not the block of the device.
    enum { StackCount = 4 };
    Command::BlockOrigin pageOrigin[StackCount];
    QLabel *notRead[StackCount] = {};
    QStackedWidget *stack(int index) const;
    // The last successful read of the live values, and of which device.
    QDateTime lastLiveRead;
    QString lastLiveSource;
    QString liveSource() const;
    // Which of the two texts the sound box shows ("Вкл." after a successful
    // switch-off command, "Выкл." otherwise); kept across re-translation.
    bool soundTextOn = false;
    // The traffic monitor while it is open (it deletes itself when closed).
    QPointer<QWidget> monitorWindow;

    // The "Объект" window, once opened (kept, hidden when closed), and the
    // status bar's note of the site it shows.
    class SiteLink;
    std::unique_ptr<SiteHost> siteLink;
    QPointer<SiteWindow> siteWindow;
    QLabel *siteStatus = nullptr;
    QString siteName;
    int siteOverdue = 0;
    void showSiteStatus();
};

// Set by the entry point right after the window is built.
extern MainWindow *theMainWindow;

// Newest page of each kind, replaced by page set-up; null before the first
// detector page set-up.
extern MeasureWindow *currentMeasureWindow;
extern Calibration *currentCalibration;
extern DeviceSetting_2_Window *currentDeviceSetting2;
extern DeviceSetting_3_Window *currentDeviceSetting3;
