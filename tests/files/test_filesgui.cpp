// The main window's parameter-file, factory-settings and firmware buttons,
// driven through their slots against the simulated detector and bootloader.
#include "programlink.h"
#include "filechoice_gui.h"
#include "filetestutil.h"
#include "hexfile.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "progressdialog_gui.h"
#include "restoretestutil.h"
#include "simprocess.h"
#include "windowsim.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <cstring>

namespace {

const char ErrorTitle[] = "Ошибка";
const char ExchangeError[] = "Ошибка обмена данными";
const char OpenError[] = "Ошибка открытия файла";
const char FirmwareTitle[] = "Обновление версии ПО";

struct ChooserCall {
    QWidget *parent = nullptr;
    QString caption, dir, filter;
    int calls = 0;
};

QByteArray blockBytes(int n = HexFile::BlockBytes)
{
    return QByteArray(reinterpret_cast<const char *>(&command.DeviceParams), n);
}

// Function and start register of a request frame.
QPair<int, int> functionAndStart(const QByteArray &f)
{
    if (f.size() < 4)
        return {-1, -1};
    return {quint8(f[1]), quint8(f[2]) << 8 | quint8(f[3])};
}

} // namespace

class TestFilesGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void progressDialogAndCountdownLabel();
    void saveProposesRememberedDirectoryAndWritesImage();
    void saveFailuresKeepPreviousFile();
    void roundTripThroughFileAndDevice();
    void longerFileIsRefused();
    void loadNeverWritesPartialConfiguration_data();
    void loadNeverWritesPartialConfiguration();
    void factorySettingsStoredAndRestored();
    void factoryStoreNeedsSuccessfulWrite();
    void factoryCommandFailuresReported();
    void factoryReadAsUserNeedsPassword();
    void firmwareUpdateThroughButton();
    void firmwareAnswerNoOrNotBootloader();
    void firmwareFailureMessages();
    void firmwareDeviceStopsAnswering();
    void firmwareCancel();

private:
    bool connectDetector();
    bool connectBootloader();
    void chooseFile(FileChoice::Chooser *hook, const QString &path, ChooserCall *call);
    QString status() const { return window->statusBar()->currentMessage(); }

    QTemporaryDir dir;
    SimProcess sim;
    MainWindow *window = nullptr;
    ChooserCall openCall, saveCall;
};

void TestFilesGui::initTestCase()
{
    QVERIFY(dir.isValid());
    MainWindow::setIniPathOverride(dir.filePath("ini"));
}

void TestFilesGui::init()
{
    command.resetState();
    QFile::remove(dir.filePath("ini"));
    window = new MainWindow;
    theMainWindow = window;
    openCall = ChooserCall();
    saveCall = ChooserCall();
}

void TestFilesGui::cleanup()
{
    FileChoice::openHook = nullptr;
    FileChoice::saveHook = nullptr;
    delete window;
    window = nullptr;
    theMainWindow = nullptr;
    command.resetState();
    sim.stop();
}

bool TestFilesGui::connectDetector()
{
    // Pages and a first full read.
    const bool shown = sim.start() && WindowSim::showDetector(*window, sim, QStringLiteral("Admin"));
    sim.clearLog();
    return shown && command.DeviceParams.Limit1 == 200;
}

bool TestFilesGui::connectBootloader()
{
    return WindowSim::showBootloader(*window, sim, {"--dump", dir.filePath("flash.bin")});
}

void TestFilesGui::chooseFile(FileChoice::Chooser *hook, const QString &path, ChooserCall *call)
{
    *hook = [path, call](QWidget *parent, const QString &caption, const QString &d, const QString &filter) {
        call->parent = parent;
        call->caption = caption;
        call->dir = d;
        call->filter = filter;
        ++call->calls;
        return path;
    };
}

