#!/usr/bin/env python3
"""The end-to-end scenarios (tests/scenarios/README.md) on scratch boards with the real binaries. CONFIG, which
CMake writes, names the binaries, the key and the emulators of a cross build.

  run.py CONFIG FILE.scn TITLE       one block: exit 0 passed, 1 failed, 77 skipped (no scratch board)
  run.py CONFIG --plans FILE.scn...  pkgtool plan before every upgrade run, held to the run
  run.py CONFIG --self-test          wrong expected lines planted in a block fail where they are written
"""
import difflib
import json
import os
import re
import sys
import tempfile

from board import Board, Unavailable, enter_private_namespace
from sweep import Sweep, end_section, scratch_on_tmpfs
from language import RUNS, Fault, console_view, describe, entry_words, escape, make, need, output_lines, read_file, \
    rewrite

DATABASE = '/flash/var/pdb/'
# The words of an upgrade run; a run with any other (-r ROOT, -, --show, --commit...) is no upgrade of this board.
UPGRADE_OPTIONS = {'--safe', '-q', '-down', '--reinstall', '-b', '--force', '--noupgrade', '-i'}
COMMIT_STAGE = r'ERROR: (not enough space for upgrade$|could not (commit|save) )'
WRITE_FAILURE = r'ERROR: installation of .* failed: (disk is too small|disk error|could not create )'


def diff(expected, actual):
    out = []
    for op, i, j, k, m in difflib.SequenceMatcher(None, expected, actual, autojunk=False).get_opcodes():
        out += ['         ' + x for x in expected[i:j]] if op == 'equal' else \
            ['expected ' + x for x in expected[i:j]] + ['actual   ' + x for x in actual[k:m]]
    return '\n'.join(out)


class Scenario:
    """A block run on a board of its own."""

    def __init__(self, config):
        self.board, self.own, self.numbered = Board(config), set(), {}

    def number(self, tree, own=False):
        """Staged files ("tmp" and six random letters or digits) new on the board: before a run the scenario's own,
        after it named tmp#1, tmp#2... Random names sort at random: they are numbered first as contents (the
        manifest) mention them, then by place and content."""
        names = {c for path in tree for c in path.split('/') if re.fullmatch(r'tmp[A-Za-z0-9]{6}', c)}
        fresh, order = sorted(names - self.own - set(self.numbered)), []
        if own:
            return self.own.update(fresh)
        for number, (path, (_, mode, data)) in enumerate(sorted(tree.items()), 1):
            order += [('%010d %010d' % (number, data.find(name)), name) for name in fresh if name in data]
            name = path[path.rfind('/') + 1:]
            order += [('~%s\0%s\0%d' % (path[:-len(name)], data, mode), name)] * (name in fresh)
        for _, name in sorted(order):
            self.numbered.setdefault(name, 'tmp#%d' % (len(self.numbered) + 1))

    def named(self, text):
        for name, number in sorted(self.numbered.items()):
            text = text.replace(name, number)
        return text

    def words(self, step):
        """The words and standard input of a run step: WORDS [< PACKAGE | <<< CONTENT]."""
        here = re.search(r'(?:^|(?<=[ \t]))<<<(?= |$)', step.rest)
        stdin = make(step.rest[here.end() + 1:], self.board.packages) if here else ''
        words = self.board.expand(step.rest[:here.start()] if here else step.rest)
        return (words[:-2], self.board.packages[words[-1]]) if words[-2:-1] == ['<'] else (words, stdin)

    def run(self, step):
        """(status, out, err, changes) of a run step, host paths hidden."""
        words, stdin = self.words(step)
        before = self.board.snapshot()
        self.number(before, own=True)
        status, out, err = self.board.run(step.keyword, words, stdin)
        after = self.board.snapshot()
        self.number(after)
        before, after = ({self.named(p): (k, m, self.named(d)) for p, (k, m, d) in t.items()} for t in (before, after))
        return status, self.named(self.board.hide(out)), self.named(self.board.hide(err)), changes(before, after)

    def compare(self, step, actual):
        """The faults of a run as (line, message), at the first expected line that differs, and the expected lines
        that would make it pass. Output is compared as the console shows it, or byte for byte where "=" lines
        give it ("= \\c": none at all)."""
        status, out, err, found = actual
        exact = any(text[0] == '=' for _, text in step.expected)
        shown = (output_lines('=', out) or ['= \\c']) if exact else output_lines('|', console_view(out))
        got = ['status %d' % status] * bool(status) + shown + output_lines('!', err) + [
            change_line(change, self.board.packages) for change in found]
        written = [text for _, text in step.expected]
        at = next((i for i, text in enumerate(written) if got[i:i + 1] != [text]), len(written) - 1)
        where = 'after `%s` (line %d): ' % (' '.join(filter(None, (step.keyword, step.rest))), step.line)
        return [(step.expected[at][0] if written else step.line, where + 'the run gives other lines:\n' +
                 diff(written, got))] * (got != written), got

    def plan(self, step):
        """Before an upgrade run of this board (else None), pkgtool plan on it: the plan, the run's options and what
        the plan must not do. A run on another root (-r) is none: options as installer's command line reads them."""
        words = self.board.expand(step.rest)
        if step.keyword not in ('run', 'run-inside') or '<' in step.rest or not set(words) <= UPGRADE_OPTIONS:
            return None
        before, scratch, env = self.board.snapshot(), tempfile.mkdtemp(dir=self.board.scratch), self.board.env
        self.board.env = dict(env, TMPDIR=scratch)  # where it stages, and must leave nothing
        status, out, err = self.board.run('pkgtool', ['plan', '--json', '-r', self.board.root] + [
            '--down'] * ('-down' in words) + ['--reinstall'] * ('--reinstall' in words))
        self.board.env = env
        return json.loads(out) if status < 2 else None, set(words), \
            ['the plan changed the board'] * (self.board.snapshot() != before) + \
            ['the plan left files behind'] * bool(os.listdir(scratch)) + ['pkgtool plan: ' + err] * (status > 1)


