#include "trafficmonitor.h"
#include "programlink.h"
#include "ui_trafficmonitor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QScrollBar>

#ifdef __GLIBC__
#include <malloc.h>
#endif

std::function<QString(QWidget *, const QString &, const QString &)> TrafficMonitor::saveChooser;

TrafficMonitor::TrafficMonitor(QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TrafficMonitor), rec(new TrafficRecorder(command))
{
    setAttribute(Qt::WA_DeleteOnClose);
    ui->setupUi(this);
    tableModel = new TrafficModel(rec.get(), this);
    ui->tableView->setModel(tableModel);
    statsTable = new TrafficStatsModel(rec.get(), this);
    ui->tableView_Stats->setModel(statsTable);

    fillFunctions();
    connect(ui->comboBox_Function, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &TrafficMonitor::applyFilter);
    connect(ui->spinBox_Address, QOverload<int>::of(&QSpinBox::valueChanged), this, &TrafficMonitor::applyFilter);
    connect(ui->checkBox_Failures, &QCheckBox::toggled, this, &TrafficMonitor::applyFilter);

    // One line per frame, fixed heights: the view stays quick with a full ring.
    QTableView *view = ui->tableView;
    const int rowHeight = fontMetrics().height() + 6;
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(rowHeight);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view->horizontalHeader()->setStretchLastSection(true);
    connect(view->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (!fittingColumns && section == TrafficModel::ColContent)
            contentsSized = true;
    });

    // The statistics: a strip of a few lines above the frames, scrolled when
    // more addresses share the line.
    QTableView *stats = ui->tableView_Stats;
    stats->verticalHeader()->hide();
    stats->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    stats->verticalHeader()->setDefaultSectionSize(rowHeight);
    stats->horizontalHeader()->setStretchLastSection(true);
    stats->setFixedHeight(stats->horizontalHeader()->sizeHint().height() + 3 * rowHeight + 2 * stats->frameWidth());
    fitColumns();

    // New rows keep the view at the end, unless the user has scrolled up
    // (then the rows the user looks at stay in sight).  The scroll bar's
    // range also changes when the window is restored or resized and after
    // a filter: the view goes to the new end if it kept to the end before.
    QScrollBar *bar = view->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!modelChanging)
            followEnd = value >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (followEnd)
            bar->setValue(maximum);
    });
    auto changing = [this] { modelChanging = true; };
    connect(tableModel, &QAbstractItemModel::rowsAboutToBeInserted, this, changing);
    connect(tableModel, &QAbstractItemModel::rowsAboutToBeRemoved, this, changing);
    connect(tableModel, &QAbstractItemModel::modelAboutToBeReset, this, changing);
    connect(tableModel, &QAbstractItemModel::rowsInserted, this, [this] {
        modelChanging = false;
        followTable();
        updateCount();
    });
    connect(tableModel, &QAbstractItemModel::rowsRemoved, this, [this, bar](const QModelIndex &, int first, int last) {
        // Rows gone from the top: the rows the user reads move up with them.
        if (!followEnd && first < bar->value())
            bar->setValue(bar->value() - (qMin(last + 1, bar->value()) - first));
        modelChanging = false;
        updateCount();
    });
    connect(tableModel, &QAbstractItemModel::modelReset, this, [this] {
        modelChanging = false;
        followTable();
        updateCount();
    });
    connect(rec.get(), &TrafficRecorder::appended, this, &TrafficMonitor::updateCount);
    updateCount();
}

