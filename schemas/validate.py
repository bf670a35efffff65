#!/usr/bin/python3
"""Validates vantorel-sysmon JSON documents against the schemas beside this file.

    validate.py DOCUMENT [FILE ...]     DOCUMENT: cpu, memory, disks, network,
                                        processes, process_tree, gpu, battery,
                                        system, snapshot, history, core_history
With no FILE the document is read from standard input. Exits 0 when every
document is valid, 1 with the reasons otherwise.

Also importable: `validate(name, text)` raises jsonschema.ValidationError.
The text is decoded as strict UTF-8 before parsing, as a strict host would.
"""
import json
import pathlib
import sys

import jsonschema

SCHEMA_DIR = pathlib.Path(__file__).resolve().parent
DOCUMENTS = ["cpu", "memory", "disks", "network", "processes", "process_tree", "gpu",
             "battery", "system", "snapshot", "history", "core_history"]


def _load_store():
    store = {}
    for path in SCHEMA_DIR.glob("*.schema.json"):
        schema = json.loads(path.read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        store[schema["$id"]] = schema
    return store


_STORE = _load_store()


def validator(name):
    schema = _STORE["urn:vantorel-sysmon:" + name]
    resolver = jsonschema.RefResolver(base_uri=schema["$id"], referrer=schema, store=_STORE)
    return jsonschema.Draft202012Validator(schema, resolver=resolver)


def validate(name, text):
    """Parses `text` (str or UTF-8 bytes) and validates it as document `name`."""
    if isinstance(text, (bytes, bytearray)):
        text = bytes(text).decode("utf-8", errors="strict")
    document = json.loads(text)
    validator(name).validate(document)
    return document


def main(argv):
    if len(argv) < 2 or argv[1] not in DOCUMENTS:
        print(__doc__, file=sys.stderr)
        return 2
    name = argv[1]
    sources = argv[2:] or ["-"]
    failed = 0
    for source in sources:
        raw = sys.stdin.buffer.read() if source == "-" else pathlib.Path(source).read_bytes()
        try:
            validate(name, raw.strip())
        except (ValueError, jsonschema.ValidationError) as error:
            failed += 1
            message = error.message if isinstance(error, jsonschema.ValidationError) else str(error)
            print(f"{source}: not a valid {name} document: {message}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
