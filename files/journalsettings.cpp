#include "journalsettings.h"
#include "ui_journalsettings.h"

#include "journalsender.h"
#include "journallocation.h"
#include "journalsync.h"

#include <QDir>
#include <QEvent>
#include <QPushButton>

JournalSettings::JournalSettings(const QString &setting, QWidget *parent)
    : QDialog(parent), ui(new Ui::JournalSettings)
{
    ui->setupUi(this);
    ui->lineEdit_Location->setText(setting.trimmed());
    ui->label_Problem->hide();
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &JournalSettings::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &JournalSettings::reject);
    connect(ui->lineEdit_Location, &QLineEdit::textChanged, this, [this] {
        ui->label_Problem->hide();
        showFile();
    });
    showFile();
}

JournalSettings::~JournalSettings()
{
    delete ui;
}

QString JournalSettings::location() const
{
    return ui->lineEdit_Location->text().trimmed();
}

QString JournalSettings::problem() const
{
    return ui->label_Problem->isHidden() ? QString() : ui->label_Problem->text();
}

void JournalSettings::showFile()
{
    const QString text = location();
    const Journal::SettingCheck check = Journal::checkSetting(text);
    const QString file = QDir::toNativeSeparators(Journal::localPath(Journal::settingLocation(text)));
    if (!check.accepted())
        ui->label_File->clear();
    else if (text.isEmpty())
        ui->label_File->setText(tr("Журнал ведётся в файле этого компьютера:\n%1").arg(file));
    else if (Journal::parseLocation(text).isServer())
        ui->label_File->setText(tr("Журнал команды на сервере. Записи ждут отправки в файле этого компьютера:\n%1")
                                    .arg(file));
    else
        ui->label_File->setText(tr("Журнал ведётся в файле:\n%1").arg(file));
}

void JournalSettings::accept()
{
    const Journal::SettingCheck check = Journal::checkSetting(location());
    QString why;
    switch (check.verdict) {
    case Journal::SettingCheck::Verdict::Accepted:
        QDialog::accept();
        return;
    case Journal::SettingCheck::Verdict::Password:
        why = tr("В адресе указан пароль. Пароль здесь не указывается: запишите его в файл ~/.pgpass, в файл, "
                 "указанный в PGPASSFILE, или в файл служб.");
        break;
    case Journal::SettingCheck::Verdict::Relative:
        why = tr("Файл журнала указывается полным путём: %1").arg(check.detail);
        break;
    case Journal::SettingCheck::Verdict::Invalid:
        why = tr("Расположение журнала не распознано: %1").arg(check.detail);
        break;
    }
    ui->label_Problem->setText(why);
    ui->label_Problem->show();
    ui->lineEdit_Location->setFocus();
}

void JournalSettings::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showFile();
    }
    QDialog::changeEvent(event);
}