TrafficMonitor::~TrafficMonitor()
{
    rec->remove();
    // The record and the rows go now rather than with the children, and the
    // heap's freed pages go back to the system: a full ring leaves no trace
    // in the program once the monitor is closed.
    ui->tableView->setModel(nullptr);
    ui->tableView_Stats->setModel(nullptr);
    delete tableModel;
    delete statsTable;
    rec.reset();
    delete ui;
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void TrafficMonitor::showEvent(QShowEvent *event)
{
    rec->install();
    QWidget::showEvent(event);
}

void TrafficMonitor::closeEvent(QCloseEvent *event)
{
    rec->remove();
    QWidget::closeEvent(event);
}

void TrafficMonitor::followTable()
{
    if (followEnd)
        ui->tableView->scrollToBottom();
}

void TrafficMonitor::fitColumns()
{
    QHeaderView *h = ui->tableView->horizontalHeader();
    const QFontMetrics fm = ui->tableView->fontMetrics();
    const int pad = fm.horizontalAdvance(QLatin1Char('0')) + 6;
    const QStringList headers = tableModel->headers();
    const QScopedValueRollback<bool> mine(fittingColumns, true);
    auto fit = [&](int column, const QStringList &texts) {
        int w = fm.horizontalAdvance(headers.value(column));
        for (const QString &t : texts)
            w = qMax(w, fm.horizontalAdvance(t));
        h->resizeSection(column, w + pad);
    };
    fit(TrafficModel::ColTime, {QStringLiteral("00:00:00.000")});
    fit(TrafficModel::ColDirection, TrafficModel::directionTexts());
    fit(TrafficModel::ColAddress, {TrafficModel::tr("%1 (всем)").arg(0)});
    QStringList functions;
    for (int fn : {3, 4, 6, 14, 16, 20, 21, 43})
        functions << TrafficModel::functionText(fn);
    fit(TrafficModel::ColFunction, functions);
    // The common results and an exception's number fit; a longer text (the
    // exception's meaning, a line fault) is cut, with the whole text in the
    // cell's tooltip, so that the contents and the bytes keep the room.
    fit(TrafficModel::ColResult, {TrafficModel::tr("нет ответа"), TrafficModel::tr("ок"),
                                  TrafficModel::tr("исключение %1").arg(11) + QLatin1Char(':')});
    fitContents();
    fitStats();
}

void TrafficMonitor::fitContents()
{
    if (contentsSized)
        return;   // the user's width stays
    // The contents take what the window leaves once the bytes have room for
    // a request (8 bytes): both stay in sight without scrolling sideways.
    // Their own tooltip shows a long decoding whole.
    QHeaderView *h = ui->tableView->horizontalHeader();
    const QFontMetrics fm = ui->tableView->fontMetrics();
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    int fixed = 0;
    for (int c = 0; c < TrafficModel::ColContent; ++c)
        fixed += h->sectionSize(c);
    const int bytesRoom = fm.horizontalAdvance(QStringLiteral("01 03 10 00 00 30 40 DE")) + 2 * digit;
    const int viewport = width() - layout()->contentsMargins().left() - layout()->contentsMargins().right()
        - 2 * ui->tableView->frameWidth() - ui->tableView->verticalScrollBar()->sizeHint().width();
    const QScopedValueRollback<bool> mine(fittingColumns, true);
    h->resizeSection(TrafficModel::ColContent, qBound(digit * 12, viewport - fixed - bytesRoom, digit * 90));
}

void TrafficMonitor::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitContents();
}

void TrafficMonitor::fitStats()
{
    QHeaderView *h = ui->tableView_Stats->horizontalHeader();
    const QFontMetrics fm = ui->tableView_Stats->fontMetrics();
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    const QStringList headers = statsTable->headers();
    for (int c = 0; c + 1 < headers.size(); ++c)
        h->resizeSection(c, qMax(fm.horizontalAdvance(headers[c]), digit * 7) + 2 * digit);
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
        tableModel->retranslate();
        statsTable->retranslate();
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
    f.failuresOnly = ui->checkBox_Failures->isChecked();
    tableModel->setFilter(f);
}

void TrafficMonitor::updateCount()
{
    QString text = tr("Кадров в журнале: %1 из %2, в таблице: %3")
                       .arg(rec->ring().size())
                       .arg(rec->ring().capacity())
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
    rec->clear();
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
    QString path = saveChooser ? saveChooser(this, caption, filter)
                               : QFileDialog::getSaveFileName(this, caption, QString(), filter);
    if (path.isEmpty())
        return;
    // A name typed without a suffix gets the one of the kind of file.
    if (QFileInfo(path).suffix().isEmpty())
        path += csv ? QStringLiteral(".csv") : QStringLiteral(".txt");
    // What the table shows (the filter applies), as the table shows it, but
    // for the times, which carry the date.
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
