#include "trafficmonitor.h"
#include "programlink.h"
#include "ui_trafficmonitor.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>

std::function<QString(QWidget *, const QString &, const QString &)> TrafficMonitor::saveChooser;

TrafficMonitor::TrafficMonitor(QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TrafficMonitor), rec(command)
{
    setAttribute(Qt::WA_DeleteOnClose);
    ui->setupUi(this);
    tableModel = new TrafficModel(&rec, this);
    ui->tableView->setModel(tableModel);

    fillFunctions();
    connect(ui->comboBox_Function, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &TrafficMonitor::applyFilter);
    connect(ui->spinBox_Address, QOverload<int>::of(&QSpinBox::valueChanged), this, &TrafficMonitor::applyFilter);

    // One line per frame, fixed heights: the view stays quick with a full ring.
    QTableView *view = ui->tableView;
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView *h = view->horizontalHeader();
    h->setStretchLastSection(true);
    fitColumns();

    // New rows keep the view at the end, unless the user has scrolled up.
    connect(tableModel, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar *bar = ui->tableView->verticalScrollBar();
        followEnd = bar->value() >= bar->maximum();
    });
    connect(tableModel, &QAbstractItemModel::rowsInserted, this, [this] {
        if (followEnd)
            ui->tableView->scrollToBottom();
        updateCount();
    });
    connect(tableModel, &QAbstractItemModel::rowsRemoved, this, &TrafficMonitor::updateCount);
    connect(tableModel, &QAbstractItemModel::modelReset, this, &TrafficMonitor::updateCount);
    connect(&rec, &TrafficRecorder::appended, this, &TrafficMonitor::updateCount);
    updateCount();
}

TrafficMonitor::~TrafficMonitor()
{
    rec.remove();
    delete ui;
}

void TrafficMonitor::showEvent(QShowEvent *event)
{
    rec.install();
    QWidget::showEvent(event);
}

void TrafficMonitor::closeEvent(QCloseEvent *event)
{
    rec.remove();
    QWidget::closeEvent(event);
}

void TrafficMonitor::fitColumns()
{
    QHeaderView *h = ui->tableView->horizontalHeader();
    const QFontMetrics fm = ui->tableView->fontMetrics();
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    const QStringList headers = tableModel->headers();
    auto fit = [&](int column, const QStringList &texts) {
        int w = fm.horizontalAdvance(headers.value(column));
        for (const QString &t : texts)
            w = qMax(w, fm.horizontalAdvance(t));
        h->resizeSection(column, w + 2 * digit);
    };
    fit(TrafficModel::ColTime, {QStringLiteral("00:00:00.000")});
    fit(TrafficModel::ColDirection, {TrafficModel::tr("запрос"), TrafficModel::tr("ответ")});
    fit(TrafficModel::ColAddress, {QStringLiteral("255")});
    QStringList functions;
    for (int fn : {3, 4, 6, 14, 16, 20, 21, 43})
        functions << TrafficModel::functionText(fn);
    fit(TrafficModel::ColFunction, functions);
    // The common results fit; a long exception text is cut, with the whole
    // text in the cell's tooltip, so that the contents keep the room.
    fit(TrafficModel::ColResult, {TrafficModel::tr("нет ответа"), QStringLiteral("0123456789012345678")});
    h->resizeSection(TrafficModel::ColContent, digit * 60);
}

void TrafficMonitor::fillFunctions()
{
    QComboBox *box = ui->comboBox_Function;
    const int chosen = box->currentIndex();
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItem(tr("все"), -1);
    for (int fn : {3, 4, 6, 16, 43, 14, 20, 21})
        box->addItem(TrafficModel::functionText(fn), fn);
    box->setCurrentIndex(qMax(0, chosen));
}

void TrafficMonitor::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange && tableModel) {
        ui->retranslateUi(this);
        fillFunctions();
        ui->pushButton_Pause->setText(tableModel->paused() ? tr("Продолжить") : tr("Пауза"));
        emit tableModel->headerDataChanged(Qt::Horizontal, 0, TrafficModel::ColumnCount - 1);
        if (tableModel->rowCount() > 0)
            emit tableModel->dataChanged(tableModel->index(0, 0), tableModel->index(tableModel->rowCount() - 1,
                                                                                     TrafficModel::ColumnCount - 1));
        fitColumns();
        updateCount();
    }
    QWidget::changeEvent(event);
}

void TrafficMonitor::applyFilter()
{
    TrafficFilter f;
    f.address = ui->spinBox_Address->value();
    f.function = ui->comboBox_Function->currentData().toInt();
    tableModel->setFilter(f);
}

void TrafficMonitor::updateCount()
{
    QString text = tr("Кадров в журнале: %1 из %2, в таблице: %3")
                       .arg(rec.ring().size())
                       .arg(rec.ring().capacity())
                       .arg(tableModel->rowCount());
    if (tableModel->paused())
        text += tr("; пауза: новые кадры записываются, но не показываются");
    ui->label_Count->setText(text);
}

void TrafficMonitor::on_pushButton_Pause_toggled(bool checked)
{
    ui->pushButton_Pause->setText(checked ? tr("Продолжить") : tr("Пауза"));
    tableModel->setPaused(checked);
    updateCount();
}

void TrafficMonitor::on_pushButton_Clear_clicked()
{
    rec.clear();
}

void TrafficMonitor::on_pushButton_SaveText_clicked()
{
    save(false);
}

void TrafficMonitor::on_pushButton_SaveCsv_clicked()
{
    save(true);
}

void TrafficMonitor::save(bool csv)
{
    const QString caption = tr("Сохранить журнал обмена");
    const QString filter = csv ? tr("Файлы CSV (*.csv)") : tr("Текстовые файлы (*.txt)");
    const QString path = saveChooser ? saveChooser(this, caption, filter)
                                     : QFileDialog::getSaveFileName(this, caption, QString(), filter);
    if (path.isEmpty())
        return;
    // What the table shows (the filter applies), as the table shows it.
    const QVector<QStringList> rows = tableModel->shownRows();
    const QString text = csv ? TrafficExport::toCsv(tableModel->headers(), rows)
                             : TrafficExport::toText(tableModel->headers(), rows);
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok && csv)
        ok = file.write("\xEF\xBB\xBF") == 3;   // spreadsheet programs read UTF-8 by this mark
    const QByteArray bytes = text.toUtf8();
    ok = ok && file.write(bytes) == bytes.size() && file.commit();
    if (!ok)
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка записи файла %1").arg(QDir::toNativeSeparators(path)));
}
