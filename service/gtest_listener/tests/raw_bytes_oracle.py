"""Reads the documents a listener run left in a folder with Python's own readers and prints, as
one ASCII JSON object, what they hold: the results document from results.json, the testcases
as results.yaml and junit.xml give them. Every file must be valid UTF-8: it is decoded strictly.
"""
import json
import sys
from pathlib import Path

import yaml
from junitparser import Error, Failure, JUnitXml, Skipped


def text(path):
    return path.read_bytes().decode("utf-8")


def cases(report):
    return [[task["id"], section["id"], section["result"]["value"], section["result"].get("reason", "")]
            for task in report["tasks"] for section in task["sections"]
            if section["type"] == "Testcase"]


def junit_cases(path):
    text(path)
    found = []
    for suite in JUnitXml.fromfile(str(path)):
        for case in suite:
            kinds = {type(r): r for r in case.result}
            outcome, message = "passed", ""
            for kind, name in ((Failure, "failed"), (Error, "errored"), (Skipped, "skipped")):
                if kind in kinds:
                    outcome, message = name, kinds[kind].message or ""
                    break
            found.append([suite.name, case.name, outcome, message])
    return found


def main():
    folder = Path(sys.argv[1])
    report = json.loads(text(folder / "results.json"))["report"]
    from_yaml = yaml.safe_load(text(folder / "results.yaml"))["report"]
    print(json.dumps({"report": report, "yaml_cases": cases(from_yaml),
                      "json_cases": cases(report), "junit_cases": junit_cases(folder / "junit.xml")}))


main()
