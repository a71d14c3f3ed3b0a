// The "Объект" window from the main window: the site's work runs on line
// workers of its own, so the program's link lets go of a line the site
// needs for that time and takes it back afterwards; the status bar names
// the overdue detectors of the site shown.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "journalsender.h"
#include "sitewindow.h"
#include "windowplace.h"

#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>

class MainWindow::SiteLink final : public SiteHost
{
public:
    explicit SiteLink(MainWindow &window) : window(window) {}

    bool releaseLines(const QStringList &ports) override
    {
        released.clear();
        if (!command.isOpen())
            return true;
        const QString own = command.PortName;
        auto same = [&own](const QString &port) {
            return port == own || QFileInfo(port).canonicalFilePath() == QFileInfo(own).canonicalFilePath()
                || QStringLiteral("/dev/") + own == port || QStringLiteral("/dev/") + port == own;
        };
        if (std::none_of(ports.begin(), ports.end(), same))
            return true;
        // The program's own work on that line ends first.
        window.stopAutoUpdate();
        window.endOutputTest();
        command.closePort();
        released = own;
        window.showStatus(QCoreApplication::translate("MainWindow", "Линия %1 передана окну «Объект»").arg(own));
        return true;
    }

    void linesReturned() override
    {
        if (released.isEmpty())
            return;
        const QString port = released;
        released.clear();
        if (DeviceOps::open(command, port))
            window.clearStatus();
        else
            window.showStatus(QCoreApplication::translate("MainWindow", "Линия %1 не открыта снова: %2")
                                  .arg(port, command.errorString()));
    }

    QString accessLevel() const override { return command.UserName; }
    QString currentPort() const override { return command.PortName; }

    void siteShown(const QString &site, int overdue) override
    {
        window.siteName = site;
        window.siteOverdue = overdue;
        window.showSiteStatus();
    }

private:
    MainWindow &window;
    QString released;
};

void MainWindow::on_action_site_triggered()
{
    if (!siteWindow) {
        if (!siteLink)
            siteLink = std::make_unique<SiteLink>(*this);
        siteWindow = new SiteWindow(siteLink.get(), this, journalLocation());
        // The site's records and register changes go to the server soon.
        connect(siteWindow, &SiteWindow::actionEnded, sender.get(), &JournalSender::nudge);
    } else if (!siteWindow->busy()) {
        siteWindow->refresh();
    }
    WindowPlace::fitOnScreen(siteWindow, this);
    siteWindow->show();
    siteWindow->raise();
    siteWindow->activateWindow();
}

void MainWindow::showSiteStatus()
{
    if (!siteStatus) {
        siteStatus = new QLabel(this);
        ui->statusbar->addPermanentWidget(siteStatus);
    }
    if (siteName.isEmpty())
        siteStatus->clear();
    else if (siteOverdue > 0)
        siteStatus->setText(tr("Объект «%1»: просрочена калибровка приборов: %2").arg(siteName).arg(siteOverdue));
    else
        siteStatus->setText(tr("Объект «%1»: просроченных калибровок нет").arg(siteName));
    siteStatus->setVisible(!siteName.isEmpty());
}
