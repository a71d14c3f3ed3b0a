#!/usr/bin/python3
"""Workbooks for the xlsx tests, made and read back with openpyxl.

  fixtures.py library PATH       a gas library with three sheets, the second
                                 one active, styles, widths, names and an
                                 extra part openpyxl knows nothing about
  fixtures.py offset PATH        a gas library whose used range is A3:C6
                                 (rows 1-2 empty, as LibreOffice often saves)
  fixtures.py dump PATH          prints every sheet, cell, style, width and
                                 name of a workbook as JSON
  fixtures.py compare OLD NEW SHEETPART CELLS
                                 checks that NEW equals OLD except for CELLS
                                 (JSON {"A5": value, ...} on the active sheet;
                                 an old cell keeps its style, a new one takes
                                 its row's format) and that
                                 every zip part but SHEETPART is unchanged;
                                 prints the differences and exits 1 if any
"""
import datetime
import json
import sys
import zipfile

import openpyxl
from openpyxl.styles import Alignment, Font, PatternFill
from openpyxl.workbook.defined_name import DefinedName

EXTRA_PART = "customXml/tl-extra.bin"
EXTRA_DATA = bytes(range(256)) * 3


def make_library(path):
    wb = openpyxl.Workbook()
    first = wb.active
    first.title = "Справка"
    first["A1"] = "Не библиотека"
    first["B2"] = 3.25
    first["C3"] = "=B2*2"
    first.merge_cells("A5:C5")
    first["A5"] = "объединено"

    gases = wb.create_sheet("Газы")
    gases.append(["Название газа", "Порог 1", "Порог 2"])
    gases.append(["Метан", 200, 32968])
    gases.append(["Пропан", 100, 400])
    gases.append(["метанол", 50, 32818])
    for cell in gases[1]:
        cell.font = Font(bold=True)
        cell.alignment = Alignment(horizontal="center")
    gases["B2"].number_format = "0"
    gases.column_dimensions["A"].width = 24.5
    gases.column_dimensions["B"].width = 11
    gases.freeze_panes = "A2"
    # Row 5 carries a format of its own: the next entry takes it.
    gases.row_dimensions[5].fill = PatternFill("solid", fgColor="FFFFEE88")
    gases.row_dimensions[5].font = Font(italic=True)

    third = wb.create_sheet("Прочее")
    third["A1"] = True
    third["A2"] = datetime.datetime(2020, 5, 17, 12, 30)
    third["B7"] = -0.125
    third.sheet_state = "hidden"

    wb.defined_names.append(DefinedName("Список", attr_text="'Газы'!$A$1:$C$4"))
    wb.active = 1
    wb.save(path)
    with zipfile.ZipFile(path, "a") as z:
        z.writestr(EXTRA_PART, EXTRA_DATA)


def make_offset_library(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Газы"
    ws["A3"] = "Название газа"
    ws["B3"] = "Порог 1"
    ws["C3"] = "Порог 2"
    ws.append(["Пропан", 100, 400])
    ws.append(["Метан", 200, 32968])
    ws.append(["метанол", 50, 32818])
    wb.save(path)
    if openpyxl.load_workbook(path).active.dimensions != "A3:C6":
        sys.exit("offset library: unexpected used range")


def style_of(cell):
    fill = cell.fill.fgColor.rgb if cell.fill and cell.fill.fill_type else None
    return {
        "bold": bool(cell.font.b),
        "italic": bool(cell.font.i),
        "fill": fill if isinstance(fill, str) else None,
        "format": cell.number_format,
        "align": cell.alignment.horizontal,
    }


def value_of(v):
    if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
        return v.isoformat()
    return v


def dump(path):
    wb = openpyxl.load_workbook(path)
    out = {"active": wb.active.title, "names": {}, "sheets": []}
    for dn in wb.defined_names.definedName:
        out["names"][dn.name] = dn.attr_text
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None and not c.has_style:
                    continue
                cells[c.coordinate] = {"value": value_of(c.value), "style": style_of(c)}
        out["sheets"].append({
            "title": ws.title,
            "state": ws.sheet_state,
            "cells": cells,
            "widths": {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth},
            "rows": {str(k): {"height": d.ht, "fill": style_of_row(d)} for k, d in ws.row_dimensions.items()
                     if d.customFormat or d.ht},
            "merged": sorted(str(r) for r in ws.merged_cells.ranges),
            "freeze": ws.freeze_panes,
        })
    return out


def style_of_row(d):
    if not d.customFormat:
        return None
    fill = d.fill.fgColor.rgb if d.fill and d.fill.fill_type else None
    return {"fill": fill if isinstance(fill, str) else None, "italic": bool(d.font.i)}


def parts(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i.filename) for i in z.infolist()}


def compare(old, new, sheet_part, cells_json):
    problems = []
    expected = dump(old)
    actual = dump(new)
    new_cells = json.loads(cells_json)
    active = next(s for s in expected["sheets"] if s["title"] == expected["active"])
    for ref, value in new_cells.items():
        if ref in active["cells"]:
            style = active["cells"][ref]["style"]   # a cell keeps its style
        else:
            row = ''.join(ch for ch in ref if ch.isdigit())
            row_style = active["rows"].get(row, {}).get("fill")
            style = {"bold": False, "italic": False, "fill": None, "format": "General", "align": None}
            if row_style:
                style["fill"] = row_style["fill"]
                style["italic"] = row_style["italic"]
        active["cells"][ref] = {"value": value, "style": style}
    if expected != actual:
        problems.append("workbook differs:\nexpected %s\nactual   %s" % (
            json.dumps(expected, ensure_ascii=False, sort_keys=True),
            json.dumps(actual, ensure_ascii=False, sort_keys=True)))
    before = parts(old)
    after = parts(new)
    if list(before) != list(after):
        problems.append("zip parts differ: %s / %s" % (list(before), list(after)))
    for name, data in before.items():
        if name != sheet_part and after.get(name) != data:
            problems.append("part %s changed" % name)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "library":
        make_library(sys.argv[2])
    elif cmd == "offset":
        make_offset_library(sys.argv[2])
    elif cmd == "dump":
        print(json.dumps(dump(sys.argv[2]), ensure_ascii=False, sort_keys=True))
    elif cmd == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]))
    else:
        sys.exit("unknown command " + cmd)
