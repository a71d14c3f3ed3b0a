// About window: program version, name and build date.
#pragma once

#include <QDialog>

namespace Ui { class Reference; }

class Reference : public QDialog
{
    Q_OBJECT
public:
    explicit Reference(QWidget *parent = nullptr);
    ~Reference() override;

    // Build date as the compiler writes it ("Apr 14 2026").
    static QString buildDate();

private:
    void fitToTexts();

    Ui::Reference *ui;
};
