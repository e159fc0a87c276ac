# The reliability sweeps (tests/sweeps/*.scn): "sweep KIND ARGS" lines make a section of the runs that follow them,
# which runs once as usual on a copy of the board as it found it, giving the new state, then once for each case of
# each sweep on another copy; each case must end as the kind says. Each sweep prints its tally.
import atexit
import collections
import contextlib
import os
import random
import re
import shutil
import struct
import subprocess
import tempfile

from board import LIBC, Board, StagedNames, mount_tmpfs
from language import MANIFEST, POSTLOG, Packages, need, size

# Documented failures that leave the board as it was: (the kind of run, status, output, what it is).
FAILURES = [('upgrade', 28, 'ERROR: not enough space for upgrade\n', 'no space for upgrade'),
            ('upgrade', 0, 'failed: disk is too small\n', 'disk is too small'),
            ('upgrade', 1, 'ERROR: could not save /ram/MANIFEST\n', 'could not save the manifest'),
            ('image', 1, 'failed: disk is too small\n', 'disk is too small'),
            ('image', 28, ': No space left on device\n', 'no space for the commit'),
            ('image', 255, 'ERROR: could not write image\n', 'could not write image'),
            ('commit', 28, ': No space left on device: nothing was changed\n', 'no space for the commit')]
ERRORS, POLICIES = ('EIO', 'ENOSPC', 'EROFS', 'short'), ('killed', 'kept', 'lost', 'data', 'entries')
TEMPORARY = re.compile(r'\.?tmp.{6}|\.journal(\.new)?|\.staged|\.saved')
STAGED = re.compile(r'\.?tmp.{6}|\.saved')  # a saved transaction's, which a power cut may take with /ram
HOSTILE = ('garbage', 'directory', 'named pipe', 'dangling link', 'huge file')

def scratch_on_tmpfs():
    """Boards on a tmpfs of the process's own: on a shared disk the syncs of thousands of runs take most of the time,
    and a killed process leaves what it wrote in the page cache either way."""
    tempfile.tempdir = base = tempfile.mkdtemp()
    mount_tmpfs(base, 2 << 30)  # pages are taken as used
    atexit.register(lambda: LIBC.umount2(base.encode(), 2) or os.rmdir(base))

def without(tree, *paths):  # the tree without the paths and all below them
    return {p: e for p, e in tree.items() if not any(p == q or p.startswith(q + '/') for q in paths)}

def make_hostile(host, kind):
    """Garbage (a line reader's worst), a directory, a named pipe, a link to nowhere or a 64 MiB file at a path."""
    if os.path.lexists(host) and not os.path.isdir(host):
        os.unlink(host)
    os.makedirs(os.path.dirname(host), exist_ok=True)
    garbage = bytearray(random.Random(0).randbytes(4096))
    garbage[::37] = (b'\n \0' * 37)[:len(garbage[::37])]  # every 37th byte a newline, a blank or a NUL
    if kind in ('garbage', 'huge file'):
        with open(host, 'wb') as f:
            f.write(garbage)
            if kind == 'huge file':
                f.seek((64 << 20) - 4096)
                f.write(garbage)
    elif kind == 'dangling link':
        os.symlink(b'/rw/hostile-target', host)  # outside /flash, so that a write through it would show
    elif kind == 'directory':
        os.mkdir(host)
    else:
        os.mkfifo(host)

def byte_roles(data):
    """For each byte of a package file, the unsigned part it lies in, or None where a changed value must make the
    installer refuse the file (from a package's header part, type 1, to its 68 signature bytes); the packages' names."""
    roles, members, at, signed = ['file header'] * 8, [], 8, False
    while at + 6 <= len(data):
        kind, length = struct.unpack('<HI', data[at:at + 6].encode('latin-1'))
        end, signed = min(len(data), at + 6 + length), signed or kind == 1
        covered = min(end, at + 6 + 68) if kind == 9 else end
        members += [data[at + 6:at + 22].split('\0')[0]] * (kind == 1)
        roles += [None if signed and i < covered else 'part %d' % kind for i in range(at, end)]
        signed, at = signed and kind != 9, end
    return roles[:len(data)] + [''] * (len(data) - len(roles)), members

