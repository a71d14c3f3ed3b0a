#include "reference.h"
#include "ui_reference.h"

#include "options.h"

#include <QFormLayout>

#ifndef TL_BUILD_DATE
#define TL_BUILD_DATE __DATE__
#endif

Reference::Reference(QWidget *parent)
    : QDialog(parent), ui(new Ui::Reference)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(tr("Справка"));
    ui->label_program_version->setText(ProgramVersion);
    ui->label_program_name->setText(ProgramName);
    ui->label_program_update_date->setText(buildDate());
    fitToTexts();
}

void Reference::fitToTexts()
{
    // The window is made for narrow Windows fonts; where the texts need more
    // room it grows to the right instead of cutting them off.
    const int extra = ui->formLayout->minimumSize().width() - ui->layoutWidget->width();
    if (extra <= 0)
        return;
    ui->layoutWidget->resize(ui->layoutWidget->width() + extra, ui->layoutWidget->height());
    ui->pushButton->move(ui->pushButton->x() + extra, ui->pushButton->y());
    setFixedSize(width() + extra, height());
}

Reference::~Reference()
{
    delete ui;
}

QString Reference::buildDate()
{
    return QString::fromLatin1(TL_BUILD_DATE);
}
