#!/usr/bin/env python3
# The administrative templates parse, set exactly the values the updater reads, under
# its policy key, and every text and presentation they name exists in each language.
import re
import sys
import xml.etree.ElementTree as ET

root = sys.argv[1]
ns = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
admx = ET.parse(f"{root}/Vantorel-Updater.admx").getroot()
policies = admx.findall(".//p:policy", ns)
assert {p.get("key") for p in policies} == {r"Software\Policies\Vantorel\Updater"}
values = {e.get("valueName"): e.tag.split("}")[1] for p in policies for e in p.find("p:elements", ns)}
assert values == {"UpdateDefault": "enum", "UpdateSvrUrl": "text"}, values
assert sorted(int(d.get("value")) for d in admx.iterfind(".//p:enum//p:decimal", ns)) == [0, 1, 2]
text = open(f"{root}/Vantorel-Updater.admx", encoding="utf-8").read()
for lang in ("en-US", "zh-CN"):
    adml = ET.parse(f"{root}/{lang}/Vantorel-Updater.adml").getroot()
    strings = {s.get("id") for s in adml.iterfind(".//p:string", ns)}
    shown = {s.get("id"): {c.get("refId") for c in s} for s in adml.iterfind(".//p:presentation", ns)}
    assert set(re.findall(r"\$\(string\.(\w+)\)", text)) <= strings, lang
    for p in policies:
        ids = {e.get("id") for e in p.find("p:elements", ns)}
        assert shown.get(p.get("presentation")[len("$(presentation."):-1]) == ids, (lang, p.get("name"))
print("1 passed, 0 failed")
