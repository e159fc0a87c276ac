#!/usr/bin/env python3
"""Real power cuts (doc/power_cut_rig.md): the cases of cases.scn on boards whose flash is UBIFS (or ext4) in a
virtual machine, the installer stopped at a chosen system call or a random instant and the power cut; the next boot's
run recovers, and the board must be byte for byte as before the runs or as after them, with no staged file left.
  rig.py CONFIG [--sample ci|large|all] [--fs ubifs|ext4] [--case TITLE] [--slots N] [--seed N] [--keep DIR]
Exit 0: every case old or new; 1: a case ended otherwise; 77: no virtual machine here."""
import argparse
import collections
import glob
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'harness'))
from board import Board  # noqa: E402
from language import RUNS, read_file  # noqa: E402

CALLS = ('open,openat,creat,write,writev,pwrite64,rename,renameat,renameat2,link,linkat,unlink,unlinkat,mkdir,mkdirat,'
         'rmdir,symlink,symlinkat,chmod,fchmod,fchmodat,truncate,ftruncate,fsync,fdatasync,sync,syncfs')
BARRIERS = ('fsync', 'fdatasync', 'sync', 'syncfs')
STAGED = re.compile(r'(^|/)(tmp[A-Za-z0-9]{6}|\.journal(\.new)?|\.staged)( |$)')
MODULES = ('virtio_pci', 'virtio_blk', 'block2mtd', 'zstd', 'ubifs', 'ext4')
PROGRAMS = ('/usr/bin/strace', '/usr/sbin/ubiattach', '/usr/sbin/ubimkvol', '/usr/sbin/ubirmvol', '/usr/sbin/mke2fs')
DISK = 24 << 20  # 192 erase blocks of 128 KiB

def machine(work, installer, cases):
    """The kernel and an initramfs of busybox, the tools, the modules, the static installer and the cases."""
    kernels = sorted(glob.glob('/boot/vmlinuz-*'))
    if not kernels or not shutil.which('qemu-system-x86_64') or not all(map(os.path.exists, PROGRAMS)):
        raise LookupError('qemu, a kernel or the tools are missing (scripts/setup installs them)')
    version, root = kernels[-1][len('/boot/vmlinuz-'):], work + '/initramfs'
    loads = ''.join(subprocess.run(['modprobe', '--show-depends', '-S', version, m], capture_output=True, text=True,
                                   check=True).stdout for m in MODULES)
    modules = list(dict.fromkeys(re.findall(r'^insmod (\S+)', loads, re.M)))
    libraries = re.findall(r'(/\S+) \(0x', subprocess.run(['ldd'] + list(PROGRAMS), capture_output=True,
                                                          text=True).stdout)
    for path in modules + list(PROGRAMS) + libraries + ['/bin/busybox']:
        os.makedirs(os.path.dirname(root + path), exist_ok=True)
        shutil.copy(path, root + path)
    for tool in subprocess.run(['/bin/busybox', '--list'], capture_output=True, text=True).stdout.split():
        if not os.path.exists(root + '/bin/' + tool):
            os.symlink('busybox', root + '/bin/' + tool)
    os.symlink('usr/sbin', root + '/sbin')
    if subprocess.run(['strip', '-o', root + '/installer', installer]).returncode != 0:  # quicker to load
        shutil.copy(installer, root + '/installer')
    shutil.copy(HERE + '/init', root + '/init')
    with open(root + '/modules', 'w') as f:
        f.write(''.join(m + '\n' for m in modules))
    shutil.copytree(cases, root + '/cases')
    for d in ('proc', 'sys', 'dev', 'tmp'):
        os.makedirs(root + '/' + d)
    subprocess.run('find . | cpio -o -H newc --quiet > ../initrd', shell=True, cwd=root, check=True)
    return kernels[-1], work + '/initrd'

def make_cases(config, path, work, only):
    """Each block of the table: its board as a tar and its runs as shell functions, in work/cases."""
    blocks, fault = read_file(path)
    if fault:
        raise SystemExit('%s:%d: %s' % (path, *fault))
    os.makedirs(work + '/cases')
    titles = [t for t in blocks if only in (None, t)]
    for title in titles:
        board, runs = Board(config), []
        for step in blocks[title].steps:
            if step.keyword not in RUNS:
                board.setup(step)
                continue
            words, stdin = board.expand(step.rest), ''
            if words[-2:-1] == ['<']:
                words, stdin = words[:-2], board.packages[words[-1]]
            with open('%s/cases/%s.%d' % (work, title, len(runs) + 1), 'wb') as f:
                f.write(stdin.encode('latin-1'))
            env = ' '.join(shlex.quote('%s=%s' % kv) for kv in board.env.items() if kv[1] is not None)
            program = '/bin/chroot $B /installer' if step.keyword == 'run-inside' else '/installer -r $B'
            runs.append('run_%d() { env -i %s "$@" %s %s </cases/%s.%d >/dev/null 2>&1; }\n' % (
                len(runs) + 1, env, program, ' '.join(map(shlex.quote, words)), title, len(runs) + 1))
        with open('%s/cases/%s.sh' % (work, title), 'w') as f:
            f.write('count=%d\ncalls=%s\n' % (len(runs), CALLS) + ''.join(runs))
        subprocess.run(['tar', '-cf', '%s/cases/%s.tar' % (work, title), '-C', board.root, 'flash', 'rw', 'ram'],
                       check=True)
        board.close()
    return titles

