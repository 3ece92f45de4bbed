"""Prints every non-empty cell of the first sheet of a workbook (or of the
sheet named by the second argument), one per line:
row<TAB>column<TAB>value<TAB>b(old)/-<TAB>size<TAB>top/bottom border<TAB>alignment,
then one line per set column width: width<TAB>letter<TAB>width."""
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
sheet = book[sys.argv[2]] if len(sys.argv) > 2 else book.worksheets[0]
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is None:
            continue
        f = cell.font
        print("\t".join([str(cell.row), cell.column_letter, str(cell.value), "b" if f.b else "-",
                         str(f.sz), f"{cell.border.top.style}/{cell.border.bottom.style}",
                         str(cell.alignment.horizontal)]))
for letter, dim in sorted(sheet.column_dimensions.items()):
    if dim.width:
        print(f"width\t{letter}\t{dim.width:.1f}")
