#!/usr/bin/env python3
"""The end-to-end scenarios (tests/scenarios/README.md) on scratch boards with the real binaries. CONFIG, which
CMake writes, names the binaries, the key and the emulators of a cross build.

  run.py CONFIG FILE.scn TITLE       one block: exit 0 passed, 1 failed, 77 skipped (no scratch board)
  run.py CONFIG --plans FILE.scn...  pkgtool plan before every upgrade run, held to the run
  run.py CONFIG --self-test          wrong expected lines planted in a block fail where they are written
"""
import difflib
import fcntl
import json
import os
import re
import shutil
import sys
import tempfile

from board import Board, Unavailable, enter_private_namespace
from language import RUNS, Fault, console_view, content, describe, entry_files, entry_words, escape, make, need, \
    output_lines, parse_file, parse_states, rewrite, sha1

DATABASE, RUN_TOO_BIG = '/flash/var/pdb/', 'ERROR: not enough space for upgrade'


def diff(expected, actual):
    out = []
    for op, i, j, k, m in difflib.SequenceMatcher(None, expected, actual, autojunk=False).get_opcodes():
        out += ['         ' + x for x in expected[i:j]] if op == 'equal' else \
            ['expected ' + x for x in expected[i:j]] + ['actual   ' + x for x in actual[k:m]]
    return '\n'.join(out)


class Scenario:
    """A block run on a board of its own; the staged files its runs make ("tmp" and six random letters or
    digits) are named tmp#1, tmp#2... in the order they come."""

    def __init__(self, config):
        self.board, self.own, self.numbered = Board(config), set(), {}

    def temporaries(self, tree):
        names = {c for path in tree for c in path.split('/') if re.fullmatch(r'tmp[A-Za-z0-9]{6}', c)}
        return names - self.own - set(self.numbered)

    def number(self, tree):
        # Random names sort at random: number them first as contents (the
        # manifest) mention them, then by directory, content and mode.
        fresh, order = sorted(self.temporaries(tree)), []
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

    def run(self, step):
        """(status, out, err, changes) of a run step: WORDS [< PACKAGE | <<< CONTENT], host paths hidden."""
        here = re.search(r'(?:^|(?<=[ \t]))<<<(?= |$)', step.rest)
        stdin = make(step.rest[here.end() + 1:], self.board.packages) if here else ''
        words = self.board.expand(step.rest[:here.start()] if here else step.rest)
        if len(words) >= 2 and words[-2] == '<':
            stdin, words = self.board.packages[words[-1]], words[:-2]
        need(step.keyword != 'pkgtool' or not stdin, 'pkgtool reads no standard input')
        before = self.board.snapshot()
        self.own |= self.temporaries(before)  # names that no run made are the scenario's own
        status, out, err = self.board.run(step.keyword, words, stdin)
        after = self.board.snapshot()
        self.number(after)
        before, after = ({self.named(p): (k, m, self.named(d)) for p, (k, m, d) in t.items()} for t in (before, after))
        return status, self.named(self.board.hide(out)), self.named(self.board.hide(err)), changes(before, after)

    def compare(self, step, actual):
        """The faults of a run as (line, message), and the expected lines that would make it pass."""
        status, out, err, found = actual
        mark, packages = '=' if step.exact else '|', self.board.packages
        got_out, got_err = output_lines(mark, out if step.exact else console_view(out)), output_lines('!', err)
        # A change that an expected line describes keeps that line as written.
        got = [next((text for _, text, _ in step.changes if matches(text, c, packages)), None) or
               change_line(c, packages) for c in found]
        written = [text for _, text, _ in sorted(step.changes, key=lambda c: c[2])]
        faults = [(step.status_line, 'status %d, expected %d' % (status, step.status))] * (status != step.status)
        for what, first, expected, actual in (
                ('standard output' + ' as the console shows it' * (not step.exact), step.out_line,
                 output_lines(mark, step.out), got_out),
                ('standard error', step.err_line, output_lines('!', step.err), got_err)):
            at = next((i for i in range(len(expected) - 1) if i >= len(actual) or expected[i] != actual[i]),
                      max(len(expected) - 1, 0))  # the first expected line that differs
            faults += [(first and first + at, what + ' differs:\n' + diff(expected, actual))] * (expected != actual)
        # At the first expected change that did not come, else the first.
        missing = [n for n, text, _ in step.changes if text not in got] + [n for n, _, _ in step.changes] + [0]
        faults += [(missing[0], 'the board\'s changes differ:\n' + diff(written, got))] * (got != written)
        where = 'after `%s` (line %d): ' % (' '.join(filter(None, (step.keyword, step.rest))), step.line)
        return [(line or step.line, where + what) for line, what in faults], \
            ['status %d' % status] * bool(status) + got_out + got_err + got

    def plan(self, step):
        """Before an upgrade run, pkgtool plan --json on the same board: the plan, whether the run is --safe, and
        what the plan did that it must not. None for any other run."""
        words = re.sub(r'(?:^| )-r [^ ]+', '', ' '.join(self.board.expand(step.rest))).split()
        if step.keyword not in ('run', 'run-inside') or '<' in step.rest or not set(words) <= {
                '--safe', '-down', '--reinstall', '-q', '-b', '--force', '--noupgrade', '-i'}:
            return None
        before, scratch, env = self.board.snapshot(), tempfile.mkdtemp(dir=self.board.scratch), self.board.env
        self.board.env = dict(env, TMPDIR=scratch)  # where it stages, and must leave nothing
        status, out, err = self.board.run('pkgtool', ['plan', '--json', '-r', self.board.root] + [
            '--down'] * ('-down' in words) + ['--reinstall'] * ('--reinstall' in words))
        self.board.env = env
        return json.loads(out) if status < 2 else None, '--safe' in words, \
            ['the plan changed the board'] * (self.board.snapshot() != before) + \
            ['the plan left files behind'] * bool(os.listdir(scratch)) + ['pkgtool plan: ' + err] * (status > 1)