class Machine:
    """Boots of the virtual machine with its slot disks; each boot's jobs, and what it said."""
    def __init__(self, work, kernel, initrd, fs, slots):
        self.work, self.kernel, self.initrd, self.fs, self.boots, self.seconds = work, kernel, initrd, fs, 0, 0.0
        self.disks = ['%s/slot%d.img' % (work, i) for i in range(slots)]
        for disk in self.disks:
            with open(disk, 'wb') as f:  # erased flash
                f.write(b'\xff' * DISK) if fs == 'ubifs' else f.truncate(DISK * 4)

    def boot(self, jobs, log=None):
        """Runs the jobs (init's shell functions, then "cut" or "off"); the lines "@@ ..." it printed."""
        with open(self.work + '/jobs.img', 'wb') as f:
            f.write(jobs.encode().ljust(65536, b'\0'))
        drives = sum((['-drive', 'file=%s,if=virtio,format=raw,cache=writeback' % d]
                      for d in [self.work + '/jobs.img'] + self.disks), [])
        started = time.time()
        out = subprocess.run(['qemu-system-x86_64', '-m', '1024', '-nographic', '-no-reboot', '-net', 'none',
                              '-kernel', self.kernel, '-initrd', self.initrd, '-append',
                              'console=ttyS0 quiet panic=-1 fs=' + self.fs] + drives,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=600).stdout.decode('latin-1')
        self.boots, self.seconds = self.boots + 1, self.seconds + time.time() - started
        if log:
            log.write(out)
        lines = [m[1].split(' ', 2) for m in re.finditer(r'@@ ([^\r\n]*)', out)]
        errors = [' '.join(line) for line in lines if line[0] == 'error']
        if errors:
            raise SystemExit('the machine failed: ' + '; '.join(errors))
        return lines

def trees(lines, kind):
    """Slot -> its tree (sorted lines) as the machine listed it, the post-install log left out."""
    found = collections.defaultdict(list)
    for line in lines:
        if line[0] == kind and not re.search(r'flash/postlog( |$)', line[2]):
            found[int(line[1])].append(line[2])
    return {slot: sorted(tree) for slot, tree in found.items()}

