#!/usr/bin/env python3
"""validate-report.py SCHEMA REPORT...: checks run reports against the JSON Schema.

Prints each violation as "REPORT: path: message" and exits 1 when there is any,
2 when a file cannot be read as JSON.
"""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failed = False
    for path in argv[2:]:
        try:
            with open(path, encoding="utf-8") as f:
                report = json.load(f)
        except (OSError, ValueError) as error:
            print(f"{path}: not a JSON document: {error}", file=sys.stderr)
            return 2
        for error in sorted(validator.iter_errors(report), key=lambda e: list(e.path)):
            where = "/".join(str(p) for p in error.path) or "(top)"
            print(f"{path}: {where}: {error.message}", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