def changes(before, after):
    """The changes between two snapshots in path order, [op, path, entry, entry words, entry files], but
    removals below a removed directory; a new database entry that the notation gives takes its files as words."""
    found = [['-' if path not in after else '+' if path not in before else '~', path,
              after.get(path) or before[path], None, None]
             for path in sorted(set(before) | set(after)) if before.get(path) != after.get(path)]
    removed, kept = set(), []
    for change in found:
        op, path, (kind, _, _), words = change[:4]
        if words == 'folded' or op == '-' and any(path[:i] in removed for i in range(len(path)) if path[i] == '/'):
            continue
        removed |= {path} if op == '-' and kind == 'd' else set()
        kept.append(change)
        if op == '+' and kind == 'd' and path.startswith(DATABASE) and '/' not in path[len(DATABASE):]:
            inside = [c for c in found if c[1].startswith(path + '/')]
            files = {c[1][len(path) + 1:]: c[2][2] for c in inside if c[0] == '+' and c[2][:2] == ('f', 0o600)}
            words = entry_words(path[len(DATABASE):], files)
            if words is not None and len(files) == len(inside) and not any('/' in name for name in files):
                change[3:] = [words, files]
                for c in inside:
                    c[3] = 'folded'
    return kept


def change_head(change):
    """A change's line up to its content, link text or entry words (its whole line where it has none)."""
    op, path, (kind, mode, _), words = change[:4]
    head = op + ' ' + escape(path).replace(' ', '\\x20') + '/' * (kind == 'd')
    if op == '-' or kind == 'l':
        return head + ' -> ' * (op != '-')
    return '%s %04o%s' % (head, mode, ' entry ' if words else '' if kind == 'd' else ' other' if kind == 'o' else ' ')


def change_line(change, packages):
    head, (kind, _, data), words = change_head(change), change[2], change[3]
    if change[0] == '-' or kind in 'do' and words is None:
        return head
    return head + (words if words else '"%s"' % escape(data, True) if kind == 'l' else describe(data, packages))


def matches(line, change, packages):
    """Whether an expected line describes the change: as its own line does, or with a content form that holds."""
    head, (kind, _, data), words = change_head(change), change[2], change[3]
    if change[0] == '-' or kind in 'do' and words is None or not line.startswith(head):
        return line == head
    try:
        if words:
            states = parse_states(change[1][change[1].rfind('/') + 1:] + ' ' + line[len(head):])
            return len(states) == 1 and entry_files(states[0]) == change[4]
        spec = content(line[len(head):], True)
        return (len(data), sha1(data)) == spec if isinstance(spec, tuple) else spec(packages) == data
    except Fault:  # a content that cannot be read, a package never built
        return False


def disagreements(plan, safe, actual):
    """How the run did not say and do what the plan foretold: its messages in order, the space check (status 28
    but when a commit fails for another reason), the entries changed, whether --safe saved a manifest."""
    status, out, _, found = actual
    said = [line for line in console_view(out).split('\n') if line and line != 'Resuming upgrade...']
    commit = [line for line in said if re.match(r'ERROR: (not enough space for upgrade$|could not (commit|save) )',
                                                line)]
    foretold = plan['scheduled'] + plan['selection'] + sum((p['messages'] for p in plan['packages']), []) + \
        plan['closing']
    said, failed = [line for line in said if line not in commit], commit[:1] not in ([], [RUN_TOO_BIG])
    saved = any(c[1] == '/ram/MANIFEST' and c[0] != '-' for c in found)
    names = sorted({c[1][len(DATABASE):].split('/')[0] for c in found if c[1].startswith(DATABASE)})
    planned = sorted({c['name'] for c in plan['changes']})
    return [message for holds, message in (
        (foretold == said, 'the plan foretold\n  %s\nand the run said\n  %s' % ('\n  '.join(foretold),
                                                                             '\n  '.join(said))),
        ((status == 28 and not failed) != plan['space']['enough'], 'the plan\'s space check says %s, and the run '
         'ended with %d' % ('enough' if plan['space']['enough'] else 'not enough', status)),
        (not safe or saved == (plan['verdict'] == 'commit'), 'the plan said %s, and --safe saved %s manifest' % (
            plan['verdict'], 'a' if saved else 'no')),
        (safe or failed or planned == names, 'the plan changes the entries of %s, and the run changed %s' % (
            planned, names))) if not holds]


