"""Reads the data embedded in a report page back with Python's json and compares it, node by
node in document order, with the results document it was written from."""
import json
import sys


def embedded(page):
    start = page.index('<script type="application/json" id="morvi-data">')
    start = page.index('>', start) + 1
    end = page.index('</script>', start)
    return json.loads(page[start:end])


def shown(value):
    return value if isinstance(value, str) else json.dumps(value, separators=(',', ':'), ensure_ascii=False)


def walk(document):
    """(node, depth, fullid as shown) in document order."""
    out = []
    todo = [(document['report'], 0, None)]
    while todo:
        node, depth, parent_full = todo.pop()
        ident = shown(node.get('id', ''))
        full = shown(node['fullid']) if 'fullid' in node else (
            ident if parent_full is None or depth <= 1 else parent_full + '.' + ident)
        out.append((node, depth, full))
        kids = node.get('tasks', []) + node.get('sections', [])
        for kid in reversed(kids):
            todo.append((kid, depth + 1, full))
    return out


def main(results_path, page_path):
    document = json.load(open(results_path, encoding='utf-8'))
    page = open(page_path, encoding='utf-8').read()
    data = embedded(page)
    strings, nodes = data['strings'], data['nodes']
    expected = walk(document)
    assert len(nodes) == len(expected), (len(nodes), len(expected))
    fulls = []
    stack = []
    for index, (record, (node, depth, full)) in enumerate(zip(nodes, expected)):
        record = record + [-1] * (8 - len(record))
        d, typ, ident, res, runtime, fields, name, fullid = record
        where = 'node %d (%s)' % (index, full)
        assert d == depth, where
        assert strings[typ] == node['type'], where
        assert strings[ident] == shown(node.get('id', '')), where
        want_result = node['result']['value'] if 'result' in node else 'none'
        assert (data['results'] + ['none'])[res] == want_result, where
        if 'runtime' in node:
            assert abs(runtime / 1e6 - node['runtime']) < 1e-6, where
        else:
            assert runtime == -1, where
        assert (strings[name] if name >= 0 else strings[ident]) == shown(node.get('name', node.get('id', ''))), where
        # The page derives a full id the same way when none is stored.
        if fullid >= 0:
            derived = strings[fullid]
        elif depth <= 1:
            derived = strings[ident]
        else:
            derived = stack[depth - 1] + '.' + strings[ident]
        fulls.append(derived)
        del stack[depth:]
        stack.append(derived)
        assert derived == full, (where, derived)
        if fields >= 0:
            record_fields = data['fields'][fields]
            for key in ('description', 'extra', 'parameters', 'xref', 'details'):
                assert record_fields.get(key) == node.get(key), (where, key)
    failed = [i for i, (n, _, _) in enumerate(expected)
              if n.get('result', {}).get('value') in ('failed', 'errored', 'aborted')]
    assert [f[0] for f in data['failures']] == failed, 'failures'
    for f in data['failures']:
        node = expected[f[0]][0]
        assert f[2] == node['result'].get('reason', ''), 'reason'
        assert f[4] == node.get('details'), 'details'
        assert f[5] == node.get('logs'), 'logs'
    assert data['job'].get('summary') == document['report'].get('summary'), 'job summary'
    tasks = [i for i, (_, d, _) in enumerate(expected) if d == 1]
    assert [t[0] for t in data['tasks']] == tasks, 'tasks'
    for t in data['tasks']:
        assert t[1] == expected[t[0]][0].get('summary'), 'task summary'
    testcases = sorted(((n['runtime'], i) for i, (n, _, _) in enumerate(expected)
                        if n['type'] == 'Testcase' and 'runtime' in n), reverse=True)
    assert [expected[i][0]['runtime'] for i in data['slowest']] == [r for r, _ in testcases[:25]], 'slowest'
    print('ok', len(nodes))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