void TestFilesGui::progressDialogAndCountdownLabel()
{
    std::unique_ptr<QProgressDialog> d(openProgressDialog(window));
    QCOMPARE(d->parentWidget(), static_cast<QWidget *>(window));
    QCOMPARE(d->windowTitle(), QString("Пожалуйста подождите"));
    QCOMPARE(d->labelText(), QString("Выполнение процесса..."));
    QCOMPARE(d->windowModality(), Qt::WindowModal);
    QCOMPARE(d->minimum(), 0);
    QCOMPARE(d->maximum(), 100);
    QCOMPARE(d->minimumSize(), d->maximumSize());
    const Qt::WindowFlags f = d->windowFlags();
    QVERIFY(!(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));
    QPushButton *cancel = d->findChild<QPushButton *>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("Завершить"));

    // Percent 0 leaves the label alone; later it counts down.
    showCountdown(d.get(), 0, true);
    QCOMPARE(d->labelText(), QString("Выполнение процесса..."));
    QCOMPARE(countdownText(2500, 50, false), QString("Выполнение процесса,\nосталось 2.5 секунд"));
    QCOMPARE(countdownText(2500, 50, true), QString("Выполнение процесса,\nосталось 2 секунд"));
    QCOMPARE(countdownText(1000, 3, false), QString("Выполнение процесса,\nосталось 32.3333 секунд"));
    QTest::qWait(30);
    QVERIFY(progressElapsedMs() >= 20);
    showCountdown(d.get(), 25, true);
    QVERIFY(QRegularExpression("^Выполнение процесса,\nосталось \\d+ секунд$").match(d->labelText()).hasMatch());

    // The fixed size leaves room for the two-line countdown, also in English.
    d->setLabelText(countdownText(1000000, 1, false));
    QVERIFY(d->sizeHint().width() <= d->maximumWidth());
    QVERIFY(d->sizeHint().height() <= d->maximumHeight());

    QTranslator english;
    if (english.load(QStringLiteral(TL_RUNTIME_DIR "/TL_Program_en_US.qm"))) {
        QCoreApplication::installTranslator(&english);
        std::unique_ptr<QProgressDialog> e(openProgressDialog(window));
        QVERIFY(e->windowTitle() != QString("Пожалуйста подождите"));
        e->setLabelText(countdownText(1000000, 1, false));
        QVERIFY(!e->labelText().contains(QString("осталось")));
        QVERIFY(e->sizeHint().width() <= e->maximumWidth());
        QVERIFY(e->sizeHint().height() <= e->maximumHeight());
        QCoreApplication::removeTranslator(&english);
    }
}

void TestFilesGui::saveProposesRememberedDirectoryAndWritesImage()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;

    // Nothing remembered yet: "//config.txt" is proposed; a cancelled
    // dialog changes nothing.
    chooseFile(&FileChoice::saveHook, QString(), &saveCall);
    window->on_pushButtonSaveConfigPC_clicked();
    QCOMPARE(saveCall.calls, 1);
    QCOMPARE(saveCall.dir, QString("//config.txt"));
    QCOMPARE(saveCall.caption, QString("Файл конфигурации"));
    QCOMPARE(saveCall.filter, QString("(*.txt);"));
    QCOMPARE(saveCall.parent, static_cast<QWidget *>(window));
    QVERIFY(window->iniValue(MainWindow::IniSavePath).isEmpty());
    QVERIFY(window->iniValue(MainWindow::IniConfigDir).isEmpty());

    const QString sub = dir.filePath("configs");
    QVERIFY(QDir().mkpath(sub));
    window->setIniValue(MainWindow::IniConfigDir, sub);
    const QString path = sub + "/unit7.txt";
    chooseFile(&FileChoice::saveHook, path, &saveCall);
    window->showStatus("before");
    window->on_pushButtonSaveConfigPC_clicked();
    QCOMPARE(saveCall.dir, sub + "//config.txt");
    QCOMPARE(window->iniValue(MainWindow::IniConfigDir), sub);
    QCOMPARE(window->iniValue(MainWindow::IniSavePath), path);
    QVERIFY(status().isEmpty());

    const QByteArray text = readFile(path);
    QCOMPARE(text, asHexLines(blockBytes()));
    QCOMPARE(text.count("\r\n"), 7);
    QVERIFY(closer.seen.isEmpty());
    QTest::qWait(100);
    QVERIFY(sim.rxFrames().isEmpty());   // saving does not talk to the device
}

