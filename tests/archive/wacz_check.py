"""Checks a WACZ package with Python's own zip, json and hashlib: prints the entry names,
then "ok" when every entry is stored uncompressed, datapackage.json lists each file with
its SHA-256 and size, and datapackage-digest.json holds the package file's SHA-256; the
first failure otherwise (exit 1). Usage: python3 wacz_check.py FILE.wacz"""
import hashlib
import json
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    names = z.namelist()
    print("\n".join(names))
    for info in z.infolist():
        if info.compress_type != zipfile.ZIP_STORED:
            sys.exit(f"{info.filename} is compressed")
    if z.testzip() is not None:
        sys.exit("a CRC does not match")
    package = z.read("datapackage.json")
    meta = json.loads(package)
    if meta.get("wacz_version") != "1.1.1" or meta.get("profile") != "data-package":
        sys.exit("not a WACZ 1.1.1 data package")
    listed = set()
    for res in meta["resources"]:
        data = z.read(res["path"])
        listed.add(res["path"])
        if res["hash"] != "sha256:" + hashlib.sha256(data).hexdigest() or res["bytes"] != len(data):
            sys.exit(f"{res['path']}: hash or size does not match")
    if listed != set(names) - {"datapackage.json", "datapackage-digest.json"}:
        sys.exit("datapackage.json does not list every file")
    digest = json.loads(z.read("datapackage-digest.json"))
    if digest["hash"] != "sha256:" + hashlib.sha256(package).hexdigest():
        sys.exit("datapackage-digest.json does not match")
    pages = z.read("pages/pages.jsonl").decode().splitlines()
    if json.loads(pages[0]).get("format") != "json-pages-1.0":
        sys.exit("pages.jsonl has no header")
    for line in pages[1:]:
        print("page", json.dumps(json.loads(line), sort_keys=True))
print("ok")
