"""The report page in headless Chromium: what it shows after its script ran is read back from
the DOM Chromium dumps and compared with the results document read by Python's json.

    browser_check.py MORVI SAMPLE_JOB WORKDIR
"""
import html.parser
import json
import os
import shutil
import subprocess
import sys

CHROMIUM = '/usr/bin/chromium'
LAUNCH_SECONDS = 180


class Element:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def classes(self):
        return (self.attrs.get('class') or '').split()

    def text(self):
        return ''.join(c if isinstance(c, str) else c.text() for c in self.children)

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Element):
                yield from c.walk()

    def find_all(self, tag=None, cls=None, **attrs):
        return [e for e in self.walk() if (tag is None or e.tag == tag) and (cls is None or cls in e.classes())
                and all(e.attrs.get(k.replace('_', '-')) == v for k, v in attrs.items())]

    def find(self, *args, **kwargs):
        found = self.find_all(*args, **kwargs)
        assert found, ('not found', args, kwargs)
        return found[0]


VOID = {'meta', 'input', 'br', 'img', 'hr', 'link'}


class Dom(html.parser.HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.root = Element('#document', {}, None)
        self.at = self.root
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        e = Element(tag, attrs, self.at)
        self.at.children.append(e)
        if tag not in VOID:
            self.at = e

    def handle_endtag(self, tag):
        e = self.at
        while e is not None and e.tag != tag:
            e = e.parent
        if e is not None and e.parent is not None:
            self.at = e.parent

    def handle_data(self, data):
        self.at.children.append(data)


def chromium(workdir, url, *extra):
    profile = os.path.join(workdir, 'chromium-profile')
    shutil.rmtree(profile, ignore_errors=True)
    command = [CHROMIUM, '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
               '--disable-extensions', '--user-data-dir=' + profile, *extra, url]
    done = subprocess.run(command, capture_output=True, timeout=LAUNCH_SECONDS, check=True)
    return done.stdout.decode('utf-8')


def nodes_in_order(document):
    out, todo = [], [(document['report'], [])]
    while todo:
        node, ancestors = todo.pop()
        out.append((node, ancestors))
        for kid in reversed(node.get('tasks', []) + node.get('sections', [])):
            todo.append((kid, ancestors + [len(out) - 1]))
    return out


def morvi_report(morvi, results, page):
    done = subprocess.run([morvi, 'report', 'html', results, '-o', page], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def check_counts(dom, box, tally, where):
    for span in box.find_all('span', cls='count'):
        result = span.attrs['data-result']
        shown = span.find('span', cls='n').text()
        assert shown == str(tally.get(result, 0)), (where, result, shown, tally)


def sample_page(morvi, sample_job, workdir):
    out = os.path.join(workdir, 'sample')
    subprocess.run([sample_job, out], capture_output=True, timeout=120, check=True)
    results, page = os.path.join(out, 'results.json'), os.path.join(out, 'report.html')
    morvi_report(morvi, results, page)
    document = json.load(open(results, encoding='utf-8'))
    order = nodes_in_order(document)
    failing = [i for i, (n, _) in enumerate(order) if n['type'] == 'Step' and n.get('result', {}).get('value') == 'failed'
               and not n.get('sections')]
    assert failing, 'the sample job has a failing step'
    step = failing[0]
    step_node, ancestors = order[step]
    query = step_node['id']
    url = 'file://' + page + '#q=' + query + '&node=' + str(step)
    dom = Dom(chromium(workdir, url, '--dump-dom')).root
    assert dom.find('html').attrs.get('data-ready-ms'), 'the script ran to its end'

    report = document['report']
    check_counts(dom, dom.find(id='job-counts'), report['summary'], 'job')
    tasks = dom.find(id='tasks')
    rows = tasks.find_all('tr')[1:]
    top = [i for i, (_, a) in enumerate(order) if len(a) == 1]
    assert [int(r.attrs['data-node']) for r in rows] == top
    for row in rows:
        node = order[int(row.attrs['data-node'])][0]
        if 'summary' in node:
            check_counts(dom, row, node['summary'], node['fullid'])
    assert dom.find(id='job-tasks-run-planned').text() == '%d / %d' % (
        sum(1 for t in report['tasks'] if t['type'] == 'Task'), report['totaltasks'])

    # The step is shown where it stands: its task and testcase expanded, its fields open.
    for a in ancestors:
        box = dom.find('div', cls='node', data_node=str(a))
        assert 'open' in box.classes(), ('ancestor not expanded', order[a][0]['fullid'])
    kinds = [order[a][0]['type'] for a in ancestors]
    assert 'Task' in kinds and 'Testcase' in kinds, kinds
    box = dom.find('div', cls='node', data_node=str(step))
    assert 'hl' in box.classes() and 'open' in box.classes()
    assert step_node['description'] in box.find('table', cls='fields').text()

    # Failures first: every failed, errored or aborted node, each linked to its node.
    bad = [i for i, (n, _) in enumerate(order) if n.get('result', {}).get('value') in ('failed', 'errored', 'aborted')]
    links = [b.find('a').attrs['href'] for b in dom.find(id='failures').find_all('div', cls='failure')]
    assert links == ['#node=%d' % i for i in bad], links

    # The search found the step by its id, and nothing else that does not hold the text.
    matching = [i for i, (n, _) in enumerate(order) if query.lower() in str(n['id']).lower()
                or query.lower() in str(n.get('name', '')).lower()]
    found = [a.attrs['href'] for a in dom.find(id='match-list').find_all('a')]
    assert found == ['#node=%d' % i for i in matching], (found, matching)
    assert step_node['fullid'] in [a.text() for a in dom.find(id='match-list').find_all('a')]

    shot = os.path.join(workdir, 'report.png')
    chromium(workdir, 'file://' + page + '#q=' + query, '--screenshot=' + shot, '--window-size=1000,900',
             '--hide-scrollbars', '--virtual-time-budget=3000')
    assert os.path.getsize(shot) > 10000, 'a screenshot was taken'
    print('sample page: %d nodes, %d failures, screenshot %s' % (len(order), len(bad), shot))


HOSTILE = '</script><script>document.title="pwned"</script><!-- "q" \'a\' & \x01\x1b\x7f \\ ' \
          '\u00e9\u2028\U0001F600 <img src=x onerror="document.title=\'pwned\'"> <b>bold</b>'


def hostile_page(morvi, workdir):
    big = 'y' * (1 << 20)
    report = {
        'type': 'TrialKit', 'id': HOSTILE, 'idlist': [HOSTILE], 'host': HOSTILE, 'submitter': HOSTILE,
        'summary': {'passed': 0, 'failed': 0, 'errored': 1, 'total': 1, 'success_rate': 0.0},
        'tasks': [{
            'type': 'Task', 'id': 't', 'idlist': ['t'], 'name': HOSTILE, 'result': {'value': 'errored'},
            'summary': {'errored': 1, 'total': 1},
            'sections': [{
                'type': 'Testcase', 'id': 'tc' + HOSTILE, 'idlist': ['t', 'tc'], 'description': HOSTILE + big,
                'result': {'value': 'errored', 'reason': HOSTILE}, 'details': [HOSTILE],
                'extra': {HOSTILE: HOSTILE}, 'parameters': {'p': HOSTILE}, 'xref': HOSTILE,
            }],
        }],
    }
    results, page = os.path.join(workdir, 'hostile.json'), os.path.join(workdir, 'hostile.html')
    json.dump({'version': '3.4', 'report': report}, open(results, 'w', encoding='utf-8'))
    morvi_report(morvi, results, page)
    dom = Dom(chromium(workdir, 'file://' + page + '#node=2', '--dump-dom')).root
    assert dom.find('html').attrs.get('data-ready-ms'), 'the script ran to its end'
    assert dom.find('title').text() != 'pwned'
    assert not dom.find_all('img') and not dom.find_all('b'), 'no markup from the data'
    assert len(dom.find_all('script')) == 2
    assert all('onerror' not in e.attrs for e in dom.walk())
    texts = [e.text() for e in dom.walk() if e.tag in ('span', 'dd', 'th', 'td', 'a', 'div')]
    assert HOSTILE in dom.find('h1').text(), 'the job name shows as text'
    assert dom.find(id='job-host').text() == HOSTILE
    box = dom.find('div', cls='node', data_node='2')
    fields = box.find('table', cls='fields').text()
    for part in (HOSTILE + big, 'xref', 'parameters'):
        assert part in fields, part[:40]
    assert any(t == 'reason: ' + HOSTILE for t in texts), 'the reason shows as text'
    print('hostile page: ok')


def main(morvi, sample_job, workdir):
    workdir = os.path.abspath(workdir)
    os.makedirs(workdir, exist_ok=True)
    sample_page(morvi, sample_job, workdir)
    hostile_page(morvi, workdir)


if __name__ == '__main__':
    main(*sys.argv[1:4])
