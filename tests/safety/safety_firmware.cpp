// Firmware images the detector's flash cannot hold: the program's firmware
// button and tlctl flash refuse them before anything reaches the device (not
// even the 0x5555 that would switch it to its bootloader and erase it), while
// an image of exactly the application flash's size is still sent.  An image
// that does not look like an application (here: text) goes only after a
// second consent, and then exactly as the journal records it.
#include "safetysuite.h"

#include "programlink.h"
#include "filechoice_gui.h"
#include "filetestutil.h"
#include "firmware.h"
#include "journal.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "shelltest.h"
#include "simprocess.h"
#include "tlctlrun.h"
#include "windowsim.h"

#include <QCryptographicHash>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <csignal>

namespace {

const char TooLargeText[] = "Файл прошивки слишком большой: %1 байт, допустимо не более %2 байт";

// Everything the simulator's line delivered (frames, including those for
// other addresses or with bad CRC, and raw bytes).
QStringList received(SimProcess &sim)
{
    QStringList out;
    for (const QString &l : sim.log())
        if (l.startsWith(QLatin1String("RX")) || l.startsWith(QLatin1String("RAW")))
            out << l;
    return out;
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The journal holds a firmware record with exactly this value.
bool journalled(const QString &value, const QString &source)
{
    Journal::Database db;
    QVector<Journal::Record> records;
    if (!db.open().ok() || !db.query({}, &records).ok())
        return false;
    for (const Journal::Record &r : records)
        if (r.kind == QLatin1String("firmware") && r.source == source && r.value == value)
            return true;
    return false;
}

} // namespace

class FirmwareSafety : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    SimProcess sim;
    MainWindow *window = nullptr;

    QString image(const QString &name, qint64 size)
    {
        const QString path = dir.filePath(name);
        if (size <= 1 << 20)
            return writeFile(path, patternImage(int(size), int(size % 97))) ? path : QString();
        QFile f(path);   // a big file costs no disk: it is sparse
        return f.open(QIODevice::WriteOnly) && f.resize(size) ? path : QString();
    }

    // The main window on a simulated bootloader, as page set-up leaves it.
    bool connectBootloader() { return WindowSim::showBootloader(*window, sim); }

    void choose(const QString &path)
    {
        FileChoice::openHook = [path](QWidget *, const QString &, const QString &, const QString &) { return path; };
    }

private slots:
    void initTestCase() { ShellTest::prepare(dir); }

    void init()
    {
        command.resetState();
        window = new MainWindow;
        theMainWindow = window;
    }

    void cleanup()
    {
        FileChoice::openHook = nullptr;
        delete window;
        window = nullptr;
        theMainWindow = nullptr;
        command.resetState();
        sim.stop();
    }

    // One byte over the limit, and a 100 MB file: the firmware button names
    // the size and the limit, and the bootloader gets nothing at all.
    void buttonRefusesOversizeImage()
    {
        QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
        const qint64 sizes[] = {Firmware::MaxImageBytes + 1, 100LL * 1024 * 1024};
        for (const qint64 size : sizes) {
            const QString path = image(QStringLiteral("big%1.bin").arg(size), size);
            QVERIFY(!path.isEmpty());
            choose(path);
            ModalCloser closer;
            window->on_pushButtonBootloader_clicked();
            QCOMPARE(closer.seen.size(), 2);
            QCOMPARE(closer.seen[1].title, QStringLiteral("Ошибка"));
            QCOMPARE(closer.seen[1].text, QString::fromUtf8(TooLargeText).arg(size).arg(254976));
            QVERIFY(!window->findChild<QProgressDialog *>());
        }
        // In English too.
        QTranslator english;
        QVERIFY(english.load(QStringLiteral(TL_RUNTIME_DIR "/TL_Program_en_US.qm")));
        QCoreApplication::installTranslator(&english);
        {
            ModalCloser closer;
            window->on_pushButtonBootloader_clicked();
            QCoreApplication::removeTranslator(&english);
            QCOMPARE(closer.seen.size(), 2);
            QCOMPARE(closer.seen[1].text, QStringLiteral("The firmware file is too large: 104857600 bytes, at most "
                                                         "254976 bytes are allowed"));
        }
        // Give a stray frame time to arrive before asserting there was none.
        QTest::qWait(300);
        QVERIFY2(received(sim).isEmpty(), qPrintable(received(sim).join(QLatin1Char('\n'))));
        QVERIFY(sim.commands().isEmpty());
    }