def points(calls, sample, rng):
    """(run, call, n, where) cut points: each barrier, the calls just before and after it, and a sample of the rest;
    where says which and whether the journal is in place (a "!" call, its rename, came before)."""
    flat = [(run, name.rstrip('!'), name) for run, names in enumerate(calls, 1) for name in names]
    barriers = {i for i, (_, name, _) in enumerate(flat) if name in BARRIERS}
    near = {j for i in barriers for j in (i - (sample != 'ci'), i, i + 1) if 0 <= j < len(flat)}
    rest = [i for i in range(len(flat)) if i not in near]
    chosen = sorted(near | set(rest if sample == 'all' else rng.sample(rest, min(len(rest), {'ci': 3}.get(
        sample, 12)))))
    journal = next((i for i, (_, name, mark) in enumerate(flat) if name.startswith('rename') and '!' in mark), 1 << 30)
    seen, found = collections.Counter(), []
    for i, (run, name, _) in enumerate(flat):
        seen[run, name] += 1
        if i in chosen:
            role = 'barrier' if i in barriers else 'near a barrier' if i in near else 'sampled'
            found.append((run, name, seen[run, name], '%s, call %d, journal %s' % (
                role, i + 1, 'in place' if i > journal else 'not yet')))
    return found

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('config')
    ap.add_argument('--sample', default='ci', choices=('ci', 'large', 'all'))
    ap.add_argument('--fs', default='ubifs', choices=('ubifs', 'ext4'))
    ap.add_argument('--case')
    ap.add_argument('--slots', type=int, default=12)
    ap.add_argument('--seed', type=int, default=int(time.time()) % 10000)
    ap.add_argument('--keep')
    a = ap.parse_args()
    with open(a.config) as f:
        config = dict(line.split('=', 1) for line in f.read().splitlines())
    work = a.keep or tempfile.mkdtemp(prefix='powercut-')
    os.makedirs(work, exist_ok=True)
    rng, started = random.Random(a.seed), time.time()
    titles = make_cases(config, HERE + '/cases.scn', work, a.case)
    try:
        kernel, initrd = machine(work, config['installer'], work + '/cases')
    except (LookupError, subprocess.CalledProcessError) as why:
        print('skipped: no power-cut machine: %s' % why)
        return 77
    vm = Machine(work, kernel, initrd, a.fs, max(a.slots, len(titles)))
    log = open(work + '/console.log', 'w')
    print('seed %d, %s, work in %s' % (a.seed, a.fs, work))
    # One boot runs each case uncut: its trees before and after, and the calls it makes.
    lines = vm.boot(''.join('count %d %s\n' % s for s in enumerate(titles)) + 'off\n', log)
    old, new = trees(lines, 'old'), trees(lines, 'new')
    calls = collections.defaultdict(list)
    for line in lines:
        if line[0] == 'calls':
            calls[int(line[1])].append(line[2].split()[1:])
    jobs = []  # (case, what the cut boot runs, the second cut or None, its description)
    for slot, title in enumerate(titles):
        if old[slot] == new[slot]:
            raise SystemExit('%s: the runs change nothing' % title)
        found = points(calls[slot], a.sample, rng)
        jobs += [(slot, 'cutat %%d %s %d %s %d' % (title, run, name, n), None, '%s #%d of run %d (%s)' % (
            name, n, run, where)) for run, name, n, where in found]
        second = [p for p in found if 'in place' in p[3]][:{'ci': 1, 'large': 4}.get(a.sample, 1000)]
        jobs += [(slot, 'cutat %%d %s %d %s %d' % (title, run, name, n), (call, k), '%s #%d of run %d, then the '
                  'recovering run at %s #%d' % (name, n, run, call, k)) for run, name, n, _ in second
                 for call in ('rename', 'syncfs') + ('unlink', 'fsync') * (a.sample != 'ci') for k in (1, 2)[:1 + (
                     a.sample != 'ci')]]
        instants = {'ci': 1, 'large': 3}.get(a.sample, 10) * a.slots
        jobs += [(slot, 'runs %%d %s 1 99 &' % title, None, 'at an instant') for _ in range(instants // len(titles))]
    # Each boot: the slots cut in the boot before are checked (or cut again), the free ones take the next jobs on
    # fresh boards; then the runs to be cut start, all at once.
    tally, faults, pending = collections.Counter(), [], {}
    waiting = [j for j in jobs if j[1].startswith('cutat')], [j for j in jobs if j[1].startswith('runs')]
    while pending or any(waiting):
        instant = bool(not waiting[0] and waiting[1])
        checks, fresh, starts, checked = '', '', '', {}
        for slot, (job, stage) in sorted(pending.items()):
            again = job[2] if stage == 1 else None
            if again:
                pending[slot], starts = (job, 2), starts + 'recut %d %s %d\n' % (slot, *again)
            else:
                checked[slot], checks = job, checks + 'check %d\n' % slot
        for slot in [s for s in range(len(vm.disks)) if s not in pending or s in checked]:
            pending.pop(slot, None)
            if waiting[instant]:
                pending[slot] = waiting[instant].pop(0), 1
                fresh += 'fresh %d %s\n' % (slot, titles[pending[slot][0][0]])
                starts += pending[slot][0][1] % slot + '\n'
        # At instants the kernel writes back at once, so that part of what was not synced reaches the flash.
        script = 'writeback 1\n' * instant + checks + fresh + starts + (
            'usleep %d\n' % rng.randrange(1500000) if instant else 'wait\n') + ('powercut\n' if starts else 'off\n')
        lines = vm.boot(script, log)
        for slot, (case, _, _, what) in checked.items():
            after = trees(lines, 'tree').get(slot, [])
            outcome = 'old' if after == old[case] else 'new' if after == new[case] else 'other'
            left = [line for line in after if STAGED.search(line)]
            tally[titles[case], outcome] += 1
            tally[titles[case], 'temporaries left'] += bool(left)
            if outcome == 'other' or left:
                faults.append('%s, cut at %s: ends %s%s\n  against the old state: %s\n  against the new: %s' % (
                    titles[case], what, outcome, ', staged files left: %s' % left if left else '',
                    diff(old[case], after), diff(new[case], after)))
        print('boot %d: %d checked, %d jobs waiting' % (vm.boots, len(checked), sum(map(len, waiting))), flush=True)
    for title in titles:
        counts = [tally[title, k] for k in ('old', 'new', 'other', 'temporaries left')]
        print('POWERCUT %s %s: %d cases: %d old, %d new, %d other, %d with temporaries left' % (
            a.fs, title, sum(counts[:3]), *counts))
    print('%d boots, %.0f s in the machine, %.0f s in all' % (vm.boots, vm.seconds, time.time() - started))
    print('\n'.join(faults))
    if not a.keep and not faults:  # kept to be looked at when a case failed
        shutil.rmtree(work, ignore_errors=True)
    return 1 if faults else 0

def diff(expected, actual):
    return ' '.join(['-' + line for line in expected if line not in actual] +
                    ['+' + line for line in actual if line not in expected]) or 'the same'

if __name__ == '__main__':
    sys.exit(main())