void TestFilesGui::saveFailuresKeepPreviousFile()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;
    const QString path = dir.filePath("keep.txt");
    const QByteArray previous = "previous content\r\n";
    QVERIFY(writeFile(path, previous));
    std::memset(&command.DeviceParams, 0x3C, 140);

    // The file system refuses the bytes half way (as a full disk does).
    chooseFile(&FileChoice::saveHook, path, &saveCall);
    QVERIFY(withFileSizeLimit(100, [&] { window->on_pushButtonSaveConfigPC_clicked(); }));

    QCOMPARE(readFile(path), previous);
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[0].text, QString("Ошибка записи файла"));
    QCOMPARE(QDir(dir.path()).entryList({"keep*"}, QDir::Files), QStringList{"keep.txt"});

    // A file that cannot be opened at all.
    closer.clear();
    chooseFile(&FileChoice::saveHook, dir.filePath("no/such/dir/config.txt"), &saveCall);
    window->on_pushButtonSaveConfigPC_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[0].text, QString(OpenError));
}

void TestFilesGui::roundTripThroughFileAndDevice()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;
    const QString path = dir.filePath("roundtrip.txt");
    chooseFile(&FileChoice::saveHook, path, &saveCall);
    window->on_pushButtonSaveConfigPC_clicked();
    const QByteArray saved = blockBytes();

    // Someone changes the device; reading shows the change.
    bool ok1 = false, ok2 = false;
    sim.send("set holding 0x1005 321", &ok1);
    sim.send("set holding 0x1004 999", &ok2);
    QVERIFY(ok1 && ok2);
    window->on_pushButton_Read_Param_clicked();
    QCOMPARE(int(command.DeviceParams.Limit1), 321);
    QCOMPARE(int(command.DeviceParams.ValueMax), 999);

    // Loading the file puts the saved parameters back into the device, once
    // the changes have been shown and confirmed.
    sim.clearLog();
    chooseFile(&FileChoice::openHook, path, &openCall);
    window->setIniValue(MainWindow::IniConfigDir, "/somewhere/else");
    RestoreSeen confirm;
    closer.pushHandler(answerRestore(&confirm, true));
    window->on_pushButtonLoadConfigDevice_clicked();
    QVERIFY(confirm.shown);
    QCOMPARE(confirm.rows, QStringList({"Порог 1: 32.1 PPM -> 20.0 PPM", "Верхнее значение диапазона: 99.9 PPM -> 100.0 PPM"}));
    QCOMPARE(closer.seen.size(), 1);
    closer.clear();
    QCOMPARE(openCall.dir, QString("/somewhere/else"));
    QCOMPARE(openCall.caption, QString("Файл конфигурации"));
    QCOMPARE(openCall.filter, QString("(*.txt);"));
    QCOMPARE(window->iniValue(MainWindow::IniLoadPath), path);
    QCOMPARE(window->iniValue(MainWindow::IniConfigDir), dir.path());
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(sim.holding(0x1005), 200);
    QCOMPARE(sim.holding(0x1004), 1000);
    QCOMPARE(int(command.DeviceParams.Limit1), 200);
    QCOMPARE(status(), QString("Успешная передача данных"));

    // A read of the device to compare with, its serial number and type, the
    // block write of WriteCount registers, then the read cycle.
    const QList<QByteArray> frames = sim.rxFrames();
    QVERIFY(frames.size() >= 11);
    QCOMPARE(functionAndStart(frames[2]), qMakePair(3, 0x1000));
    QCOMPARE(functionAndStart(frames[4]), qMakePair(3, 0x100F));
    QCOMPARE(functionAndStart(frames[6]), qMakePair(16, 0x1000));
    QCOMPARE(frames[6].size(), 9 + 2 * 48);
    QCOMPARE(quint8(frames[7][1]), quint8(43));
    // Holding registers in the file's byte order: Limit1 (0x1005) is word 5.
    const int limitAt = 7 + 2 * 5;
    QCOMPARE(quint8(frames[6][limitAt]) << 8 | quint8(frames[6][limitAt + 1]), 200);
    QCOMPARE(blockBytes().mid(56, 4), saved.mid(56, 4));
}

