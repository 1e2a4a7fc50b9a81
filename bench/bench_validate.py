"""The reference for bench_validate: Python's json.load plus the jsonschema package validating
the same results file against the same schema. Prints one line: wall and CPU seconds of the
load, of the validation, and of both.

    python3 bench_validate.py RESULTS_JSON SCHEMA_JSON
"""
import json
import sys
import time

import jsonschema


def main(results_path, schema_path):
    with open(schema_path) as f:
        schema = json.load(f)
    validator = jsonschema.validators.validator_for(schema)(schema)
    wall0, cpu0 = time.perf_counter(), time.process_time()
    with open(results_path) as f:
        document = json.load(f)
    wall1, cpu1 = time.perf_counter(), time.process_time()
    validator.validate(document)
    wall2, cpu2 = time.perf_counter(), time.process_time()
    print("load %.3f %.3f validate %.3f %.3f total %.3f %.3f" % (
        wall1 - wall0, cpu1 - cpu0, wall2 - wall1, cpu2 - cpu1, wall2 - wall0, cpu2 - cpu0))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
