#include "trafficmodel.h"

#include "modbus.h"
#include "paramtable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>

TrafficModel::TrafficModel(TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), rec(recorder), texts(CachedRows)
{
    connect(rec, &TrafficRecorder::appended, this, &TrafficModel::onAppended);
    connect(rec, &TrafficRecorder::updated, this, &TrafficModel::onUpdated);
    connect(rec, &TrafficRecorder::cleared, this, &TrafficModel::onCleared);
    considered = rec->ring().firstSeq() - 1;
    catchUp();
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const TrafficEntry *TrafficModel::entryAt(int row) const
{
    if (row < 0 || row >= int(rows.size()))
        return nullptr;
    return rec->ring().bySeq(rows[size_t(row)]);
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    if (role == Qt::ToolTipRole && index.column() != ColContent && index.column() != ColBytes
        && index.column() != ColResult)
        return QVariant();
    const int row = index.row();
    if (row < 0 || row >= int(rows.size()))
        return QVariant();
    const quint64 seq = rows[size_t(row)];
    if (const QStringList *cached = texts.object(seq))
        return cached->value(index.column());
    const TrafficEntry *e = rec->ring().bySeq(seq);
    if (!e)
        return QVariant();
    auto *made = new QStringList(makeTexts(*e, false));
    const QString text = made->value(index.column());
    texts.insert(seq, made);
    return text;
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return headers().value(section);
}

QStringList TrafficModel::headers() const
{
    return {tr("Время"), tr("Направление"), tr("Адрес"), tr("Функция"), tr("Результат"), tr("Содержимое"),
            tr("Байты")};
}

QString TrafficModel::functionText(int function)
{
    QString name;
    switch (function & 0x7F) {
    case Modbus::FnReadHolding: name = tr("чтение регистров хранения"); break;
    case Modbus::FnReadInput: name = tr("чтение входных регистров"); break;
    case Modbus::FnWriteSingle: name = tr("запись регистра"); break;
    case Modbus::FnWriteMemory: name = tr("запись блока памяти"); break;
    case Modbus::FnWriteMultiple: name = tr("запись регистров"); break;
    case Modbus::FnWriteFileRecord: name = tr("запись файловой записи"); break;
    case Modbus::FnReadFileRecord: name = tr("чтение файловой записи"); break;
    case Modbus::FnReadDeviceId: name = tr("идентификация устройства"); break;
    default: return tr("функция %1").arg(function & 0x7F);
    }
    return QStringLiteral("%1 %2").arg(function & 0x7F).arg(name);
}

QString TrafficModel::exceptionText(int code)
{
    QString meaning;
    switch (code) {
    case 1: meaning = TrafficModel::tr("недопустимая функция"); break;
    case 2: meaning = TrafficModel::tr("недопустимый адрес данных"); break;
    case 3: meaning = TrafficModel::tr("недопустимое значение данных"); break;
    case 4: meaning = TrafficModel::tr("отказ устройства"); break;
    case 5: meaning = TrafficModel::tr("запрос принят, выполняется"); break;
    case 6: meaning = TrafficModel::tr("устройство занято"); break;
    case 8: meaning = TrafficModel::tr("ошибка четности памяти"); break;
    case 10: meaning = TrafficModel::tr("путь шлюза недоступен"); break;
    case 11: meaning = TrafficModel::tr("устройство за шлюзом не отвечает"); break;
    default: return TrafficModel::tr("исключение %1").arg(code);
    }
    return TrafficModel::tr("исключение %1: %2").arg(code).arg(meaning);
}

namespace {

QString commandText(int code)
{
    QString meaning;
    switch (code) {
    case Params::CmdRestart: meaning = TrafficModel::tr("перезапуск"); break;
    case Params::CmdStoreFactory: meaning = TrafficModel::tr("сохранить заводские настройки"); break;
    case Params::CmdRestoreFactory: meaning = TrafficModel::tr("восстановить заводские настройки"); break;
    case Params::CmdSoundOffOn: meaning = TrafficModel::tr("ручное выкл. звука: вкл."); break;
    case Params::CmdSoundOffOff: meaning = TrafficModel::tr("ручное выкл. звука: выкл."); break;
    case Params::CmdBootloader: meaning = TrafficModel::tr("переход в загрузчик"); break;
    default: return TrafficModel::tr("команда %1").arg(Params::hex4(quint16(code)));
    }
    return TrafficModel::tr("команда %1: %2").arg(Params::hex4(quint16(code)), meaning);
}

QString registerRange(const FrameDecode::Frame &f)
{
    if (f.start < 0)
        return TrafficModel::tr("%1 рег.").arg(qMax(0, f.count));
    if (f.count <= 1)
        return TrafficModel::tr("регистр %1").arg(Params::hex4(quint16(f.start)));
    return TrafficModel::tr("регистры %1–%2 (%3)")
        .arg(Params::hex4(quint16(f.start)), Params::hex4(quint16(f.start + f.count - 1)))
        .arg(f.count);
}

QString hex8(qint64 v)
{
    return QStringLiteral("0x") + QString::number(quint32(v), 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

// The parameters by the names the settings and calibration pages give them,
// by the parameter table's names.
struct Label {
    const char *name;
    const char *text;
};

const Label holdingLabels[] = {
    {"limit1", QT_TRANSLATE_NOOP("TrafficModel", "Порог 1")},
    {"limit1_direction", QT_TRANSLATE_NOOP("TrafficModel", "Порог 1, направление")},
    {"limit1_autoreset", QT_TRANSLATE_NOOP("TrafficModel", "Порог 1, автосброс")},
    {"limit2", QT_TRANSLATE_NOOP("TrafficModel", "Порог 2")},
    {"limit2_direction", QT_TRANSLATE_NOOP("TrafficModel", "Порог 2, направление")},
    {"limit2_autoreset", QT_TRANSLATE_NOOP("TrafficModel", "Порог 2, автосброс")},
    {"hysteresis", QT_TRANSLATE_NOOP("TrafficModel", "Гистерезис")},
    {"dead_zone", QT_TRANSLATE_NOOP("TrafficModel", "Мертв. зона")},
    {"dead_zone2", QT_TRANSLATE_NOOP("TrafficModel", "Мертв. зона 2")},
    {"range_max", QT_TRANSLATE_NOOP("TrafficModel", "Верхнее зн-е диапазона")},
    {"range_min", QT_TRANSLATE_NOOP("TrafficModel", "Нижнее зн-е диапазона")},
    {"trip_delay", QT_TRANSLATE_NOOP("TrafficModel", "Задержка сраб. порогов")},
    {"reset_delay", QT_TRANSLATE_NOOP("TrafficModel", "Задержка сброса порогов")},
    {"unit", QT_TRANSLATE_NOOP("TrafficModel", "Ед. измерения")},
    {"discreteness", QT_TRANSLATE_NOOP("TrafficModel", "Дискретность")},
    {"output_type", QT_TRANSLATE_NOOP("TrafficModel", "Тип токового вых.")},
    {"sensor_current", QT_TRANSLATE_NOOP("TrafficModel", "Ток потенц. датчика")},
    {"net_address", QT_TRANSLATE_NOOP("TrafficModel", "Сетевой адрес")},
    {"net_speed", QT_TRANSLATE_NOOP("TrafficModel", "Скорость RS485")},
    {"serial_number", QT_TRANSLATE_NOOP("TrafficModel", "Заводской номер")},
    {"adc_4ma", QT_TRANSLATE_NOOP("TrafficModel", "Значение АЦП 4 мА")},
    {"adc_20ma", QT_TRANSLATE_NOOP("TrafficModel", "Значение АЦП 20 мА")},
    {"adc_calib", QT_TRANSLATE_NOOP("TrafficModel", "АЦП калибровки")},
    {"conc_calib", QT_TRANSLATE_NOOP("TrafficModel", "Калибровочная концентрация")},
    {"pwm_4ma", QT_TRANSLATE_NOOP("TrafficModel", "PWM 4 мА")},
    {"pwm_20ma", QT_TRANSLATE_NOOP("TrafficModel", "PWM 20 мА")},
    {"simulation", QT_TRANSLATE_NOOP("TrafficModel", "Имитация концентрации")},
    {"simulation_value", QT_TRANSLATE_NOOP("TrafficModel", "Код АЦП имитации")},
    {"board_version", QT_TRANSLATE_NOOP("TrafficModel", "Версия платы")},
    {"reg_100c", QT_TRANSLATE_NOOP("TrafficModel", "Регистр 0x100C")},
    {"command_word", QT_TRANSLATE_NOOP("TrafficModel", "Регистр команд")},
};

const Label liveLabels[] = {
    {"adc", QT_TRANSLATE_NOOP("TrafficModel", "Код АЦП")},
    {"concentration", QT_TRANSLATE_NOOP("TrafficModel", "Концентрация")},
    {"pwm", QT_TRANSLATE_NOOP("TrafficModel", "Код PWM")},
    {"device_type", QT_TRANSLATE_NOOP("TrafficModel", "Тип устройства")},
    {"status", QT_TRANSLATE_NOOP("TrafficModel", "Статус")},
};

const Label identLabels[] = {
    {"vendor", QT_TRANSLATE_NOOP("TrafficModel", "Производитель")},
    {"product_code", QT_TRANSLATE_NOOP("TrafficModel", "Код изделия")},
    {"firmware_version", QT_TRANSLATE_NOOP("TrafficModel", "Версия ПО")},
    {"product_name", QT_TRANSLATE_NOOP("TrafficModel", "Изделие")},
    {"model", QT_TRANSLATE_NOOP("TrafficModel", "Модель")},
    {"app_name", QT_TRANSLATE_NOOP("TrafficModel", "Приложение")},
    {"firmware_date", QT_TRANSLATE_NOOP("TrafficModel", "Дата ПО")},
};

template <size_t N>
QString labelOf(const Label (&labels)[N], const char *name)
{
    for (const Label &l : labels)
        if (qstrcmp(l.name, name) == 0)
            return QCoreApplication::translate("TrafficModel", l.text);
    return QString();
}

QString identName(int id)
{
    if (id == 3)
        return labelOf(identLabels, "vendor");
    for (const Params::IdentDef &d : Params::identification()) {
        if (d.objectId != id)
            continue;
        const QString label = labelOf(identLabels, d.name);
        if (!label.isEmpty())
            return label;
    }
    return TrafficModel::tr("объект %1").arg(id);
}

QString unitText(const QString &unit)
{
    // The gas units are the same in every language (the pages show them so).
    if (unit == QLatin1String("s"))
        return TrafficModel::tr("с");
    if (unit == QLatin1String("mA"))
        return TrafficModel::tr("мА");
    if (unit == QLatin1String("mV"))
        return TrafficModel::tr("мВ");
    return unit;
}

QString onOffText(bool on)
{
    return on ? TrafficModel::tr("вкл.") : TrafficModel::tr("выкл.");
}

} // namespace

QString TrafficModel::valueText(const FrameDecode::Value &v)
{
    using Source = FrameDecode::Value::Source;
    QString name;
    QString text = v.text;
    switch (v.source) {
    case Source::Holding: {
        const Params::ParamDef &def = Params::parameters()[v.index];
        name = labelOf(holdingLabels, def.name);
        if (def.kind == Params::Kind::LimitDirection)
            text = (v.raw & 0x8000) ? tr("убывание") : tr("возрастание");
        else if (def.kind == Params::Kind::AutoReset || def.kind == Params::Kind::Switch)
            text = onOffText(v.text == QLatin1String("on"));
        break;
    }
    case Source::Live: {
        const Params::LiveDef &def = Params::liveValues()[v.index];
        if (def.reg == 1)
            name = v.unit == QLatin1String("mV") ? tr("Выходное напряжение") : tr("Выходной ток");
        else
            name = labelOf(liveLabels, def.name);
        if (name.isEmpty())
            name = tr("входной регистр %1").arg(def.reg);
        if (def.reg == 9)
            text = tr("%1 (ручное выкл. звука: %2)").arg(Params::hex4(v.raw), onOffText(v.raw & Params::StatusSoundOff));
        break;
    }
    case Source::Ident:
        name = identName(v.reg);
        break;
    case Source::Register:
        name = Params::hex4(v.reg);
        break;
    case Source::Input:
        name = tr("входной регистр %1").arg(v.reg);
        break;
    }
    if (name.isEmpty())
        name = Params::hex4(v.reg);
    if (v.scaleUnknown)
        return tr("%1 = %2 (масштаб неизвестен)").arg(name, text);
    const QString unit = unitText(v.unit);
    return unit.isEmpty() ? QStringLiteral("%1 = %2").arg(name, text)
                          : QStringLiteral("%1 = %2 %3").arg(name, text, unit);
}

QString TrafficModel::contentText(const FrameDecode::Frame &f)
{
    QString s;
    if (f.kind == FrameDecode::Kind::RawText)
        return tr("текст «%1»").arg(f.text);
    if (f.kind == FrameDecode::Kind::Short)
        return tr("слишком короткий кадр");
    if (f.isException()) {
        s = exceptionText(f.exceptionCode);
    } else if (f.command >= 0) {
        s = commandText(f.command);
    } else {
        QStringList values;
        for (const FrameDecode::Value &v : f.items)
            values << valueText(v);
        switch (f.baseFunction()) {
        case Modbus::FnReadHolding:
        case Modbus::FnReadInput:
        case Modbus::FnWriteSingle:
        case Modbus::FnWriteMultiple:
            if (!values.isEmpty())
                s = values.join(QStringLiteral("; "));
            else if (!f.sent && f.baseFunction() == Modbus::FnWriteMultiple)
                s = tr("запись подтверждена: %1").arg(registerRange(f));
            else
                s = registerRange(f);
            break;
        case Modbus::FnWriteMemory:
            s = f.memLength >= 0 ? tr("адрес %1, %2 байт").arg(hex8(f.memAddress)).arg(f.memLength)
                                 : tr("адрес %1").arg(hex8(f.memAddress));
            if (f.memAddress < 0)
                s.clear();
            break;
        case Modbus::FnReadDeviceId:
            if (f.sent)
                s = tr("код %1, с объекта %2").arg(f.idCode).arg(f.idObject);
            else
                s = values.join(QStringLiteral("; "));
            break;
        default:
            break;
        }
    }
    if (!f.crcOk)
        s += tr(" [ошибка CRC]");
    else if (f.truncated)
        s += tr(" [неполный]");
    return s.trimmed();
}

QString TrafficModel::resultText(const TrafficEntry &entry, bool broadcast)
{
    if (entry.result == -1)
        return QString();
    // An exception reply is named as such whatever the function was (the
    // link calls one to a function it does not check an "unsupported" reply).
    if (entry.exceptionCode >= 0)
        return exceptionText(entry.exceptionCode);
    switch (entry.result) {
    case ResultOk:
        return entry.sent && broadcast ? tr("ок, широковещательный: ответа нет") : tr("ок");
    case ResultNoReply: return tr("нет ответа");
    case ResultBadReply: return tr("ошибка CRC или искаженный ответ");
    case ResultMismatch: return tr("ответ не подходит к запросу");
    case ResultWriteTimeout: return tr("не отправлен (тайм-аут записи или линия потеряна)");
    case ResultIllegalAddress:
    case ResultIllegalValue:
    case ResultRefused:
        return tr("исключение");
    case ResultUnsupported: return tr("неизвестная функция в ответе");
    case ResultNotConnected: return tr("нет соединения");
    case ResultLineLost: return tr("линия потеряна после отправки запроса");
    case ResultNoSilence: return tr("линия не замолкает (непрерывные данные)");
    case ResultCancelled: return tr("прерван");
    default: return tr("результат %1").arg(entry.result);
    }
}

QStringList TrafficModel::directionTexts()
{
    return {tr("запрос"), tr("ответ"), tr("запрос (не отправлен)")};
}

QStringList TrafficModel::makeTexts(const TrafficEntry &e, bool withDate) const
{
    const FrameDecode::Frame f = e.decode();
    const QStringList directions = directionTexts();
    const QString direction = !e.onLine ? directions[2] : e.sent ? directions[0] : directions[1];
    QString address;
    if (f.address >= 0 && f.kind != FrameDecode::Kind::RawText)
        address = f.broadcast ? tr("%1 (всем)").arg(f.address) : QString::number(f.address);
    QString function;
    if (f.kind == FrameDecode::Kind::RawText)
        function = tr("текст");
    else if (f.function >= 0)
        function = functionText(f.function);
    const QString format = withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss.zzz");
    return {QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(format),
            direction,
            address,
            function,
            resultText(e, f.broadcast),
            contentText(f),
            FrameDecode::hexBytes(e.bytes())};
}

QStringList TrafficModel::rowTexts(int row, bool withDate) const
{
    const TrafficEntry *e = entryAt(row);
    if (!e)
        return {};
    return makeTexts(*e, withDate);
}

QVector<QStringList> TrafficModel::shownRows() const
{
    QVector<QStringList> out;
    out.reserve(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        out << rowTexts(r, true);
    return out;
}

void TrafficModel::retranslate()
{
    texts.clear();
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!rows.empty())
        emit dataChanged(index(0, 0), index(int(rows.size()) - 1, ColumnCount - 1));
}

int TrafficModel::rowOf(quint64 seq) const
{
    const auto it = std::lower_bound(rows.begin(), rows.end(), seq);
    return it != rows.end() && *it == seq ? int(it - rows.begin()) : -1;
}

void TrafficModel::dropGone()
{
    const quint64 first = rec->ring().firstSeq();
    int gone = 0;
    while (gone < int(rows.size()) && rows[size_t(gone)] < first)
        ++gone;
    if (gone == 0)
        return;
    beginRemoveRows(QModelIndex(), 0, gone - 1);
    rows.erase(rows.begin(), rows.begin() + gone);
    endRemoveRows();
}

void TrafficModel::catchUp()
{
    const TrafficRing &ring = rec->ring();
    QVector<quint64> add;
    for (quint64 seq = qMax(considered + 1, ring.firstSeq()); seq < ring.nextSeq(); ++seq) {
        const TrafficEntry *e = ring.bySeq(seq);
        if (e && flt.matches(*e))
            add << seq;
    }
    considered = ring.nextSeq() - 1;
    if (add.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(rows.size()), int(rows.size()) + add.size() - 1);
    rows.insert(rows.end(), add.begin(), add.end());
    endInsertRows();
}

void TrafficModel::onAppended(quint64)
{
    dropGone();
    if (!isPaused)
        catchUp();
}

void TrafficModel::onUpdated(quint64 seq)
{
    texts.remove(seq);
    const int row = rowOf(seq);
    if (row >= 0) {
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        return;
    }
    // A frame the filter let through only now that its attempt has ended
    // (a failure): it takes its place among the rows, if it was looked at.
    const TrafficEntry *e = rec->ring().bySeq(seq);
    if (!e || seq > considered || !flt.matches(*e))
        return;
    const int at = int(std::lower_bound(rows.begin(), rows.end(), seq) - rows.begin());
    beginInsertRows(QModelIndex(), at, at);
    rows.insert(rows.begin() + at, seq);
    endInsertRows();
}

void TrafficModel::onCleared()
{
    beginResetModel();
    texts.clear();
    std::deque<quint64>().swap(rows);
    considered = rec->ring().nextSeq() - 1;
    endResetModel();
}

void TrafficModel::setFilter(const TrafficFilter &filter)
{
    beginResetModel();
    flt = filter;
    const TrafficRing &ring = rec->ring();
    // While paused the rows stay within what was looked at before.
    const quint64 upTo = isPaused ? considered : ring.nextSeq() - 1;
    std::deque<quint64>().swap(rows);
    for (quint64 seq = ring.firstSeq(); seq <= upTo && seq < ring.nextSeq(); ++seq) {
        const TrafficEntry *e = ring.bySeq(seq);
        if (e && flt.matches(*e))
            rows.push_back(seq);
    }
    considered = qMax(considered, upTo);
    endResetModel();
}

void TrafficModel::setPaused(bool paused)
{
    if (paused == isPaused)
        return;
    isPaused = paused;
    if (!isPaused) {
        dropGone();
        catchUp();
    }
}

// ------------------------------------------------------------ statistics

TrafficStatsModel::TrafficStatsModel(TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), rec(recorder), addresses(recorder->stats().addresses())
{
    connect(rec, &TrafficRecorder::statsChanged, this, &TrafficStatsModel::onChanged);
    connect(rec, &TrafficRecorder::cleared, this, &TrafficStatsModel::onCleared);
}

int TrafficStatsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : addresses.size();
}

int TrafficStatsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QStringList TrafficStatsModel::headers() const
{
    return {tr("Адрес"), tr("Запросов"), tr("Ответов"), tr("Нет ответа"), tr("Ошибок CRC"), tr("Исключений"),
            tr("Время ответа, мс: мин. / медиана / макс.")};
}

QVariant TrafficStatsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return headers().value(section);
}

QStringList TrafficStatsModel::rowTexts(int row) const
{
    const TrafficStats::Line *l = rec->stats().line(addresses.value(row, -1));
    if (!l)
        return {};
    const QString times = l->minMs < 0 ? QStringLiteral("–")
                                       : QStringLiteral("%1 / %2 / %3").arg(l->minMs).arg(l->medianMs()).arg(l->maxMs);
    return {QString::number(l->address), QString::number(l->requests), QString::number(l->replies),
            QString::number(l->noReply), QString::number(l->crcErrors), QString::number(l->exceptions), times};
}

QVariant TrafficStatsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(index.column() == ColTimes ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    return rowTexts(index.row()).value(index.column());
}

void TrafficStatsModel::retranslate()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

void TrafficStatsModel::onChanged(int address)
{
    const auto it = std::lower_bound(addresses.begin(), addresses.end(), address);
    const int row = int(it - addresses.begin());
    if (it != addresses.end() && *it == address) {
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        return;
    }
    beginInsertRows(QModelIndex(), row, row);
    addresses.insert(row, address);
    endInsertRows();
}

void TrafficStatsModel::onCleared()
{
    beginResetModel();
    addresses.clear();
    endResetModel();
}