void TestFilesGui::longerFileIsRefused()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;
    QByteArray image = blockBytes();
    image[56] = char(250);   // Limit1 = 250
    image[57] = 0;
    QByteArray longer = image + QByteArray(20, char(0x77));
    const QString path = dir.filePath("eight.txt");
    QVERIFY(writeFile(path, asHexLines(longer)));
    chooseFile(&FileChoice::openHook, path, &openCall);
    sim.clearLog();
    window->on_pushButtonLoadConfigDevice_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QVERIFY2(closer.seen[0].text.contains("не является файлом параметров") && closer.seen[0].text.contains("строка 8"),
             qPrintable(closer.seen[0].text));
    QVERIFY(sim.rxFrames().isEmpty());
    QCOMPARE(sim.holding(0x1005), 200);
}

void TestFilesGui::loadNeverWritesPartialConfiguration_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");   // empty: no box at all
    QTest::newRow("cancel during reading") << "cancel" << QString();
    QTest::newRow("three lines") << "short" << QString("Файл конфигурации неполный");
    QTest::newRow("139 bytes") << "139" << QString("Файл конфигурации неполный");
    QTest::newRow("empty file") << "empty" << QString("Файл конфигурации неполный");
    QTest::newRow("missing file") << "missing" << QString(OpenError);
    QTest::newRow("file dialog cancelled") << "nochoice" << QString();
}

void TestFilesGui::loadNeverWritesPartialConfiguration()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));

    // A file that differs from the block everywhere, so any byte taken from
    // it would show.
    QByteArray other = blockBytes();
    for (char &c : other)
        c = char(~quint8(c));
    QByteArray content;
    if (kind == "cancel") {
        // Many blank lines between the first three lines and the rest, so
        // the cancel lands while the image is half read.
        content = asHexLines(other.left(60));
        for (int i = 0; i < 3000; ++i)
            content += " \r\n";
        content += asHexLines(other.mid(60));
    } else if (kind == "short") {
        content = asHexLines(other.left(60));
    } else if (kind == "139") {
        content = asHexLines(other.left(139));
    }
    const QString path = dir.filePath("load.txt");
    QVERIFY(writeFile(path, content));
    QString chosen = path;
    if (kind == "missing")
        chosen = dir.filePath("absent.txt");
    else if (kind == "nochoice")
        chosen.clear();
    chooseFile(&FileChoice::openHook, chosen, &openCall);

    QTimer canceller;
    int cancels = 0;
    if (kind == "cancel") {
        connect(&canceller, &QTimer::timeout, [&] {
            if (auto *d = window->findChild<QProgressDialog *>()) {
                d->cancel();
                ++cancels;
            }
        });
        canceller.start(0);
    }

    const QByteArray before(reinterpret_cast<const char *>(&command.DeviceParams), sizeof(ParamBlock));
    ModalCloser closer;
    window->on_pushButtonLoadConfigDevice_clicked();
    canceller.stop();

    if (kind == "cancel")
        QVERIFY(cancels > 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&command.DeviceParams), sizeof(ParamBlock)), before);
    QTest::qWait(150);
    QVERIFY(sim.rxFrames().isEmpty());
    QCOMPARE(sim.holding(0x1005), 200);
    if (message.isEmpty()) {
        QVERIFY(closer.seen.isEmpty());
    } else {
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
        QVERIFY2(closer.seen[0].text.startsWith(message), qPrintable(closer.seen[0].text));
    }
    if (kind == "nochoice") {
        QVERIFY(window->iniValue(MainWindow::IniLoadPath).isEmpty());
    } else {
        QCOMPARE(window->iniValue(MainWindow::IniLoadPath), chosen);
    }
}