def changes(before, after):
    """The changes between two snapshots in path order as [op, path, (kind, mode, data), entry words], but
    removals below a removed directory; a new database entry that the notation gives is one change, its words."""
    found = [['-' if path not in after else '+' if path not in before else '~', path,
              after.get(path) or before[path], None]
             for path in sorted(set(before) | set(after)) if before.get(path) != after.get(path)]
    removed, kept = set(), []
    for change in found:
        op, path, (kind, _, _), words = change
        if words == 'folded' or op == '-' and any(path[:i] in removed for i in range(len(path)) if path[i] == '/'):
            continue
        removed |= {path} if op == '-' and kind == 'd' else set()
        kept.append(change)
        if op == '+' and kind == 'd' and path.startswith(DATABASE) and '/' not in path[len(DATABASE):]:
            inside = [c for c in found if c[1].startswith(path + '/')]
            files = {c[1][len(path) + 1:]: c[2][2] for c in inside if c[0] == '+' and c[2][:2] == ('f', 0o600)}
            change[3] = entry_words(path[len(DATABASE):], files)
            if change[3] is not None and len(files) == len(inside) and not any('/' in name for name in files):
                for c in inside:
                    c[3] = 'folded'
            else:
                change[3] = None
    return kept


def change_line(change, packages):
    """A change as an expected line: its content described, a link's text, or a new entry's words."""
    op, path, (kind, mode, data), words = change
    head = op + ' ' + escape(path).replace(' ', '\\x20') + '/' * (kind == 'd')
    if op == '-' or kind == 'l':
        return head + (' -> "%s"' % escape(data, True)) * (op != '-')
    if words:
        return '%s %04o entry %s' % (head, mode, words)
    return '%s %04o' % (head, mode) + {'d': '', 'o': ' other'}.get(kind, ' ' + describe(data, packages))


def disagreements(plan, options, actual):
    """How the run did not say and do what the plan foretold: its messages in order (but a quiet run's, and but
    what the commit stage says), the space check, the entries changed, or whether --safe saved a manifest. Where
    the commit or the manifest's save failed (status 1), the space check passed and nothing else is compared. A
    package whose files could not be written, which no plan can foresee, ends the run: the messages are compared
    up to it, nothing else."""
    status, out, _, found = actual
    said = [line for line in console_view(out).split('\n') if line and line != 'Resuming upgrade...' and
            not re.match(COMMIT_STAGE, line)]
    cut = next((i for i, line in enumerate(said) if re.match(WRITE_FAILURE, line)), None)
    foretold = plan['scheduled'] + plan['selection'] + sum((p['messages'] for p in plan['packages']), []) + \
        plan['closing']
    checks = [(foretold[:cut], said[:cut], 'messages')] * ('-q' not in options)
    checks += [(plan['space']['enough'], status != 28, 'enough space')] * (cut is None)
    if cut is None and status != 1 and '--safe' in options:
        checks.append((plan['verdict'] == 'commit', any(c[1] == '/ram/MANIFEST' and c[0] != '-' for c in found),
                       'a manifest saved by --safe'))
    elif cut is None and status != 1:
        checks.append((sorted({c['name'] for c in plan['changes']}),
                       sorted({c[1][len(DATABASE):].split('/')[0] for c in found if c[1].startswith(DATABASE)}),
                       'the entries changed'))
    return ['%s: the plan foretold %s, the run gave %s' % (what, planned, given) for planned, given, what in checks
            if planned != given]