    // tlctl flash --yes: refused with exit 6 before the port is touched, for
    // a detector (which would be switched to its bootloader) and for a
    // bootloader.
    void tlctlRefusesOversizeImage_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<qint64>("size");
        QTest::newRow("detector, one byte over") << QStringList() << qint64(Firmware::MaxImageBytes + 1);
        QTest::newRow("bootloader, 100 MB") << QStringList{QStringLiteral("--bootloader")} << qint64(100LL << 20);
    }

    void tlctlRefusesOversizeImage()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(qint64, size);
        QVERIFY(sim.start(simArgs));
        sim.clearLog();
        const QString path = image(QStringLiteral("tlctl-big.bin"), size);
        const TlctlRun r = runTlctl({QStringLiteral("--port"), sim.portPath(), QStringLiteral("flash"), path,
                                     QStringLiteral("--yes"), QStringLiteral("--user"), QStringLiteral("User")},
                                    password(QStringLiteral("7529")));
        QCOMPARE(r.code, 6);
        QVERIFY2(r.oneErrorLine() && r.err.contains(QStringLiteral("%1 bytes").arg(size))
                     && r.err.contains(QStringLiteral("254976")) && r.err.contains(QStringLiteral("nothing was sent")),
                 qPrintable(r.err));
        QTest::qWait(300);
        QVERIFY2(received(sim).isEmpty(), qPrintable(received(sim).join(QLatin1Char('\n'))));
        QVERIFY(sim.commands().isEmpty());
    }

    // An image of exactly the limit goes: the start command, then the first
    // block at the load address.  Stopped with Ctrl-C after that, as the
    // whole 1275 blocks take a minute even without wire pacing.
    void tlctlSendsImageOfExactlyTheLimit()
    {
        QVERIFY(sim.start({QStringLiteral("--bootloader")}));
        sim.clearLog();
        const QString path = dir.filePath(QStringLiteral("tlctl-exact.bin"));
        QVERIFY(writeFile(path, applicationImage(int(Firmware::MaxImageBytes))));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TLCTL_PASSWORD"), QStringLiteral("7529"));
        p.setProcessEnvironment(e);
        p.start(tlctlPath(), {QStringLiteral("--port"), sim.portPath(), QStringLiteral("flash"), path,
                              QStringLiteral("--yes"), QStringLiteral("--user"), QStringLiteral("User")});
        QVERIFY(p.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        while (blockFrames(sim.rxFrames()).isEmpty() && p.state() == QProcess::Running && clock.elapsed() < 60000)
            QTest::qWait(20);
        QVERIFY2(!blockFrames(sim.rxFrames()).isEmpty(), p.readAllStandardError().constData());
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(p.exitCode(), 130);
        QVERIFY2(out.contains(QStringLiteral("254976 bytes in 1275 blocks")), qPrintable(out));
        QCOMPARE(sim.commands(), QList<quint16>{0x5555});
        const QList<BlockFrame> blocks = blockFrames(sim.rxFrames());
        QVERIFY(blocks.size() < 1275);
        QCOMPARE(blocks[0].address, Firmware::LoadAddress);
        QCOMPARE(blocks[0].data, readFile(path).left(200));
    }

    // Text as firmware through the button: the second question names both
    // words and defaults to "Нет", which sends nothing; "Да" to both sends
    // the text as it is and journals its size and SHA-256.
    void buttonAsksTwiceForTextImage()
    {
        QVERIFY2(connectBootloader(), qPrintable(sim.errorText()));
        const QByteArray text = textImage();
        const QString path = dir.filePath(QStringLiteral("readme.bin"));
        QVERIFY(writeFile(path, text));
        choose(path);
        QString defaultButton;
        {
            ModalCloser closer;
            closer.pushHandler([](QWidget *) { return false; });   // the first question: its default, Yes
            closer.pushHandler([&](QWidget *w) {
                if (auto *box = qobject_cast<QMessageBox *>(w))
                    defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
                return false;   // then its default
            });
            window->on_pushButtonBootloader_clicked();
            QCOMPARE(closer.seen.size(), 2);
            QVERIFY2(closer.seen[0].text.contains(QStringLiteral("Размер: 1000 байт\nSHA-256: ") + sha256Hex(text)),
                     qPrintable(closer.seen[0].text));
            QCOMPARE(closer.seen[1].title, QStringLiteral("Обновление версии ПО"));
            for (const char *says : {"Файл readme.bin не похож на прошивку прибора TL-02",
                                     "слово 0 (начальный указатель стека) равно 0x4C542023",
                                     "слово 1 (адрес сброса) равно 0x6E6F4320: вне 256 КБ флеш-памяти"})
                QVERIFY2(closer.seen[1].text.contains(QString::fromUtf8(says)), qPrintable(closer.seen[1].text));
        }
        QCOMPARE(defaultButton, QStringLiteral("Нет"));
        QTest::qWait(300);
        QVERIFY2(received(sim).isEmpty(), qPrintable(received(sim).join(QLatin1Char('\n'))));

        ModalCloser closer;
        closer.answerNext(QMessageBox::Yes);
        closer.answerNext(QMessageBox::Yes);
        window->on_pushButtonBootloader_clicked();
        QCOMPARE(closer.seen.size(), 3);
        QCOMPARE(closer.seen[2].text, QStringLiteral("Контроллер успешно прошит"));
        QCOMPARE(sim.commands(), (QList<quint16>{0x5555, 0x6060}));
        QByteArray sent;
        for (const BlockFrame &b : blockFrames(sim.rxFrames()))
            sent += b.data;
        QCOMPARE(sent, text);
        QVERIFY(journalled(Journal::firmwareValue(path, 1000, sha256Hex(text)), QStringLiteral("program")));
    }

    // tlctl flash of text: --yes alone sends nothing, not even the switch of
    // the detector to its bootloader, and says which words are wrong;
    // --any-image as well sends it.
    void tlctlSendsTextImageOnlyWithAnyImage()
    {
        QVERIFY(sim.start());
        sim.clearLog();
        const QByteArray text = textImage();
        const QString path = dir.filePath(QStringLiteral("readme-tlctl.bin"));
        QVERIFY(writeFile(path, text));
        const QStringList words{QStringLiteral("--port"), sim.portPath(), QStringLiteral("flash"), path,
                                QStringLiteral("--yes"), QStringLiteral("--user"), QStringLiteral("User")};
        const TlctlRun refused = runTlctl(words, password(QStringLiteral("7529")));
        QCOMPARE(refused.code, 6);
        QVERIFY2(refused.oneErrorLine() && refused.err.contains(QStringLiteral("does not look like an application"))
                     && refused.err.contains(QStringLiteral("word 0, the initial stack pointer, is 0x4C542023"))
                     && refused.err.contains(QStringLiteral("add --any-image")),
                 qPrintable(refused.err));
        QVERIFY2(refused.out.contains(QStringLiteral("SHA-256 ") + sha256Hex(text)), qPrintable(refused.out));
        QTest::qWait(300);
        QVERIFY2(received(sim).isEmpty(), qPrintable(received(sim).join(QLatin1Char('\n'))));

        const TlctlRun sent = runTlctl(words + QStringList{QStringLiteral("--any-image")},
                                       password(QStringLiteral("7529")));
        QVERIFY2(sent.code == 0, qPrintable(sent.err + sent.out));
        QCOMPARE(sim.commands().last(), quint16(0x6060));
        QByteArray data;
        for (const BlockFrame &b : blockFrames(sim.rxFrames()))
            data += b.data;
        QCOMPARE(data, text);
    }
};

SAFETY_GROUP("firmware", FirmwareSafety)
#include "safety_firmware.moc"
