"""Writes results documents whose sections nest as deep as readers accept (the top object is
level 1, each section takes two levels), the worst case for validating a document that fails:

    deep-bottom.json   one bad value in the deepest section
    deep-several.json  a bad value every 500 sections, of several kinds
    deep-top.json      one bad value in the report itself, the deep chain below it valid
    deep-every.json    a bad value in every section
    deep-valid.json    no problem at all

    python3 deep_documents.py OUT_DIR [--levels 9000]

The text is put together by hand: json.dump slows down badly with the depth.
"""
import argparse
import json
import os


def chain(sections, damage):
    """The document's text: a report holding `sections` nested sections; damage(k) gives the
    extra members of node k (0 is the report)."""
    def members(k, kind, name):
        fields = {"type": kind, "idlist": [name]}
        fields.update(damage(k))
        return ", ".join("%s: %s" % (json.dumps(key), json.dumps(value)) for key, value in fields.items())

    parts = ['{"version": "3.4", "report": {', members(0, "TrialKit", "job")]
    for k in range(1, sections + 1):
        parts.append(', "sections": [{' + members(k, "Section", "s%d" % k))
    parts.append("}]" * sections + "}}")
    return "".join(parts)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--levels", type=int, default=9000)
    args = parser.parse_args()
    # Level 1 is the top object, level 2 the report; section k's object lies at level 2 + 2k
    # and its idlist one deeper.
    sections = (args.levels - 3) // 2
    os.makedirs(args.out, exist_ok=True)

    kinds = [("runtime", "slow"), ("starttime", "yesterday"), ("colour", "red"),
             ("result", {"value": "passing"}), ("idlist", [])]

    def several(k):
        if k % 500 != 499:
            return {}
        key, value = kinds[(k // 500) % len(kinds)]
        return {key: value}

    variants = {
        "bottom": lambda k: {"runtime": "slow"} if k == sections else {},
        "several": several,
        "top": lambda k: {"runtime": "slow"} if k == 0 else {},
        "every": lambda k: {"runtime": "slow"},
        "valid": lambda k: {},
    }
    for name, damage in variants.items():
        with open(os.path.join(args.out, "deep-%s.json" % name), "w") as f:
            f.write(chain(sections, damage))


if __name__ == "__main__":
    main()
