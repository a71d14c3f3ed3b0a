#!/usr/bin/python3
"""Writes the sample gas library setting.xlsx that ships beside the program.

Usage: make_sample_library.py OUTPUT

Column A holds the gas name, columns B and C the two threshold words as the
detector stores them: bits 0-14 the threshold times the scale of the chosen
discreteness, bit 15 set for a decreasing threshold.  Row 1 holds titles.
Only the Python standard library is used, and the output is the same byte
for byte on every run.
"""
import os
import sys
import zipfile
from xml.sax.saxutils import escape

DECREASING = 0x8000

# name, threshold 1 word, threshold 2 word (comment: unit, discreteness, values)
GASES = [
    ("Метан", 100, 200),                    # %LEL, X,X: 10.0 / 20.0
    ("Пропан", 100, 200),                   # %LEL, X,X: 10.0 / 20.0
    ("Бутан", 100, 200),                    # %LEL, X,X: 10.0 / 20.0
    ("Водород", 100, 200),                  # %LEL, X,X: 10.0 / 20.0
    ("Метанол", 100, 200),                  # %LEL, X,X: 10.0 / 20.0
    ("Кислород", DECREASING | 195, 230),    # %VOL, X,X: 19.5 falling / 23.0
    ("Углекислый газ", 50, 100),            # %VOL, X,XX: 0.50 / 1.00
    ("Угарный газ", 20, 100),               # PPM, X: 20 / 100
    ("Сероводород", 10, 20),                # PPM, X: 10 / 20
    ("Аммиак", 20, 60),                     # mg/m3, X: 20 / 60
]
TITLES = ("Название газа", "Порог 1", "Порог 2")

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def content_types():
    ct = "application/vnd.openxmlformats-officedocument."
    return (HEAD + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="' + ct + 'spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="' + ct + 'spreadsheetml.worksheet+xml"/>'
            '<Override PartName="/xl/styles.xml" ContentType="' + ct + 'spreadsheetml.styles+xml"/>'
            '<Override PartName="/xl/sharedStrings.xml" ContentType="' + ct + 'spreadsheetml.sharedStrings+xml"/>'
            '<Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/>'
            '<Override PartName="/docProps/app.xml" ContentType="' + ct + 'extended-properties+xml"/>'
            '</Types>')


def root_rels():
    return (HEAD + '<Relationships xmlns="' + PKG_REL + '">'
            '<Relationship Id="rId1" Type="' + REL + '/officeDocument" Target="xl/workbook.xml"/>'
            '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/>'
            '<Relationship Id="rId3" Type="' + REL + '/extended-properties" Target="docProps/app.xml"/>'
            '</Relationships>')


def core():
    return (HEAD + '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" '
            'xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">'
            '<dc:title>Библиотека настроек газов</dc:title><dc:creator>TL Configuration</dc:creator>'
            '<dcterms:created xsi:type="dcterms:W3CDTF">2024-01-01T00:00:00Z</dcterms:created>'
            '</cp:coreProperties>')


def app():
    return (HEAD + '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties">'
            '<Application>TL Configuration</Application></Properties>')


def workbook():
    return (HEAD + '<workbook xmlns="' + MAIN + '" xmlns:r="' + REL + '">'
            '<bookViews><workbookView activeTab="0"/></bookViews>'
            '<sheets><sheet name="Газы" sheetId="1" r:id="rId1"/></sheets></workbook>')


def workbook_rels():
    return (HEAD + '<Relationships xmlns="' + PKG_REL + '">'
            '<Relationship Id="rId1" Type="' + REL + '/worksheet" Target="worksheets/sheet1.xml"/>'
            '<Relationship Id="rId2" Type="' + REL + '/styles" Target="styles.xml"/>'
            '<Relationship Id="rId3" Type="' + REL + '/sharedStrings" Target="sharedStrings.xml"/>'
            '</Relationships>')


def styles():
    # cellXfs: 0 plain, 1 bold centred (titles)
    return (HEAD + '<styleSheet xmlns="' + MAIN + '">'
            '<fonts count="2"><font><sz val="11"/><name val="Calibri"/><family val="2"/></font>'
            '<font><b/><sz val="11"/><name val="Calibri"/><family val="2"/></font></fonts>'
            '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
            '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
            '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
            '<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
            '<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1" applyAlignment="1">'
            '<alignment horizontal="center"/></xf></cellXfs>'
            '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>'
            '</styleSheet>')


def shared_strings(strings):
    items = "".join("<si><t>%s</t></si>" % escape(s) for s in strings)
    return (HEAD + '<sst xmlns="%s" count="%d" uniqueCount="%d">%s</sst>' % (MAIN, len(strings), len(strings), items))


def sheet(strings):
    rows = []
    cells = "".join('<c r="%s1" s="1" t="s"><v>%d</v></c>' % (col, strings.index(t))
                    for col, t in zip("ABC", TITLES))
    rows.append('<row r="1" spans="1:3">%s</row>' % cells)
    for i, (name, w1, w2) in enumerate(GASES, start=2):
        rows.append('<row r="%d" spans="1:3"><c r="A%d" t="s"><v>%d</v></c><c r="B%d"><v>%d</v></c>'
                    '<c r="C%d"><v>%d</v></c></row>' % (i, i, strings.index(name), i, w1, i, w2))
    last = len(GASES) + 1
    return (HEAD + '<worksheet xmlns="' + MAIN + '" xmlns:r="' + REL + '">'
            '<dimension ref="A1:C%d"/>' % last +
            '<sheetViews><sheetView tabSelected="1" workbookViewId="0">'
            '<pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/></sheetView></sheetViews>'
            '<sheetFormatPr defaultRowHeight="15"/>'
            '<cols><col min="1" max="1" width="24" customWidth="1"/><col min="2" max="3" width="12" customWidth="1"/></cols>'
            '<sheetData>' + "".join(rows) + '</sheetData>'
            '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
            '</worksheet>')


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_sample_library.py OUTPUT")
    strings = list(TITLES) + [g[0] for g in GASES]
    parts = [
        ("[Content_Types].xml", content_types()),
        ("_rels/.rels", root_rels()),
        ("docProps/core.xml", core()),
        ("docProps/app.xml", app()),
        ("xl/workbook.xml", workbook()),
        ("xl/_rels/workbook.xml.rels", workbook_rels()),
        ("xl/styles.xml", styles()),
        ("xl/sharedStrings.xml", shared_strings(strings)),
        ("xl/worksheets/sheet1.xml", sheet(strings)),
    ]
    tmp = sys.argv[1] + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o100644 << 16
            z.writestr(info, text.encode("utf-8"))
    os.replace(tmp, sys.argv[1])


if __name__ == "__main__":
    main()
