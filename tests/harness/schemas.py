"""The published JSON Schemas of the tools' outputs (schemas/*.schema.json), for the process
tests: every output a test captures goes through `validate` or `loads`, so that an output and
its schema that disagree fail the suite whichever of the two is wrong.

    validate("window-list", parsed)          # raises AssertionError, naming what is wrong
    windows = loads("window-list", stdout)   # parses (text or bytes), validates, returns it

Names are the schema files' names without ".schema.json". Integers are checked as the tools
print them: a JSON number written with a fraction or an exponent ("12.0") is no integer, as
json.loads reads it as a float. Formats are not checked (the schemas use none).
ORVANE_SCHEMA_DIR, when set, names another directory of the same files (an installed copy)."""

import json
import os
import re
import threading

from jsonschema import Draft202012Validator
from jsonschema.validators import extend

# The source tree's schemas, or those of an installed package (share/orvane/schemas).
DIRECTORY = os.environ.get("ORVANE_SCHEMA_DIR") or os.path.normpath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schemas"))


def _whole(checker, instance):
    return isinstance(instance, int) and not isinstance(instance, bool)


_Validator = extend(Draft202012Validator,
                    type_checker=Draft202012Validator.TYPE_CHECKER.redefine("integer", _whole))
_validators = {}
_lock = threading.Lock()  # tests validate from reader threads too


def names():
    return sorted(f[:-len(".schema.json")] for f in os.listdir(DIRECTORY)
                  if f.endswith(".schema.json"))


def validator(name):
    with _lock:
        if name not in _validators:
            with open(os.path.join(DIRECTORY, name + ".schema.json"), encoding="utf-8") as f:
                schema = json.load(f)
            Draft202012Validator.check_schema(schema)
            _validators[name] = _Validator(schema)
        return _validators[name]


def _alternatives(error):
    """The failures of each alternative of a oneOf/anyOf, without the alternatives that were
    never meant: those whose "type"/"kind" (or "cancelled"/"warmed") key names another one."""
    by_alternative = {}
    for sub in error.context or ():
        by_alternative.setdefault(sub.schema_path[0], []).append(sub)
    meant = {i: subs for i, subs in by_alternative.items()
             if not any(s.validator in ("const", "required") and len(s.relative_path) <= 1 and
                        (list(s.relative_path) in (["type"], ["kind"]) or
                         s.validator == "required" and
                         re.search(r"'(cancelled|warmed|kind)'", s.message))
                        for s in subs)}
    return [s for subs in (meant or by_alternative).values() for s in subs]


def problems(name, value):
    """Every way in which `value` breaks the schema, as readable lines; empty when it is valid."""
    found = []
    for error in sorted(validator(name).iter_errors(value), key=lambda e: list(e.path)):
        where = "".join("[%r]" % p for p in error.absolute_path) or "the document"
        found.append("%s: %s" % (where, error.message if len(error.message) < 300
                                  else error.message[:300] + "..."))
        found += _explained(error, "    ")
    return found


def _explained(error, indent):
    lines = []
    for sub in _alternatives(error):
        lines.append("%s%s: %s" % (indent, "".join("[%r]" % p for p in sub.absolute_path)
                                   or "the document", sub.message))
        lines += _explained(sub, indent + "    ")
    return lines


def validate(name, value):
    """Raises AssertionError when `value` (parsed JSON) breaks the schema `name`; returns it."""
    found = problems(name, value)
    if found:
        shown = json.dumps(value, ensure_ascii=False)
        if len(shown) > 2000:
            shown = shown[:2000] + "..."
        raise AssertionError("output does not match the %s schema:\n  %s\noutput: %s"
                             % (name, "\n  ".join(found), shown))
    return value


def loads(name, text):
    """Parses one JSON document (str or bytes) and validates it; returns the parsed value."""
    if isinstance(text, (bytes, bytearray)):
        text = text.decode("utf-8")
    return validate(name, json.loads(text))