def tree_diff(expected, actual):
    return ''.join('\n  %s: %s, is %s' % (p, str(expected.get(p))[:80], str(actual.get(p))[:80])
                   for p in sorted(set(expected) | set(actual)) if expected.get(p) != actual.get(p))

class Sweep:
    """A sweep line: its kind, arguments and section, and the cases it runs when the section ends."""
    def __init__(self, scenario, step, first=None):
        self.scenario, self.line, self.section, self.faults = scenario, step.line, [], []
        self.kind, *self.args = re.findall(r'[^ \t]+', step.rest + ' ' + ' '.join(text for _, text in step.body))
        need(self.kind in ('tamper', 'space', 'hostile', 'fail', 'cut'), 'unknown sweep "%s"' % self.kind)
        if first:  # sweep lines stacked on one section share it
            self.main, self.old, self.section = first.main, first.old, first.section
        else:
            self.main, self.old = scenario.board, scenario.board.snapshot()
            scenario.board = self.copy()  # where the section runs as usual

    def copy(self, sizes=(), package=None):
        """A copy of the main board, its mounts sized as given; package: (name, bytes) for that name's last build."""
        board, main = Board(self.main.config), self.main
        board.env, board.packages, board.placed = dict(main.env), Packages(main.packages), dict(main.placed)
        for path, count in main.mounts:
            board.mount(path, dict(sizes).get(path, count))
        subprocess.run(['cp', '-a', main.root + '/.', board.root], check=True)
        if package and board.placed.get(package[0]):
            board.write(board.path(board.placed[package[0]]), package[1])
        board.packages.update([package] if package else [])
        return board

    def play(self, board, stop=None):
        """(words, status, out, err, the board before) of the section's runs on the board, up to one that `stop`
        holds for."""
        self.scenario.board, results = board, []
        for step in self.section:
            words, stdin = self.scenario.words(step)
            before = board.snapshot()
            results.append((words, *board.run(step.keyword, words, stdin), before))
            if stop and stop(*results[-1][:3]):
                break
        self.scenario.board = self.main
        return results

    def finish(self, new):
        """The faults of the sweep's cases as (line, message), its tally printed; new: the section's end."""
        self.new = new
        outcomes = getattr(self, self.kind)(*self.args)
        tally = collections.Counter(outcome + ' (%s)' % why * bool(why) for outcome, why, _ in outcomes)
        runs = '; '.join(' '.join(filter(None, (step.keyword, step.rest))) for step in self.section)
        print('SWEEP %s, %s: %d cases: %s' % (' '.join([self.kind] + self.args[:{'tamper': 1, 'space': 3}.get(
            self.kind, 0)]), runs, len(outcomes), ', '.join('%d %s' % (n, o) for o, n in sorted(tally.items()))) +
              (', %d temporaries left, %d log lines lost' % tuple(self.flaws) if self.kind in ('fail', 'cut') else ''))
        return [(self.line, fault) for fault in self.faults + [f for o, _, f in outcomes if o == 'other']]

    def tamper(self, name):
        """Each byte of the package built last under the name changed (xor 0x01 and 0x80; every bit with
        INSTALLER_SWEEP=full): a signed one leaves the board as it was, another changes only what it says."""
        subject, placed = self.main.packages[name], self.main.placed.get(name)
        roles, members = byte_roles(subject)
        def installed(tree, data):  # the board with the package file itself (placed, or kept as its image) named
            return {p: (k, m, '<the installed file>' if d == data else d) for p, (k, m, d) in tree.items()
                    if p != POSTLOG}
        def explained(reference, after):  # what a byte no signature covers changed; None: anything else
            kinds = set()
            for path in {p for p in set(reference) | set(after) if reference.get(p) != after.get(p)}:
                entry = path[15:].split('/')[0] if path.startswith('/flash/var/pdb/') else None
                if path == placed or entry and entry not in members:
                    kinds.add('bundle entry')
                elif entry and path == '/flash/var/pdb/%s/bundle' % entry:
                    kinds.add("members' bundle name")
                else:
                    return None
            return sorted(kinds)
        def outcome(status, at, before, after):
            if status >= 128 and status != 255:
                return 'other'
            if after == before:
                return 'old'
            for r, reference in enumerate(references if roles[at] is not None else []):
                kinds = explained(reference, after)
                if kinds is not None:  # a board no untampered file gives, but for what the changed byte says
                    return '%s: %s' % (roles[at], ' + '.join(kinds + ['members\' start state'] * (r > 0)) or
                                       'stored image')
            return 'other'
        references = [installed(self.new, subject)]
        for variant in self.main.history[name][:-1]:
            with contextlib.closing(self.copy(package=(name, variant))) as board:
                self.faults += ['%s built earlier does not install' % name] * (self.play(board)[0][1] != 0)
                references.append(installed(board.snapshot(), variant))
        outcomes = []
        for at in range(len(subject)):
            for mask in [1 << bit for bit in range(8)] if os.environ.get('INSTALLER_SWEEP') == 'full' else (1, 0x80):
                data = subject[:at] + chr(ord(subject[at]) ^ mask) + subject[at + 1:]
                with contextlib.closing(self.copy(package=(name, data))) as board:
                    (_, status, out, _, before), = self.play(board)
                    after = installed(board.snapshot(), data)
                outcomes.append((outcome(status, at, installed(before, data), after), '',
                                 'byte %d xor %d (%s), status %d\n%sagainst the untampered install:%s' % (
                                     at, mask, roles[at] or 'signed', status, out, tree_diff(references[0], after))))
        return outcomes

    def space(self, path, low, high, *fixed):
        """The tmpfs at PATH from LOW up to HIGH page by page (others PATH=SIZE): status 0 in the whole new state, or
        a documented failure with the board as the failing run found it; a --commit never changes the manifest."""
        def failure(words, status, out):
            kind = 'image' if '-' in words else 'commit' if '--commit' in words else 'upgrade'
            return next(('%s [%d]' % (what, status) for k, s, message, what in FAILURES
                         if (k, s) == (kind, status) and message in out), None)
        sizes = [(f.split('=')[0], size(f.split('=')[1])) for f in fixed]
        new, outcomes = without(self.new, POSTLOG, MANIFEST), []
        for count in range(need(size(low), 'bad size ' + low), need(size(high), 'bad size ' + high), 4096):
            with contextlib.closing(self.copy(sizes + [(path, count)])) as board:
                words, status, out, _, before = self.play(board, stop=failure)[-1]
                after = board.snapshot()
            documented = failure(words, status, out)  # and then the board as the failing run found it
            outcome = ('old' if without(after, POSTLOG) == without(before, POSTLOG) else 'other') if documented else \
                'new' if status == 0 and without(after, POSTLOG, MANIFEST) == new else 'other'
            if '--commit' in words and MANIFEST in after and after[MANIFEST] != before.get(MANIFEST):
                outcome = 'other'
            copied = outcome == 'new' and any(p.startswith('/ram/tmp') for p in before) and 'copied from /ram'
            outcomes.append((outcome, documented or copied or '', '%s of %d bytes, status %d\n%s' % (
                path, count, status, out) + 'against the old state:%s\nagainst the new:%s' % (
                tree_diff(before, after), tree_diff(new, without(after, POSTLOG, MANIFEST)))))
        return outcomes

    def hostile(self, *paths):
        """Each path in turn made hostile: no run waits (the alarm would end it) or ends by a signal, each ends with
        a status its mode documents, and nothing outside /flash and /ram changes."""
        words = self.scenario.words(self.section[0])[0]
        statuses = (0,) if '--show' in words else (0, 1, 2, 3, 28, 255) if '-' in words else (0, 1) if \
            '--cancel' in words else (0, 1, 28)
        outcomes = []
        for path, kind in [(path, kind) for path in paths for kind in HOSTILE]:
            with contextlib.closing(self.copy()) as board:
                make_hostile(board.path(path), kind)
                before = board.snapshot(path, POSTLOG)
                (_, status, out, _, _), = self.play(board)
                after = board.snapshot(path, POSTLOG)
            outside = [{p: e for p, e in t.items() if not re.match('/(flash|ram)(/|$)', p)} for t in (before, after)]
            outcomes.append(('other' if status not in statuses or outside[0] != outside[1] else 'old' if
                             after == before else 'new', 'status %d' % status,
                             '%s, %s: status %d%s\n%s' % (path, kind, status, tree_diff(*outside), out)))
        return outcomes

    def faulty(self, board, steps, fault=None):
        """The runs on the board, the first under installer-faulty with the fault: its (status, out, the fault's line
        or None, the calls it counted)."""
        inside, log, config = steps[0].keyword == 'run-inside', '/installer-fault.log', board.config
        board.env.update(INSTALLER_FAULT=fault, INSTALLER_FAULT_LOG=log if inside else board.root + log)
        board.config, self.scenario.board = dict(config, installer=config['faulty']), board
        if inside:  # in place of the installer copied into the root
            board.copied = shutil.copy(config['faulty'], board.root + '/installer')
        try:
            status, out, _ = board.run(steps[0].keyword, *self.scenario.words(steps[0]))
            board.config, board.env['INSTALLER_FAULT'], board.env['INSTALLER_FAULT_LOG'] = config, None, None
            if inside:
                shutil.copy(config['installer'], board.root + '/installer')
            for step in steps[1:]:
                board.run(step.keyword, *self.scenario.words(step))
        finally:
            board.config, self.scenario.board = config, self.main
        with open(board.root + log) as f:
            lines = f.read().splitlines()
        os.unlink(board.root + log)
        calls = [int(line[6:]) for line in lines if line.startswith('calls ')]
        return status, out, next((line for line in lines if not line.startswith('calls ')), None), (calls or [0])[0]

    def survivors(self, tree):  # what a power cut leaves to compare: no staged file (judge counts those left)
        return {p: e for p, e in without(tree, POSTLOG, '/ram').items() if not STAGED.fullmatch(os.path.basename(p))}

    def judge(self, board, what):
        """The board after a case: (old, new or other, '', what happened and how it differs), its flaws counted:
        temporaries left that no saved manifest names, a post-install log shorter than before."""
        tree, (old, new) = board.snapshot(), self.ends
        after, lines = self.survivors(tree), tree.get(POSTLOG, ('f', 0, ''))[2].count('\n')
        manifest = tree.get(MANIFEST, ('f', 0, ''))[2]
        left = [p for p in tree if TEMPORARY.fullmatch(os.path.basename(p)) and p.startswith('/flash/') and
                ' %s\n' % p not in manifest and not (p == '/flash/.saved' and MANIFEST in tree)]
        flaws = [bool(left), lines < self.old.get(POSTLOG, ('f', 0, ''))[2].count('\n')]
        self.flaws = [n + f for n, f in zip(self.flaws, flaws)]
        self.faults += ['%s: %s left' % (what, left)] * flaws[0] + ['%s: post-install log lines lost' % what] * flaws[1]
        return ('old' if after == old else 'new' if after == new else 'other', '', '%s; against the old state:%s\n'
                'against the new:%s' % (what, tree_diff(old, after), tree_diff(new, after)))

    def fail(self):
        """Each counted call of the first run failing once with each error: the first run ends old with a failure
        said, new with status 0 (unless a barrier failed), or, the journal left, with an ERROR line naming the path;
        after the rest of the runs the board is old or new."""
        self.flaws, self.ends, outcomes = [0, 0], (self.survivors(self.old), self.survivors(self.new)), []
        with contextlib.closing(self.copy()) as board:
            calls = self.faulty(board, self.section[:1])[3]
            first = self.survivors(board.snapshot())
        self.faults += ['installer-faulty counted no call'] * (not calls)
        for error, n in [(error, n) for error in ERRORS for n in range(1, calls + 1)]:
            with contextlib.closing(self.copy()) as board:
                status, out, struck, _ = self.faulty(board, self.section[:1], 'fail %d %s' % (n, error))
                if struck is None:  # only a write can be short
                    continue
                after, named = self.survivors(board.snapshot()), struck.split()[3:]
                said = any(line.startswith('ERROR: ') and any(p in line for p in named) for line in out.splitlines())
                good = status == 0 and not struck.split()[2].startswith('sync') or status != 0 and said
                good = after == first and good or after == self.ends[0] and bool(re.search('ERROR|failed', out)) or \
                    status != 0 and said and bool({'/flash/.journal', '/flash/.staged'} & set(after))
                # A journal that cannot be made durable is no commit: it never ends new and well.
                good = good and not (status == 0 and
                                     re.search(r' (open|write|sync\w*|rename) /flash/\.journal\.new', struck))
                # A metadata file that cannot be staged fails its package then, not the commit later.
                good = good and not re.search(r'could not commit /flash/var/pdb/\S+/(version|deps|files|provides|'
                                              r'conflicts|bundle):', out)
                self.faulty(board, self.section[1:]) if self.section[1:] else None
                outcome = self.judge(board, '%s, %s: status %d\n%s' % (error, struck, status, out.rstrip()))
            outcomes.append(outcome if good else ('other', '', 'after the first run: ' + outcome[2]))
        return outcomes

    def cut(self, *policies):
        """The power cut after each counted call of the first run, in each policy: after the next runs the board is
        old or new; and for some crash states (all with INSTALLER_SWEEP=full) cut again after each counted call of
        the recovering run, then the rest run plain: old or new again."""
        self.flaws, self.ends, outcomes, seen = [0, 0], (self.survivors(self.old), self.survivors(self.new)), [], {}
        policies = policies or POLICIES + tuple('fs:' + p for p, _ in self.main.mounts if p.startswith('/flash'))
        recuts, full, lost = [], os.environ.get('INSTALLER_SWEEP') == 'full', collections.defaultdict(set)
        with contextlib.closing(self.copy()) as board:
            calls = self.faulty(board, self.section[:1])[3]
            log = board.snapshot().get(POSTLOG)
        self.faults += ['installer-faulty counted no call'] * (not calls)
        for n, policy in [(n, policy) for n in range(1, calls + 1) for policy in policies]:
            with contextlib.closing(self.copy()) as board:
                struck = self.faulty(board, self.section[:1], 'cut %d %s' % (n, policy))[2]
                if n == calls and board.snapshot().get(POSTLOG) != log:  # a run that has ended has told it for good
                    self.faults.append('a cut after the last call, %s (%s), loses the log' % (struck, policy))
                crash = repr(sorted(StagedNames().tree(without(board.snapshot(), POSTLOG, '/ram')).items()))
                lost[n].add(crash)
                if crash in seen:  # a crash state met before ends as it did
                    outcomes.append(seen[crash][:2] + ('%s (%s) ends as %s' % (struck, policy, seen[crash][3]),))
                    continue
                status, out, _, again = self.faulty(board, self.section[1:])
                seen[crash] = self.judge(board, '%s (%s)' % (struck, policy)) + ('%s (%s)' % (struck, policy),)
                if status and "'/flash/.journal'" in crash:  # a commit the cut came in is made: the run goes on
                    seen[crash] = ('other', '', 'the run that completed the journal: status %d\n%s' % (status, out),
                                   seen[crash][3])
                recuts += [(n, policy, m) for m in range(1, again + 1)]
            outcomes.append(seen[crash][:3])
        self.faults += ['no cut lost what a kill keeps'] * all(len(crashes) == 1 for crashes in lost.values())
        states = sorted({(n, policy) for n, policy, _ in recuts})
        sample = set(states if full else states[::max(1, len(states) // 3)])
        tally, flaws, self.flaws = collections.Counter(), self.flaws, [0, 0]
        for n, policy, m in [r for r in recuts if r[:2] in sample]:
            for second in policies:
                with contextlib.closing(self.copy()) as board:
                    self.faulty(board, self.section[:1], 'cut %d %s' % (n, policy))
                    struck = self.faulty(board, self.section[1:2], 'cut %d %s' % (m, second))[2]
                    self.faulty(board, self.section[1:])
                    outcome = self.judge(board, 'cut %d %s, then %s (%s)' % (n, policy, struck, second))
                tally[outcome[0]] += 1
                self.faults += [outcome[2]] * (outcome[0] == 'other')
        print('SWEEP cut, a second cut in the recovering run of %d of %d crash states: %d cases: %s, %d temporaries left, '
              '%d log lines lost' % (len(sample), len(states), sum(tally.values()), ', '.join(
                  '%d %s' % (n, o) for o, n in sorted(tally.items())), *self.flaws))
        self.flaws = flaws
        return outcomes
