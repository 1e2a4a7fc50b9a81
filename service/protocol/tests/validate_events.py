"""Checks event lines against the event schema: validate_events.py SCHEMA LINES.

Prints one line per event line, "ok" or "bad: <first problem>", so that the caller can tell
which lines the schema accepts."""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as f:
    validator = jsonschema.Draft202012Validator(json.load(f))
with open(sys.argv[2], encoding="utf-8") as f:
    for line in f:
        errors = list(validator.iter_errors(json.loads(line)))
        print("ok" if not errors else "bad: " + errors[0].message.replace("\n", " "))