void TestFilesGui::factorySettingsStoredAndRestored()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;
    command.DeviceParams.Limit1 = 222;
    window->on_pushButtonSaveFactorySettings_clicked();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(sim.commands(), QList<quint16>{0x3003});
    const QList<QByteArray> frames = sim.rxFrames();
    QCOMPARE(functionAndStart(frames.first()), qMakePair(3, 0x100F));
    QCOMPARE(functionAndStart(frames.at(2)), qMakePair(16, 0x1000));
    QCOMPARE(functionAndStart(frames.last()), qMakePair(16, 0x1020));
    QCOMPARE(sim.holding(0x1005), 222);

    // The device drifts; taking up the factory settings brings 222 back
    // (level Admin: no password asked).
    sim.send("set holding 0x1005 333");
    sim.clearLog();
    command.FactoryAccess = 1;
    window->on_pushButtonReadFactorySettings_clicked();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(sim.commands(), QList<quint16>{0x6006});
    QCOMPARE(int(command.DeviceParams.Limit1), 222);
    QCOMPARE(command.FactoryAccess, quint8(0));
    QCOMPARE(status(), QString("Успешная передача данных"));
}

void TestFilesGui::factoryStoreNeedsSuccessfulWrite()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;
    sim.send("fault exception 4 -1 2");   // after the serial number and type
    window->on_pushButtonSaveFactorySettings_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[0].text, QString(ExchangeError));
    QCOMPARE(status(), QString(ExchangeError));
    // Only the block write was tried; no command went out.
    for (const QByteArray &f : sim.rxFrames().mid(2))
        QCOMPARE(functionAndStart(f), qMakePair(16, 0x1000));
    QVERIFY(sim.commands().isEmpty());
}

void TestFilesGui::factoryCommandFailuresReported()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    ModalCloser closer;

    // The serial number and type, the write and its read cycle (43, 43, 3,
    // 4) pass; 0x3003 is refused.
    sim.send("fault exception 2 -1 7");
    window->on_pushButtonSaveFactorySettings_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[0].text, QString(ExchangeError));
    QCOMPARE(status(), QString(ExchangeError));
    QCOMPARE(functionAndStart(sim.rxFrames().last()), qMakePair(16, 0x1020));

    // 0x6006 refused: reported, and no read follows.
    sim.send("fault clear");
    sim.send("fault exception 2 -1");
    sim.clearLog();
    closer.clear();
    window->on_pushButtonReadFactorySettings_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[0].text, QString(ExchangeError));
    const QList<QByteArray> frames = sim.rxFrames();
    QVERIFY(!frames.isEmpty());
    for (const QByteArray &f : frames)
        QCOMPARE(functionAndStart(f), qMakePair(16, 0x1020));
}

void TestFilesGui::factoryReadAsUserNeedsPassword()
{
    QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
    command.UserName = "User";

    // Dialog closed without the password: nothing is sent.
    {
        ModalCloser closer;
        window->on_pushButtonReadFactorySettings_clicked();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].className, QString("AuthorizationWindow"));
        QTest::qWait(150);
        QVERIFY(sim.rxFrames().isEmpty());
    }

    // The factory password grants this one action.
    ModalCloser closer;
    closer.pushHandler([](QWidget *w) {
        auto *edit = w->findChild<QLineEdit *>("password_2");
        auto *ok = w->findChild<QPushButton *>("pushButton_OK");
        if (!edit || !ok)
            return false;
        edit->setText("5916");
        ok->click();
        return true;
    });
    window->on_pushButtonReadFactorySettings_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(sim.commands(), QList<quint16>{0x6006});
    QCOMPARE(command.FactoryAccess, quint8(0));
    bool readFollowed = false;
    for (const QByteArray &f : sim.rxFrames())
        readFollowed |= functionAndStart(f) == qMakePair(3, 0x1000);
    QVERIFY(readFollowed);
}

