"""The lines `morvi show results FILE [--depth N]` prints, from Python's own reading of the file.

Usage: show_oracle.py FILE [DEPTH]. Whole numbers outside 64 bits are read as reals, as the
results reader reads them; a value prints as Python's str() prints it.
"""
import json
import sys
import threading


def whole(text):
    n = int(text)
    return n if -2**63 <= n < 2**63 else float(text)


# Characters shown escaped although they are valid: invisible format and separator characters.
INVISIBLE = set(range(0x80, 0xA1)) | {0xAD, 0xFEFF} | set(range(0x200B, 0x2010)) \
    | set(range(0x2028, 0x202F)) | set(range(0x2060, 0x2065))
NAMED = {"\n": "\\n", "\r": "\\r", "\t": "\\t"}


def printable(text):
    """The text as one terminal-safe line: control and invisible characters as escapes."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch in NAMED:
            out.append(NAMED[ch])
        elif code < 0x20 or code == 0x7F or (code in INVISIBLE and code <= 0xFF):
            out.append("\\x%02x" % code)
        elif code in INVISIBLE:
            out.append("\\u%04x" % code)
        else:
            out.append(ch)
    return "".join(out)


def seconds(x):
    text = "%.6f" % x
    while len(text) > 1 and text[-1] == "0" and text[-2] != ".":
        text = text[:-1]
    return text + "s"


def line(node, depth):
    record = node if isinstance(node, dict) else {}
    fullid, ident = record.get("fullid"), record.get("id")
    name = printable(str(fullid)) if fullid is not None else "-" if ident is None else printable(str(ident))
    kind = "-" if record.get("type") is None else printable(str(record["type"]))
    result = record.get("result")
    shown = printable(str(result["value"])) if isinstance(result, dict) and "value" in result else "-"
    runtime = record.get("runtime")
    number = isinstance(runtime, (int, float)) and not isinstance(runtime, bool)
    return "%s%s  %s  %s  %s" % ("  " * depth, name, kind, shown, seconds(runtime) if number else "-")


def children(node):
    if not isinstance(node, dict):
        return []
    return [c for key in ("tasks", "sections") if isinstance(node.get(key), list) for c in node[key]]


def main():
    with open(sys.argv[1], encoding="utf-8-sig") as f:
        document = json.load(f, parse_int=whole)
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else None
    out = []
    pending = [(document["report"], 0)]
    while pending:
        node, depth = pending.pop()
        kids = children(node)
        text = line(node, depth)
        if kids and limit is not None and depth >= limit:
            text += "  (%d %s not shown)" % (len(kids), "child" if len(kids) == 1 else "children")
        else:
            pending.extend((kid, depth + 1) for kid in reversed(kids))
        out.append(text)
    sys.stdout.write("".join(t + "\n" for t in out))


# json recurses once per level: a deep document is read on a thread with room for that.
sys.setrecursionlimit(1 << 20)
threading.stack_size(1 << 30)
failed = []
threading.excepthook = lambda args: failed.append(args.exc_value)
reader = threading.Thread(target=main)
reader.start()
reader.join()
if failed:
    raise failed[0]