def check_block(config, path, title, rewriting=False, plans=None):
    """The faults of a block as (line, message); rewriting, its failing runs are rewritten instead. Given a list
    of plans, every upgrade run is held to the plan made before it (and appended) instead of expected lines."""
    blocks, fault = read_file(path)
    block = blocks.get(title)
    if fault or block is None or block.error:
        return [fault or (block and block.error) or (0, 'no block titled ' + title)]
    if any(step.keyword == 'sweep' for step in block.steps):
        scratch_on_tmpfs()
    scenario, faults, runs, sweeps, step = Scenario(config), [], [], [], None
    try:
        for step in block.steps + [None]:
            if sweeps and not sweeps[0].section:
                need(step and (step.keyword == 'sweep' or step.keyword in RUNS and not step.gap),
                     'a sweep is followed by its runs')
            elif sweeps and (step is None or step.keyword not in RUNS or step.gap):
                faults, sweeps = faults + end_section(scenario, sweeps), []
            if step is None:
                break
            if step.keyword == 'sweep':
                sweeps.append(Sweep(scenario, step, sweeps[0] if sweeps else None))
            elif step.keyword not in RUNS:
                scenario.board.setup(step)
            if step.keyword not in RUNS:
                continue
            if sweeps:
                sweeps[0].section.append(step)
            plan, options, found = (scenario.plan(step) if plans is not None else None) or (None, set(), [])
            actual = scenario.run(step)
            if plans is not None:
                plans += [plan] * bool(plan)
                faults += [(step.line, x) for x in found + (disagreements(plan, options, actual) if plan else [])]
                continue
            found, lines = scenario.compare(step, actual)
            faults += found
            runs.append(lines if found else None)
            if found and not rewriting:
                break
    except Fault as fault:
        return faults + [((step or sweeps[-1]).line, str(fault))]
    finally:
        scenario.board.close()
        if sweeps:
            sweeps[0].main.close()
    if rewriting and faults:
        rewrite(path, title, runs)
        print('%s:%d: rewrote %s' % (path, block.line, title))
    return [] if rewriting else faults


# Wrong expected lines planted in self_test.scn (text replaced, replacement), and the line each must fail at.
PLANTED = [('| installed', 'status 1\n| installed', 7), ('app-1.0\n+', 'app\n+', 7), ('0755 "a', '0644 "a', 10),
           ('files=bin/app', 'files=bin/b', 12), ('install... \\b\\x20', 'install...', 14)]


def self_test(config):
    """self_test.scn passes, each planted line fails at its line, all of them rewritten give the right block."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'self_test.scn')) as f:
        right = f.read()
    wrong = right
    for old, new, _ in PLANTED:
        wrong = wrong.replace(old, new, 1)
    with tempfile.NamedTemporaryFile('r', suffix='.scn') as copy:
        def faults_of(text, rewriting=False):  # of a copy of the block with the text
            with open(copy.name, 'w') as f:
                f.write(text)
            return ['%d: %s' % fault for fault in check_block(config, copy.name, 'T', rewriting)]
        problems = ['the right block fails: ' + x for x in faults_of(right)]
        for old, new, line in PLANTED:
            found = faults_of(right.replace(old, new, 1))
            problems += ['planted %r: %s' % (new, found)] * (not found or not found[0].startswith('%d: after `' % line))
        faults_of(wrong, True)
        return problems + ['the rewrite did not give the right block back'] * (copy.read() != right)


def main(config_path, command, *args):
    with open(config_path) as f:
        config = dict(line.split('=', 1) for line in f.read().splitlines())
    os.umask(0o022)  # the modes of new directories are part of what runs give
    plans = [] if command == '--plans' else None
    blocks = [(path, title) for path in args for title in read_file(path)[0]] if command == '--plans' else \
        [] if command == '--self-test' else [(command, args[0])]
    rewriting = plans is None and os.environ.get('INSTALLER_SCENARIO_REWRITE') == '1'
    try:
        enter_private_namespace()
        faults = ['%s:%d: %s' % (path, line, what) for path, title in blocks
                  for line, what in check_block(config, path, title, rewriting, plans)]
        faults += self_test(config) if command == '--self-test' else []
    except Unavailable as why:
        print('skipped: no scratch board: %s' % why)
        return 77
    if plans is not None and len(plans) < 10:  # the one test that walks every block
        faults.append('the scenarios hold %d upgrade runs, fewer than they did' % len(plans))
    if faults:
        print('\n'.join(faults))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
