"""write_source.py <out.xlsx>

The .xlsx source of the benchmark workbook: the assay workbook of 500
assays, the eight example assays of examples/catalog.json over and over
under test numbers 1000 to 1499 (scripts/make-catalog-workbook.py lays them
out). scripts/make-fixtures converts it with LibreOffice and commits it
gzipped as bench/workbook_import/catalog-500.xls.gz.
"""
import copy
import json
import os
import runpy
import sys

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
catalog_book = runpy.run_path(
    os.path.join(ROOT, "scripts", "make-catalog-workbook.py"))["catalog_book"]

ASSAYS = 500


def main(target):
    with open(os.path.join(ROOT, "examples", "catalog.json"), encoding="utf-8") as f:
        examples = json.load(f)["assays"]
    assays = []
    for i in range(ASSAYS):
        assay = copy.deepcopy(examples[i % len(examples)])
        assay["TestNumber"] = 1000 + i
        assay["TestName"] = "%s%d" % (assay["TestName"][:4], i)
        assays.append(assay)
    catalog_book(assays).save(target)


main(sys.argv[1])
