#!/usr/bin/python3
"""Reference writer for results documents, built on Python's json and PyYAML.

Reads cases from a file of JSON lines, one value per line in the tagged form written by the
differential test (texts as hex bytes, reals as their IEEE bits, report nodes with their field
order and fields), rebuilds each value as Python objects, and writes one JSON line per case:
{"json": text or null, "yaml": text or null}, null where the writer refused the value.

The JSON text comes from json.dumps with an encoder whose only addition is `default`; the YAML
text from yaml.dump with a SafeDumper subclass carrying the representers of the results
documents and default_flow_style=False.

Usage: documents_oracle.py CASES OUT
"""
import datetime
import json
import struct
import sys

import yaml

VERSION = "3.4"
VALUE_IGNORE = [None, [], {}]
FLOAT_PRECISION = 2
YAML_MAP = "tag:yaml.org,2002:map"
YAML_STR = "tag:yaml.org,2002:str"
YAML_FLT = "tag:yaml.org,2002:float"


class AttrDict(dict):
    pass


class TestResult:
    def __init__(self, value, reason, data):
        self.value = value
        self.reason = reason
        self.data = data


class ResultCounter:
    def __init__(self, items, total, success_rate):
        self._items = items
        self.total = total
        self.success_rate = success_rate

    def items(self):
        return list(self._items)

    @property
    def data(self):
        return dict(self._items)


class ReportObjectBase:
    def __init__(self, arg_order, fields, representation):
        self._ARG_ORDER = arg_order
        self._repr = representation
        for name, value in fields:
            setattr(self, name, value)

    def __repr__(self):
        return self._repr

    @classmethod
    def to_yaml(cls, dumper, data):
        pairs = []
        for name in data._ARG_ORDER:
            value = getattr(data, name, None)
            if value in VALUE_IGNORE:
                continue
            pairs.append((name, value))
        return dumper.represent_mapping(YAML_MAP, pairs)


class TrialKit(ReportObjectBase):
    pass


class Task(ReportObjectBase):
    pass


class Plugin(ReportObjectBase):
    pass


class Section(ReportObjectBase):
    pass


NODE_KINDS = {cls.__name__: cls for cls in (ReportObjectBase, TrialKit, Task, Plugin, Section)}


class Opaque:
    def __init__(self, representation):
        self._repr = representation

    def __repr__(self):
        return self._repr


_classes = {}


def named_class(name, base):
    key = (name, base)
    if key not in _classes:
        _classes[key] = type(name, (base,), {})
    return _classes[key]


class JSONDumper(json.JSONEncoder):
    def default(self, obj):
        replacement = None
        if isinstance(obj, ReportObjectBase):
            replacement = {}
            for name in obj._ARG_ORDER:
                value = getattr(obj, name, None)
                if value in VALUE_IGNORE:
                    continue
                replacement[name] = value
        elif isinstance(obj, TestResult):
            replacement = {"value": obj.value}
            if obj.reason:
                replacement["reason"] = obj.reason
            if obj.data:
                replacement["data"] = obj.data
        elif isinstance(obj, ResultCounter):
            replacement = dict(obj.data)
            replacement["total"] = obj.total
            replacement["success_rate"] = obj.success_rate
        elif isinstance(obj, datetime.datetime):
            replacement = str(obj)
        elif isinstance(obj, BaseException):
            replacement = repr(obj)
        if replacement:
            return replacement
        return super().default(obj)


class YAMLDumper(yaml.SafeDumper):
    def increase_indent(self, flow=False, indentless=False):
        return super().increase_indent(flow, False)

    def ignore_aliases(self, data):
        return True


def str_representer(dumper, data):
    if "\n" in data:
        data = "\n".join(line.rstrip() for line in data.split("\n"))
        return dumper.represent_scalar(YAML_STR, data, style="|")
    return dumper.represent_scalar(YAML_STR, data)


def float_representer(dumper, data):
    return dumper.represent_scalar(YAML_FLT, repr(round(data, FLOAT_PRECISION)))


def type_representer(dumper, data):
    return dumper.represent_scalar(YAML_STR, "<class '%s'>" % data.__name__)


def unknown_representer(dumper, data):
    return dumper.represent_mapping(YAML_MAP, {"type": type(data), "repr": repr(data)})


def ResultCounter_representer(dumper, data):
    pairs = data.items() + [("total", data.total), ("success_rate", data.success_rate)]
    return dumper.represent_mapping(YAML_MAP, pairs)


def TestResult_representer(dumper, data):
    described = {"value": data.value}
    if data.reason:
        described["reason"] = data.reason
    if data.data:
        described["data"] = data.data
    return dumper.represent_mapping(YAML_MAP, described)


def AttrDict_representer(dumper, data):
    return dumper.represent_mapping(YAML_MAP, data)


YAMLDumper.add_representer(str, str_representer)
YAMLDumper.add_representer(float, float_representer)
YAMLDumper.add_representer(type, type_representer)
YAMLDumper.add_representer(None, unknown_representer)
YAMLDumper.add_representer(ResultCounter, ResultCounter_representer)
YAMLDumper.add_representer(TestResult, TestResult_representer)
YAMLDumper.add_representer(AttrDict, AttrDict_representer)
for kind in (TrialKit, Task, Section, Plugin):
    YAMLDumper.add_representer(kind, kind.to_yaml)


def text(hexed):
    return bytes.fromhex(hexed).decode("utf-8", "replace")


def build(encoded):
    """The Python value of one tagged value."""
    tag = encoded[0]
    if tag == "none":
        return None
    if tag in ("bool", "int"):
        return encoded[1]
    if tag == "float":
        return struct.unpack(">d", bytes.fromhex(encoded[1]))[0]
    if tag == "str":
        return text(encoded[1])
    if tag == "list":
        return [build(item) for item in encoded[1]]
    if tag == "tuple":
        return tuple(build(item) for item in encoded[1])
    if tag in ("dict", "attrdict"):
        entries = {text(key): build(value) for key, value in encoded[1]}
        return AttrDict(entries) if tag == "attrdict" else entries
    if tag == "datetime":
        year, month, day, hour, minute, second, micro, offset = encoded[1:]
        zone = None if offset is None else datetime.timezone(datetime.timedelta(minutes=offset))
        return datetime.datetime(year, month, day, hour, minute, second, micro, tzinfo=zone)
    if tag == "result":
        return TestResult(encoded[1], text(encoded[2]), build(encoded[3]))
    if tag == "tally":
        return ResultCounter([(key, count) for key, count in encoded[1]], encoded[2],
                             build(encoded[3]))
    if tag == "node":
        kind, arg_order, fields, representation = encoded[1:]
        return NODE_KINDS[kind](arg_order, [(name, build(v)) for name, v in fields],
                                text(representation))
    if tag == "error":
        return named_class(encoded[1], Exception)(*[build(arg) for arg in encoded[2]])
    if tag == "object":
        return named_class(encoded[1], Opaque)(text(encoded[2]))
    raise ValueError("unknown tag %r" % tag)


def written(write, data):
    try:
        return write(data)
    except (TypeError, ValueError, RecursionError, yaml.YAMLError):
        return None


def main(cases_path, out_path):
    sys.setrecursionlimit(20000)
    with open(cases_path, encoding="ascii") as cases, open(out_path, "w", encoding="ascii") as out:
        for line in cases:
            data = build(json.loads(line))
            out.write(json.dumps({
                "json": written(lambda d: json.dumps(d, cls=JSONDumper), data),
                "yaml": written(lambda d: yaml.dump(d, Dumper=YAMLDumper, default_flow_style=False), data),
            }) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