def read_blocks(path):
    with open(path, 'rb') as f:
        return parse_file(f.read().decode('latin-1'))


def check_block(config, path, title, rewriting=False, plans=None):
    """The faults of a block as (line, message); rewriting, its failing runs are rewritten instead. Given a list
    of plans, every upgrade run is held to the plan made before it (and appended) instead of expected lines."""
    blocks, fault = read_blocks(path)
    block = blocks.get(title)
    if fault or block is None or block.error:
        return [fault or (block and block.error) or (0, 'no block titled ' + title)]
    scenario, faults, runs = Scenario(config), [], []
    try:
        for step in block.steps:
            if step.keyword not in RUNS:
                scenario.board.setup(step)
                continue
            plan, safe, found = (scenario.plan(step) if plans is not None else None) or (None, False, [])
            actual = scenario.run(step)
            if plans is not None:
                plans += [plan] * bool(plan)
                faults += [(step.line, x) for x in found + (disagreements(plan, safe, actual) if plan else [])]
                continue
            found, lines = scenario.compare(step, actual)
            faults += found
            runs.append(lines if found else None)
            if found and not rewriting:
                break
    except Fault as fault:
        return faults + [(step.line, str(fault))]
    finally:
        scenario.board.close()
    if rewriting and faults:
        with open(path, 'r+b') as f:  # blocks of one file may be rewritten at once
            fcntl.flock(f, fcntl.LOCK_EX)
            text = rewrite(f.read().decode('latin-1'), title, runs)
            f.seek(0)
            f.truncate()
            f.write(text.encode('latin-1'))
        print('%s:%d: rewrote %s' % (path, block.line, title))
    return [] if rewriting else faults


# Wrong expected lines planted in self_test.scn (text replaced, replacement), and the line each must fail at.
PLANTED = [('| installed', 'status 1\n| installed', 7), ('app-1.0\n+', 'app\n+', 7), ('0755 "a', '0644 "a', 10),
           ('files=bin/app', 'files=bin/b', 12), ('install... \\b\\x20', 'install...', 14)]


def self_test(config):
    """The block of self_test.scn passes, each planted line fails at its line, and all of them rewritten give the
    block back."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'self_test.scn')) as f:
        right = f.read()
    path = tempfile.mkdtemp() + '/t.scn'

    def faults_of(text, rewriting=False):
        with open(path, 'w') as f:
            f.write(text)
        return ['%d: %s' % fault for fault in check_block(config, path, 'T', rewriting)]
    problems = ['the right block fails: ' + x for x in faults_of(right)]
    for old, new, line in PLANTED:
        found = faults_of(right.replace(old, new, 1))
        problems += [] if found[:1] and found[0].startswith('%d: after `' % line) else ['planted %r: %s' % (new, found)]
    wrong = right
    for old, new, _ in PLANTED:
        wrong = wrong.replace(old, new, 1)
    faults_of(wrong, True)
    with open(path) as f:
        problems += [] if f.read() == right else ['the rewrite did not give the right block back']
    shutil.rmtree(os.path.dirname(path))
    return problems


def main(config_path, command, *args):
    with open(config_path) as f:
        config = dict(line.split('=', 1) for line in f.read().splitlines())
    os.umask(0o022)  # the modes of new directories are part of what runs give
    try:
        enter_private_namespace()
        if command == '--self-test':
            faults = self_test(config)
        elif command == '--plans':  # one test walks every block; the scenarios hold at least ten upgrade runs
            faults, plans = [], []
            for path in args:
                faults += ['%s:%d: %s (line %d): %s' % (path, block.line, block.title, line, what)
                           for block in read_blocks(path)[0].values()
                           for line, what in check_block(config, path, block.title, False, plans)]
            faults += ['the scenarios hold %d upgrade runs, fewer than they did' % len(plans)] * (len(plans) < 10)
        else:
            rewriting = os.environ.get('INSTALLER_SCENARIO_REWRITE') == '1'
            faults = ['%s:%d: %s' % (command, line, what) for line, what in check_block(config, command, args[0],
                                                                                        rewriting)]
    except Unavailable as why:
        print('skipped: no scratch board: %s' % why)
        return 77
    if faults:
        print('\n'.join(faults))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
