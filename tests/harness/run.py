#!/usr/bin/env python3
"""The end-to-end scenarios (doc/scenarios.md) on scratch boards with the real binaries. CONFIG, which
CMake writes, names the binaries, the key and the emulators of a cross build.
  run.py CONFIG FILE.scn TITLE   one block: exit 0 passed, 1 failed, 77 skipped (no scratch board)
"""
import difflib
import os
import re
import sys

from board import Board, StagedNames, Unavailable, enter_private_namespace
from sweep import Sweep, scratch_on_tmpfs
from language import POSTLOG, RUNS, Fault, console_view, describe, entry_words, escape, make, need, output_lines, \
    read_file, rewrite

DATABASE = '/flash/var/pdb/'

class Scenario:
    """A block run on a board of its own."""
    def __init__(self, config):
        self.board, self.names = Board(config), StagedNames()

    def words(self, step):
        """The words and standard input of a run step: WORDS [< PACKAGE | <<< CONTENT]."""
        here = re.search(r'(?:^|(?<=[ \t]))<<<(?= |$)', step.rest)
        stdin = make(step.rest[here.end() + 1:], self.board.packages) if here else ''
        words = self.board.expand(step.rest[:here.start()] if here else step.rest)
        return (words[:-2], self.board.packages[words[-1]]) if words[-2:-1] == ['<'] else (words, stdin)

    def run(self, step):
        """(status, out, err, changes) of a run step, host paths hidden, staged files named."""
        words, stdin = self.words(step)
        plan = self.plan(words) if step.keyword == 'run' and words in ([], ['--safe']) else None
        before = self.names.tree(self.board.snapshot(), own=True)  # staged files already there are the block's own
        status, out, err = self.board.run(step.keyword, words, stdin)
        said = ('status %d\n' % status + console_view(out).rstrip('\n')).split('\n')
        need(plan in (None, said), 'pkgtool plan foretells other than the run (- plan, + run):\n' +
             '\n'.join(difflib.ndiff(plan or said, said)))
        after = self.names.tree(self.board.snapshot())
        out, err = self.names.text(self.board.hide(out)), self.names.text(self.board.hide(err))
        shown = ''.join(line + '\n' for line in console_view(out).split('\n') if line)
        return status, out, err, changes(before, after, shown)

    def plan(self, words):
        """The status and console lines of the run `pkgtool plan` foretells, without $TMPDIR; it changes nothing."""
        before, self.board.env['TMPDIR'] = self.board.snapshot(), '/nonexistent'
        status, out, _ = self.board.run('pkgtool', ['plan', '-r', self.board.root] + words)
        del self.board.env['TMPDIR']
        need(self.board.snapshot() == before, 'pkgtool plan changed the board')
        said = ('\n' + out).rsplit('\nchanges:', 1)[0][1:]  # what the run would print, before the changes
        return ('status %d\n' % status + console_view(said).rstrip('\n')).split('\n')

    def compare(self, step, actual):
        """The faults of a run as (line, message) and the expected lines that would make it pass; output as the
        console shows it, or byte for byte where "=" lines give it ("= \\c": none at all); a last "..." stands for
        whatever follows the lines before it."""
        status, out, err, found = actual
        exact = any(text[0] == '=' for _, text in step.expected)
        shown = (output_lines('=', out) or ['= \\c']) if exact else output_lines('|', console_view(out))
        got = ['status %d' % status] * bool(status) + shown + output_lines('!', err) + [
            change_line(change, self.board.packages) for change in found]
        written = [text for _, text in step.expected]
        if written[-1:] == ['...']:  # nothing after the lines before it is compared, but a status
            got = got[:max(len(written) - 1, bool(status))] + ['...']
        at = next((i for i, text in enumerate(written) if got[i:i + 1] != [text]), len(written) - 1)
        where = 'after `%s` (line %d): ' % (' '.join(filter(None, (step.keyword, step.rest))), step.line)
        return [(step.expected[at][0] if written else step.line, where + 'the run gives other lines (- expected, + '
                 'actual):\n' + '\n'.join(difflib.ndiff(written, got)))] * (got != written), got