void TestFilesGui::firmwareUpdateThroughButton()
{
    QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
    const QByteArray image = applicationImage(1000);
    const QString fwDir = dir.filePath("fw");
    QVERIFY(QDir().mkpath(fwDir));
    const QString path = fwDir + "/tl02.bin";
    QVERIFY(writeFile(path, image));
    window->setIniValue(MainWindow::IniFirmwareDir, "/old/dir");
    chooseFile(&FileChoice::openHook, path, &openCall);

    // Watch the progress dialog while the blocks go.
    QStringList labels;
    bool windowModal = false;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
        if (auto *d = window->findChild<QProgressDialog *>()) {
            windowModal = d->windowModality() == Qt::WindowModal;
            if (labels.isEmpty() || labels.last() != d->labelText())
                labels << d->labelText();
        }
    });
    watcher.start(5);

    ModalCloser closer;
    window->on_pushButtonBootloader_clicked();
    watcher.stop();

    QCOMPARE(openCall.caption, QString("Файл прошивки"));
    QCOMPARE(openCall.dir, QString("/old/dir"));
    QCOMPARE(openCall.filter, QString("(*.bin);"));
    QCOMPARE(window->iniValue(MainWindow::IniFirmwareDir), fwDir);
    QCOMPARE(window->iniValue(MainWindow::IniFirmwarePath), path);

    // One question, with the image's size and SHA-256: an application goes
    // without a second one.
    QCOMPARE(closer.seen.size(), 2);
    QCOMPARE(closer.seen[0].title, QString(FirmwareTitle));
    QCOMPARE(closer.seen[0].text, QString("Загрузить в устройство?\n\nФайл: tl02.bin\nРазмер: 1000 байт\nSHA-256: %1")
                                      .arg(QString(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex())));
    QCOMPARE(closer.seen[1].title, QString(FirmwareTitle));
    QCOMPARE(closer.seen[1].text, QString("Контроллер успешно прошит"));

    QCOMPARE(sim.commands(), (QList<quint16>{0x5555, 0x6060}));
    QCOMPARE(blockFrames(sim.rxFrames()).size(), 5);
    sim.send("dump");
    QCOMPARE(readFile(dir.filePath("flash.bin")), image);

    // The label starts as "Выполнение процесса..." and, once a block is
    // through, counts down in whole seconds.
    QVERIFY(windowModal);
    QVERIFY2(labels.size() >= 2, qPrintable(labels.join(" | ")));
    QCOMPARE(labels.first(), QString("Выполнение процесса..."));
    const QRegularExpression countdown("^Выполнение процесса,\nосталось \\d+ секунд$");
    for (int i = 1; i < labels.size(); ++i)
        QVERIFY2(countdown.match(labels[i]).hasMatch(), qPrintable(labels[i]));
    QVERIFY(!window->findChild<QProgressDialog *>());
}

void TestFilesGui::firmwareAnswerNoOrNotBootloader()
{
    QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
    const QString path = dir.filePath("no.bin");
    QVERIFY(writeFile(path, patternImage(300)));
    chooseFile(&FileChoice::openHook, path, &openCall);
    {
        ModalCloser closer;
        closer.answerNext(QMessageBox::No);
        window->on_pushButtonBootloader_clicked();
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY(closer.seen[0].text.startsWith("Загрузить в устройство?\n\nФайл: no.bin\nРазмер: 300 байт"));
    }
    // The choice is remembered even when declined.
    QCOMPARE(window->iniValue(MainWindow::IniFirmwarePath), path);
    QCOMPARE(window->iniValue(MainWindow::IniFirmwareDir), dir.path());

    // Yes, but the device is not a bootloader: nothing happens.
    command.DeviceType = 1;
    {
        ModalCloser closer;
        window->on_pushButtonBootloader_clicked();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString(FirmwareTitle));
    }
    // And a cancelled file dialog asks nothing.
    chooseFile(&FileChoice::openHook, QString(), &openCall);
    window->setIniValue(MainWindow::IniFirmwarePath, "kept");
    {
        ModalCloser closer;
        window->on_pushButtonBootloader_clicked();
        QVERIFY(closer.seen.isEmpty());
    }
    QCOMPARE(window->iniValue(MainWindow::IniFirmwarePath), QString("kept"));
    QTest::qWait(150);
    QVERIFY(sim.rxFrames().isEmpty());
}

