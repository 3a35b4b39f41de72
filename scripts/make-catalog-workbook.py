"""Writes the assay workbook form of a catalogue JSON file as .xlsx (the
fixtures script turns it into examples/CatalogSync.xls with LibreOffice).

Sheet 1 is a cover sheet. Sheet i (from 2) holds assay i-1: the header in
B1/B2/D2, the properties in H7..H34 with their labels in column G, the sample
row 5 and the volume block in columns C and E, labelled in columns A, B and D.
Zero volumes are left empty, as an author leaves the unused parts.
Usage: make-catalog-workbook.py <catalog.json> <out.xlsx>
Other generators import catalog_book() from this file.
"""
import json
import sys

from openpyxl import Workbook
from openpyxl.styles import Font

PROPERTIES = [  # column H from row 7
    ("TestFullName", "Full name"), ("DefaultUnits", "Default units"),
    ("AlternateUnits", "Alternate units"), ("ConversionFactor", "Conversion factor"),
    ("CalibrationFreq", "Calibration frequency (days)"), ("AssayLow", "Assay low"),
    ("AssayMax", "Assay max"), ("NormalLow", "Normal low"), ("NormalHigh", "Normal high"),
    ("Formula", "Formula"), ("NumOfReagents", "Number of reagents"),
    ("RoundOffMethod", "Round-off method"), ("LowCV", "Low CV"), ("HighCV", "High CV"),
    ("Color", "Colour"), ("DilutionRequired", "Dilution required"),
    ("DilutionFactor", "Dilution factor"), ("DiluentID", "Diluent"),
    ("DiluteControl", "Dilute controls"), ("NumOfCalibrators", "Number of calibrators"),
    ("NumOfReplicates", "Number of replicates"), ("Cycles", "Cycles"),
    ("MaxSlope", "Max slope"), ("MinSlope", "Min slope"), ("Active", "Active"),
    ("P5", "P5"), ("P6", "P6"), ("NumOfRepeatTests", "Number of repeat tests"),
]
VOLUMES = [  # (property, column, first row, label)
    ("ReagentVol", "E", 6, "Reagent volume"), ("RegentVolKey", "C", 6, "Reagent key"),
    ("WaterToAssayB", "C", 9, "Water to assay B"), ("InitWater", "C", 12, "Initial water"),
    ("WaterToAssayA", "C", 15, "Water to assay A"), ("WashFill", "C", 18, "Wash fill"),
    ("LastWash", "C", 24, "Last wash"),
]
BOLD = Font(bold=True)


def put(sheet, ref, value):
    if value not in (None, "", 0) or isinstance(value, bool):
        sheet[ref] = value


def cover(sheet, count):
    sheet["A1"] = "Corvista 1000 assay catalogue"
    sheet["A1"].font = BOLD
    sheet["A3"] = "One sheet per assay follows; this sheet is not imported."
    sheet["A4"] = "Assays"
    sheet["B4"] = count


def assay_sheet(sheet, assay):
    sheet["A1"], sheet["A2"], sheet["C2"] = "Test name", "Test number", "Mode"
    sheet["B1"], sheet["B2"], sheet["D2"] = assay["TestName"], assay["TestNumber"], assay["Mode"]
    sheet["G6"], sheet["H6"] = "Property", "Value"
    sheet["G6"].font = sheet["H6"].font = BOLD
    for row, (name, label) in enumerate(PROPERTIES, start=7):
        sheet["G%d" % row] = label
        put(sheet, "H%d" % row, assay[name])
    sheet["A5"], sheet["B5"], sheet["D5"] = "Sample", "key", "volume"
    put(sheet, "C5", assay["SampleVolKey"])
    put(sheet, "E5", assay["SampleVol"])
    for name, column, first, label in VOLUMES:
        for part, volumes in enumerate(assay["TestVolumes"]):
            row = first + part
            if column == "C":
                sheet["A%d" % row], sheet["B%d" % row] = label, "part %d" % part
            else:
                sheet["D%d" % row] = "volume"
            put(sheet, "%s%d" % (column, row), volumes[name])
    sheet["A21"] = "(rows 21 to 23 are reserved)"


def catalog_book(assays):
    """The workbook of the assays (dicts as in the catalogue JSON), unsaved,
    so that a caller may change cells before saving it."""
    book = Workbook()
    cover(book.active, len(assays))
    book.active.title = "Catalogue"
    used = set()
    for assay in assays:
        name = str(assay["TestName"])[:24] or "Assay"
        while name in used:
            name += "_"
        used.add(name)
        assay_sheet(book.create_sheet(name), assay)
    return book


def main(source, target):
    with open(source, encoding="utf-8") as f:
        catalog_book(json.load(f)["assays"]).save(target)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