def changes(before, after, shown=''):
    """The changes between two snapshots in path order, [op, path, (kind, mode, data), entry words]. A database entry,
    new or changed, that the notation gives is its words alone; a new directory of mode 0755 goes without saying
    where something new lies below it, and so does a post-install log written as the earlier one followed by the
    lines the run showed; nothing is told below a removed directory."""
    logged = ('f', 0o644, before.get(POSTLOG, ('f', 0o644, ''))[2] + shown)
    found = [['-' if path not in after else '+' if path not in before else '~', path,
              after.get(path) or before[path], None]
             for path in sorted(set(before) | set(after))
             if before.get(path) != after.get(path) and (path != POSTLOG or after.get(path) != logged)]
    entries = {DATABASE + c[1][len(DATABASE):].split('/')[0] for c in found if c[1].startswith(DATABASE)}
    found += [['~', path, after[path], None] for path in entries if path in before and before[path] == after.get(path)]
    kept, covered = [], []
    for change in sorted(found, key=lambda c: c[1]):
        op, path, (kind, _, _), _ = change
        if any(path.startswith(directory + '/') for directory in covered):
            continue
        if op != '-' and kind == 'd' and path in entries:
            inside = {p[len(path) + 1:]: e for p, e in after.items() if p.startswith(path + '/')}
            files = {name: e[2] for name, e in inside.items() if e[:2] == ('f', 0o600)}
            change[3] = entry_words(path[len(DATABASE):], files) if len(files) == len(inside) else None
        if change[3] is not None or before.get(path) != after.get(path):  # an unchanged entry only to carry words
            kept.append(change)
            covered += [path] * (op == '-' and kind == 'd' or change[3] is not None)
    return [c for c in kept if c[3] or c[0] != '+' or c[2][:2] != ('d', 0o755) or
            not any(k[0] == '+' and k[1].startswith(c[1] + '/') for k in kept)]

def change_line(change, packages):
    """A change as an expected line: its content described, a link's text, or a new entry's words."""
    op, path, (kind, mode, data), words = change
    head = op + ' ' + escape(path).replace(' ', '\\x20') + '/' * (kind == 'd')
    if op == '-' or kind == 'l':
        return head + (' -> "%s"' % escape(data, True)) * (op != '-')
    return '%s %04o' % (head, mode) + (' entry ' + words if words else {'d': '', 'o': ' other'}.get(
        kind, ' ' + describe(data, packages)))

def check_block(config, path, title, rewriting=False):
    """The faults of a block as (line, message); rewriting, its failing runs are rewritten instead."""
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
            elif sweeps and (step is None or step.keyword not in RUNS or step.gap):  # the section has run as usual
                new = scenario.board.snapshot()
                scenario.board.close()
                scenario.board = sweeps[0].main
                faults, sweeps = faults + sum((sweep.finish(new) for sweep in sweeps), []), []
            if step is None:
                break
            if sweeps and step.keyword in RUNS:
                sweeps[0].section.append(step)
            if step.keyword == 'sweep':
                sweeps.append(Sweep(scenario, step, sweeps[0] if sweeps else None))
            elif step.keyword not in RUNS:
                scenario.board.setup(step)
            else:
                found, lines = scenario.compare(step, scenario.run(step))
                faults, runs = faults + found, runs + [lines if found else None]
                if found and not rewriting:
                    break
    except Fault as fault:
        return faults + [((step or sweeps[-1]).line, str(fault))]
    finally:
        for board in [scenario.board] + [sweep.main for sweep in sweeps[:1]]:
            board.close()
    if rewriting and faults:
        rewrite(path, title, runs)
        print('%s:%d: rewrote %s' % (path, block.line, title))
    return [] if rewriting else faults

def main(config_path, path, title):
    with open(config_path) as f:
        config = dict(line.split('=', 1) for line in f.read().splitlines())
    os.umask(0o022)  # the modes of new directories are part of what runs give
    try:
        enter_private_namespace()
        faults = ['%s:%d: %s' % (path, line, what) for line, what in
                  check_block(config, path, title, os.environ.get('INSTALLER_SCENARIO_REWRITE') == '1')]
    except Unavailable as why:
        print('skipped: no scratch board: %s' % why)
        return 77
    if faults:
        print('\n'.join(faults))
    return 1 if faults else 0

if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