void TestFilesGui::firmwareFailureMessages()
{
    QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
    const QString empty = dir.filePath("empty.bin");
    QVERIFY(writeFile(empty, QByteArray()));
    const struct {
        QString path;
        QString text;
    } cases[] = {
        {empty, "Файл прошивки пустой"},
        {dir.filePath("absent.bin"), OpenError},
        {dir.path(), OpenError},   // a directory cannot be read as an image
    };
    for (const auto &c : cases) {
        chooseFile(&FileChoice::openHook, c.path, &openCall);
        ModalCloser closer;
        window->on_pushButtonBootloader_clicked();
        QCOMPARE(closer.seen.size(), 2);
        QCOMPARE(closer.seen[1].title, QString(ErrorTitle));
        QCOMPARE(closer.seen[1].text, c.text);
    }
    QTest::qWait(150);
    QVERIFY(sim.rxFrames().isEmpty());

    // Addressed instead of broadcast, the commands can be refused: first the
    // start command, then (after the start and the one block) the restart.
    command.SlaveAddress = 1;
    const QString one = dir.filePath("one.bin");
    QVERIFY(writeFile(one, applicationImage(10)));
    chooseFile(&FileChoice::openHook, one, &openCall);
    for (const char *fault : {"fault exception 2 -1", "fault exception 2 -1 2"}) {
        sim.send("fault clear");
        sim.send(fault);
        sim.clearLog();
        ModalCloser closer;
        window->on_pushButtonBootloader_clicked();
        QCOMPARE(closer.seen.size(), 2);
        QCOMPARE(closer.seen[1].title, QString(ErrorTitle));
        QCOMPARE(closer.seen[1].text, QString(ExchangeError));
    }
    QCOMPARE(blockFrames(sim.rxFrames()).size(), 1);
}

void TestFilesGui::firmwareDeviceStopsAnswering()
{
    QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
    const QByteArray image = applicationImage(800);
    const QString path = dir.filePath("dead.bin");
    QVERIFY(writeFile(path, image));
    chooseFile(&FileChoice::openHook, path, &openCall);
    // Two blocks are answered, then the bootloader goes silent.
    sim.send("fault noreply -1 2");
    ModalCloser closer;
    window->on_pushButtonBootloader_clicked();
    // The progress window answers while a block waits for its reply: the
    // closer may meet it there too.  The boxes are what counts.
    closer.seen.erase(std::remove_if(closer.seen.begin(), closer.seen.end(),
                                     [](const SeenBox &b) { return b.className == QLatin1String("QProgressDialog"); }),
                      closer.seen.end());
    QCOMPARE(closer.seen.size(), 2);
    QCOMPARE(closer.seen[1].title, QString(ErrorTitle));
    QCOMPARE(closer.seen[1].text, QString(ExchangeError));
    QCOMPARE(sim.commands(), QList<quint16>{0x5555});   // no restart

    // The third block was tried again and again; nothing after it was sent.
    QMap<quint32, int> tries;
    for (const BlockFrame &b : blockFrames(sim.rxFrames()))
        ++tries[b.address];
    QCOMPARE(tries.keys(), (QList<quint32>{0x08001C00, 0x08001CC8, 0x08001D90}));
    QCOMPARE(tries[0x08001C00], 1);
    QCOMPARE(tries[0x08001CC8], 1);
    QVERIFY(tries[0x08001D90] > 1);
    sim.send("dump");
    QVERIFY(readFile(dir.filePath("flash.bin")).startsWith(image.left(400)));
    QVERIFY(!window->findChild<QProgressDialog *>());
}

void TestFilesGui::firmwareCancel()
{
    QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
    const QString path = dir.filePath("cancel.bin");
    QVERIFY(writeFile(path, applicationImage(1000)));
    chooseFile(&FileChoice::openHook, path, &openCall);
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [&] {
        if (auto *d = window->findChild<QProgressDialog *>())
            d->cancel();
    });
    canceller.start(5);
    ModalCloser closer;
    window->on_pushButtonBootloader_clicked();
    canceller.stop();
    QCOMPARE(closer.seen.size(), 1);   // the question only: a cancel is quiet
    QCOMPARE(sim.commands(), QList<quint16>{0x5555});
    QVERIFY(blockFrames(sim.rxFrames()).size() < 5);
}

QTEST_MAIN(TestFilesGui)
#include "test_filesgui.moc"
