"""Prints what a spreadsheet reader sees in an .xlsx workbook, as JSON, for the export tests.

usage: xlsx_dump.py FILE [ROWS]
ROWS: comma-separated row numbers to dump from every sheet; negative ones count from the last
row (-1 is the last). Default: 1,2,3,-1.
"""
import datetime
import json
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def cell_json(cell):
    value = cell.value
    if value is None:
        kind = "blank"
    elif isinstance(value, datetime.datetime):
        kind, value = "date", value.isoformat(sep=" ")
    elif isinstance(value, (int, float)):
        kind = "number"
    else:
        kind, value = "text", str(value)
    return {"value": value, "type": kind, "format": cell.number_format,
            "bold": bool(cell.font and cell.font.b)}


def main():
    path = sys.argv[1]
    wanted = [int(r) for r in (sys.argv[2] if len(sys.argv) > 2 else "1,2,3,-1").split(",")]
    book = openpyxl.load_workbook(path)
    sheets = []
    for ws in book.worksheets:
        columns = range(1, ws.max_column + 1)
        letters = [get_column_letter(c) for c in columns]
        rows = {}
        for r in wanted:
            number = r if r > 0 else ws.max_row + 1 + r
            if 1 <= number <= ws.max_row:
                rows[str(r)] = [cell_json(ws.cell(number, c)) for c in columns]
        sheets.append({
            "name": ws.title,
            "maxRow": ws.max_row,
            "maxColumn": ws.max_column,
            "columnFormats": [ws.column_dimensions[l].number_format for l in letters],
            "widths": [ws.column_dimensions[l].width for l in letters],
            "rows": rows,
        })
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


main()
