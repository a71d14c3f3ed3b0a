// libFuzzer harness: opens a workbook from arbitrary bytes.  Whatever the
// input, loading either fails with a reason or gives a document that can be
// read, written, saved and loaded again.
#include "xlsxdocument.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

static void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // KZip reports damaged archives through qWarning; keep the output readable.
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    XlsxDocument doc;
    if (!doc.loadData(bytes)) {
        if (doc.errorString().isEmpty())
            abort();   // a refusal must say why
        return 0;
    }

    const XlsxCellRange used = doc.dimension();
    const int last = qMin(used.lastRow(), used.firstRow() + 50);
    for (int r = used.firstRow(); r <= last; ++r)
        for (int c = 1; c <= 3; ++c)
            doc.read(r, c).toString();

    // The gas library's append.
    const int row = qBound(1, used.lastRow() - used.firstRow() + 2, XlsxDocument::MaxRows);
    const XlsxFormat format = doc.rowFormat(row);
    if (!doc.write(row, 1, QStringLiteral("Метан <&>"), format) || !doc.write(row, 2, 200, format)
        || !doc.write(row, 3, 32968, format))
        abort();
    QByteArray saved;
    if (!doc.saveToData(&saved))
        abort();

    XlsxDocument again;
    if (!again.loadData(saved))
        abort();
    if (again.read(row, 1).toString() != QStringLiteral("Метан <&>") || again.read(row, 3).toInt() != 32968)
        abort();
    if (!(again.dimension() == doc.dimension()))
        abort();
    return 0;
}
