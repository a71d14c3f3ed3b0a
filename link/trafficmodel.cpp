#include "trafficmodel.h"

#include "modbus.h"
#include "paramtable.h"

#include <QDateTime>
#include <algorithm>

TrafficModel::TrafficModel(TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), rec(recorder)
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
    const QStringList texts = rowTexts(index.row());
    return texts.value(index.column());
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

} // namespace

QString TrafficModel::contentText(const TrafficEntry &entry)
{
    const FrameDecode::Frame &f = entry.frame;
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
        switch (f.baseFunction()) {
        case Modbus::FnReadHolding:
        case Modbus::FnReadInput:
        case Modbus::FnWriteSingle:
        case Modbus::FnWriteMultiple:
            if (!f.values.isEmpty())
                s = f.values.join(QStringLiteral("; "));
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
                s = f.values.join(QStringLiteral("; "));
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

QString TrafficModel::resultText(const TrafficEntry &entry)
{
    switch (entry.result) {
    case -1: return QString();
    case ResultOk:
        return entry.sent && entry.frame.broadcast ? tr("ок, широковещательный: ответа нет") : tr("ок");
    case ResultNoReply: return tr("нет ответа");
    case ResultBadReply: return tr("ошибка CRC или искаженный ответ");
    case ResultMismatch: return tr("ответ не подходит к запросу");
    case ResultWriteTimeout: return tr("не отправлен (тайм-аут записи или линия потеряна)");
    case ResultIllegalAddress:
    case ResultIllegalValue:
    case ResultRefused:
        if (entry.exceptionCode >= 0)
            return exceptionText(entry.exceptionCode);
        return tr("исключение");
    case ResultUnsupported: return tr("неизвестная функция в ответе");
    case ResultNotConnected: return tr("нет соединения");
    case ResultLineLost: return tr("линия потеряна после отправки запроса");
    case ResultNoSilence: return tr("линия не замолкает (непрерывные данные)");
    case ResultCancelled: return tr("прерван");
    default: return tr("результат %1").arg(entry.result);
    }
}

QStringList TrafficModel::rowTexts(int row) const
{
    const TrafficEntry *e = entryAt(row);
    if (!e)
        return {};
    const FrameDecode::Frame &f = e->frame;
    QString direction = e->sent ? tr("запрос") : tr("ответ");
    if (!e->onLine)
        direction = tr("запрос (не отправлен)");
    QString address;
    if (f.address >= 0 && f.kind != FrameDecode::Kind::RawText)
        address = f.broadcast ? tr("%1 (всем)").arg(f.address) : QString::number(f.address);
    QString function;
    if (f.kind == FrameDecode::Kind::RawText)
        function = tr("текст");
    else if (f.function >= 0)
        function = functionText(f.function);
    return {QDateTime::fromMSecsSinceEpoch(e->timeMs).toString(QStringLiteral("HH:mm:ss.zzz")),
            direction,
            address,
            function,
            resultText(*e),
            contentText(*e),
            FrameDecode::hexBytes(e->bytes)};
}

QVector<QStringList> TrafficModel::shownRows() const
{
    QVector<QStringList> out;
    out.reserve(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        out << rowTexts(r);
    return out;
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
    const int row = rowOf(seq);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TrafficModel::onCleared()
{
    beginResetModel();
    rows.clear();
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
    rows.clear();
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
