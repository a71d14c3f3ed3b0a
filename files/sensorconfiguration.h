// The gas configuration library: a dialog that searches the spreadsheet
// setting.xlsx (beside the program, or the user's copy) by gas name, applies a found entry's
// thresholds to the detector, and appends new entries composed on its second
// tab.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QModelIndex;
class QStringListModel;

namespace Ui { class SensorConfiguration; }

// The entry being composed on the "add" tab.  One for the whole run: the
// name typed stays from one opening of the dialog to the next; the words are
// copied from the device's parameters each time the dialog opens.
struct GasRecord {
    QString name;
    quint16 config = 0;       // unit word: bits 0-1 unit, bits 4-5 discreteness
    quint16 limit1 = 0;       // bits 0-14 threshold x scale, bit 15 decreasing
    quint16 limit2 = 0;
    quint16 hysteresis = 0;
    quint16 deadZone = 0;
    quint16 deadZone2 = 0;
};
extern GasRecord gasRecord;

class SensorConfiguration : public QDialog
{
    Q_OBJECT
public:
    explicit SensorConfiguration(QWidget *parent = nullptr);
    ~SensorConfiguration() override;

    // The library file; UserFiles::gasLibraryPath() unless set
    // (tests point it elsewhere; an empty path restores the default).
    static QString libraryPath();
    static void setLibraryPath(const QString &path);

    // Fills `list` with the display lines of the rows whose name contains
    // `text` (ignoring case).  False when the library could not be opened.
    bool searchGasLibrary(const QString &text, QStringList &list);
    // Appends gasRecord as a new row and saves the library.  False when the
    // library could not be opened (a failed save is reported, not returned).
    bool appendGasRecord();
    // Shows gasRecord on the "add" tab.
    void refreshAddTab();

    // A display line: the three texts inserted at 0, 15 and 25
    // (GasLibrary::composeLine).
    static QString composeLine(const QString &first, const QString &second, const QString &third);

private slots:
    void on_listView_Config_clicked(const QModelIndex &index);
    void on_pushButton_SearchGas_clicked();
    void on_pushButton_Save_Param_clicked();
    void on_tabWidget_currentChanged(int index);
    void on_checkBoxLim1IncDec_stateChanged(int state);
    void on_checkBoxLim2IncDec_stateChanged(int state);
    void on_comboBoxDiscreteness_activated(int index);
    void on_comboBoxUnitMeas_activated(int index);
    void on_doubleSpinBox_Limit1_valueChanged(double value);
    void on_doubleSpinBox_Limit2_valueChanged(double value);
    void on_doubleSpinBox_HisterezisLimit_valueChanged(double value);
    void on_doubleSpinBox_DeadZone_valueChanged(double value);
    void on_doubleSpinBox_DeadZone_2_valueChanged(double value);
    void on_pushButton_clicked();
    void on_lineEdit_NameGasAdd_textEdited(const QString &text);

private:
    void showOpenError();

    Ui::SensorConfiguration *ui;
    QStringListModel *model = nullptr;
};
