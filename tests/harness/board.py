# A scratch board in the private mount namespace, the directives that set it up
# and the runs of the real binaries on it (through the emulator in a cross build).
import ctypes
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import zlib

from language import BUILT, Fault, Packages, entry_files, make, need, parse_states, replaced, size, unescape, version

LIBC = ctypes.CDLL(None, use_errno=True)
CLONE_NEWNS, CLONE_NEWUSER, MS_NOSUID, MS_NODEV, MS_BIND, MS_REC, MS_PRIVATE = \
    0x20000, 0x10000000, 2, 4, 4096, 16384, 1 << 18
LIBRARY_DIRS = ('lib', 'lib64', 'usr', 'proc')  # what a dynamic (sanitized) binary needs in the root
RUN_SECONDS = 120  # far longer than any run takes, even emulated; SIGALRM then ends it (status 142)

class Unavailable(Exception):
    """The machine cannot give what a step needs: the test is skipped."""

def check(result, what):
    if result != 0:
        raise Unavailable('%s: %s' % (what, os.strerror(ctypes.get_errno())))

def enter_private_namespace():
    """A mount namespace of the process's own (through a user namespace unless root): mounts stay in it."""
    uid, gid = os.geteuid(), os.getegid()
    check(LIBC.unshare(CLONE_NEWNS | (uid and CLONE_NEWUSER)), 'unshare of a mount namespace' + (
        ' in a user namespace (unprivileged user namespaces disabled?)' if uid else ''))
    for name, text in (('setgroups', 'deny'), ('uid_map', '0 %d 1' % uid), ('gid_map', '0 %d 1' % gid)) * bool(uid):
        with open('/proc/self/' + name, 'w') as f:  # root inside; setgroups is denied before the group maps
            f.write(text)
    check(LIBC.mount(None, b'/', None, MS_REC | MS_PRIVATE, None), 'making the mounts private')

def mount_tmpfs(path, byte_count):
    os.makedirs(path, exist_ok=True)
    check(LIBC.mount(b'tmpfs', os.fsencode(path), b'tmpfs', MS_NOSUID | MS_NODEV, b'size=%d,mode=0755' % byte_count),
          'mounting a tmpfs at %s' % os.fsdecode(path))

def snapshot(root, excluded=()):
    """Path below root -> (kind f/d/l/o, permission bits, content or link text), but the paths excluded."""
    tree = {}
    def walk(rel):  # names are bytes on the way, latin-1 strings in the snapshot
        for name in os.listdir(os.fsencode(root) + rel):
            host, path = os.fsencode(root) + rel + name, (rel + name).decode('latin-1')
            mode = os.lstat(host).st_mode
            kind = {stat.S_IFLNK: 'l', stat.S_IFREG: 'f', stat.S_IFDIR: 'd'}.get(stat.S_IFMT(mode), 'o')
            if path not in excluded:
                data = os.readlink(host) if kind == 'l' else open(host, 'rb').read() if kind == 'f' else b''
                tree[path] = kind, 0 if kind == 'l' else mode & 0o7777, data.decode('latin-1')
                if kind == 'd':
                    walk(rel + name + b'/')
    walk(b'/')
    return tree

def damaged(data, knob):
    """A package file (8-byte header, then parts: u16 type, u32 length, payload) damaged by one knob."""
    n, parts, at, word, args = len(data), [], 8, knob[0], knob[1:]
    while at + 6 <= n:  # (offset, type) of each part whose header lies inside the file
        kind, count = struct.unpack('<HI', data[at:at + 6].encode('latin-1'))
        parts, at = parts + [(at, kind)], at + 6 + count
    def length(field, value):
        value = len(data) - 8 if value == 'fit' and field == 4 else int(value, 0)
        need(0 <= value < 2**32 and field + 4 <= len(data), 'no length field to set to %d there' % value)
        return data[:field] + struct.pack('<I', value).decode('latin-1') + data[field + 4:]
    try:
        if word == 'flip' and len(args) in (1, 2):
            at, mask = int(args[0], 0), int((args + ['1'])[1], 0)
            need(0 < mask < 256, 'a mask is 1 to 255')
            return data[:at % n] + chr(ord(data[at]) ^ mask) + data[at % n + 1:]
        if word == 'cut' and len(args) == 1:
            need(-n <= int(args[0], 0) <= n, 'cut SIZE: at most the file\'s size, or -K for K bytes off the end')
            return data[:int(args[0], 0)]
        if word in ('length', 'part', 'type') and len(args) == (1 if word == 'length' else 2):
            chosen = [at + 2 for i, (at, kind) in enumerate(parts, 1) if (i if word == 'part' else kind) ==
                      int(args[0], 0)] if word != 'length' else [4]
            return length(chosen[0], args[-1])
        if knob == ['unsigned']:  # every signature part (type 9) dropped, the length fitted
            for (at, kind), end in reversed(list(zip(parts, [at for at, _ in parts[1:]] + [n]))):
                data = data[:at] + data[end:] if kind == 9 else data
            return length(4, 'fit')
    except (ValueError, IndexError, ZeroDivisionError):
        pass
    raise Fault('bad damage "%s" (flip OFFSET [MASK], cut SIZE, length N|fit, part K N, type T N, unsigned, '
                'append CONTENT)' % ' '.join(knob))

class StagedNames:
    """Staged files ("tmp" and six random letters or digits) named tmp#1, tmp#2... in paths and contents, but the
    scenario's own. Random names sort at random: new ones are numbered as contents (the manifest) mention them first."""
    def __init__(self):
        self.own, self.numbered = set(), {}

    def tree(self, tree, own=False):
        """The tree with staged files named; with own, the new ones are the scenario's own and keep their names."""
        names = {c for path in tree for c in path.split('/') if re.fullmatch(r'\.?tmp[A-Za-z0-9]{6}', c)}
        fresh, order = sorted(names - self.own - set(self.numbered)), []
        self.own.update(fresh if own else ())
        for number, (path, (_, mode, data)) in enumerate(sorted(tree.items()) if not own else (), 1):
            order += [('%010d %010d' % (number, data.find(name)), name) for name in fresh if name in data]
            name = path[path.rfind('/') + 1:]
            order += [('~%s\0%s\0%d' % (path[:-len(name)], data, mode), name)] * (name in fresh)
        for _, name in sorted(order):
            self.numbered.setdefault(name, 'tmp#%d' % (len(self.numbered) + 1))
        return {self.text(p): (k, m, self.text(d)) for p, (k, m, d) in tree.items()}

    def text(self, text):
        """Also the stems of the record of staged files ("P DIR/tmp" and three random letters or digits): tmp###."""
        return re.sub(r'^(P \S*?/\.?tmp)[A-Za-z0-9]{3}$', r'\1###', replaced(text, sorted(self.numbered.items())),
                      flags=re.M)

class Board:
    """A board's tree (flash, ram, rw, dev) in a scratch directory, what the scenario built, and its runs."""
    def __init__(self, config):
        self.config, self.mounts, self.copied, self.made = config, [], False, 0
        self.scratch = tempfile.mkdtemp(prefix='installer-test-')
        self.root = self.scratch + '/root'
        for d in ('flash/boot', 'flash/var/pdb', 'flash/rw/pckg', 'flash/var/pckg', 'ram/pdb', 'rw', 'dev'):
            os.makedirs(self.path('/' + d))
        # Runs start without the variables installer reads; pkgtool with a fixed SOURCE_DATE_EPOCH.
        self.env = {'arch': None, 'bootimage': None, 'SOURCE_DATE_EPOCH': str(BUILT)}
        self.packages, self.placed, self.history, key = Packages(), {}, {}, config['key']
        self.keys = (('$KEY', key), ('$PUB', key[:key.rfind('.')] + '.pub'), ('$ROOT', self.root))

    def close(self):
        for path, _ in reversed(self.mounts):
            LIBC.umount2(self.path(path), 2)  # MNT_DETACH
        shutil.rmtree(self.scratch, ignore_errors=True)

    def path(self, board_path):  # the host's name, byte for byte
        return (self.root + board_path).encode('latin-1')

    def write(self, path, data, mode=0o644):  # at a host path
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data.encode('latin-1'))
        os.chmod(path, mode)

    def mount(self, board_path, byte_count):
        mount_tmpfs(self.path(board_path), byte_count)
        self.mounts.append((board_path, byte_count))

    def snapshot(self, *excluded):
        """The board without what the harness put there to run the binary (and the paths excluded)."""
        harness = ('installer',) + LIBRARY_DIRS + tuple(map(os.path.basename, self.emulator(True)[:1]))
        return snapshot(self.root, tuple('/' + name for name in harness) + excluded)

    def expand(self, text):
        """The words of a line with their escapes decoded and $KEY, $PUB (the development keys), $ROOT replaced."""
        return [replaced(unescape(word), self.keys) for word in re.findall(r'[^ \t]+', text)]

    def hide(self, text):
        return replaced(text, [(value, name) for name, value in self.keys])

    def emulator(self, inside=False):
        """The emulator's words before a program; inside the root, those of the static one copied there. The
        processor it plays is INSTALLER_EMULATED_CPU's where that is set (scripts/target-test sets it)."""
        words, cpu = self.config['chroot_emulator' if inside else 'emulator'].split(), os.environ.get(
            'INSTALLER_EMULATED_CPU')
        return [cpu if cpu and words[i - 1:i] == ['-cpu'] else word for i, word in enumerate(words)]

    def run(self, kind, args, stdin=''):
        """installer -r ROOT (run), /installer inside the root (run-inside) or pkgtool in it: status, out, err."""
        inside = kind == 'run-inside'
        if inside and not self.copied:  # the installer, and the static emulator of a cross build, copied in once
            self.copied = [shutil.copy(p, self.root) for p in [self.config['installer']] + self.emulator(True)[:1]]
        emulator = ['/' + os.path.basename(w) if i == 0 else w for i, w in enumerate(self.emulator(True))]
        argv = (emulator + ['/installer'] if inside else self.emulator() + (
            [self.config['pkgtool']] if kind == 'pkgtool' else [self.config['installer'], '-r', self.root])) + args
        argv = [w.encode('latin-1') for w in argv]
        env = {k: v for k, v in os.environb.items() if k.decode('latin-1') not in self.env}  # and unset if None
        env.update((k.encode('latin-1'), v.encode('latin-1')) for k, v in self.env.items() if v is not None)
        def child():
            signal.alarm(RUN_SECONDS)
            if kind != 'pkgtool' and self.config['static'] != '1' and LIBC.unshare(CLONE_NEWNS) == 0:
                for d in LIBRARY_DIRS:  # the host's, in a mount namespace that ends with the child
                    os.makedirs(self.path('/' + d), exist_ok=True)
                    LIBC.mount(b'/' + d.encode(), self.path('/' + d), None, MS_BIND | MS_REC, None)
            if inside:
                os.chroot(self.root)
                os.chdir('/')
        with tempfile.TemporaryFile(dir=self.scratch) as f:  # standard input is a file, as the C++ tests gave it
            f.write(stdin.encode('latin-1'))
            f.seek(0)
            done = subprocess.run(argv, stdin=f, capture_output=True, env=env, preexec_fn=child,
                                  cwd=self.root if kind == 'pkgtool' else None)
        status = done.returncode if done.returncode >= 0 else 128 - done.returncode
        return status, done.stdout.decode('latin-1'), done.stderr.decode('latin-1')

    def pkgtool(self, command, name, number, args):
        """The package NAME made by pkgtool with the development key at the fixed build time."""
        self.made += 1
        out = '%s/made%d.vpa' % (self.scratch, self.made)
        named = ['--name', name, '--version', number, '--build-time', str(BUILT)] if command != 'sign' else []
        status, said, err = self.run('pkgtool', [command, '--key', self.config['key']] + named + args + ['-o', out])
        need(status == 0, (said + err).strip())
        self.packages[name] = open(out, 'rb').read().decode('latin-1')
        self.history.setdefault(name, []).append(self.packages[name])

    def setup(self, step):
        try:
            getattr(self, 'do_' + step.keyword.replace('-', '_'))(step)
        except OSError as error:
            raise Fault('%s: %s' % (step.keyword, error.strerror))

    def path_line(self, text, mode, after, usage, board=True):
        """"[MODE ]PATH" then AFTER (a pattern): the path (of the board, or in a package), its mode, AFTER's groups."""
        m = need(re.fullmatch(r'(?:([0-7]{4}) )?(%s[^=]*?)' % ('/' * board) + after, text, re.S), 'expected ' + usage)
        return (unescape(m[2]), int(m[1], 8) if m[1] else mode) + m.groups()[2:]

    def do_installed(self, step):
        """Each package's entry, schedule word and files, each "NAME\\n" (below /flash/x/NAME/ when disabled)."""
        for s in parse_states(step.rest):
            for name, data in entry_files(s).items():
                self.write(self.path('/flash/var/pdb/%s/%s' % (s['name'], name)), data)
            for f in s['files']:
                self.write(self.path('/flash/' + 'x/%s/' % s['name'] * bool(s['disabled']) + f), s['name'] + '\n')
            if s['scheduled']:
                self.write(self.path('/ram/pdb/%s/schedule' % s['name']), s['scheduled'] + '\n')

    def do_file(self, step):
        path, mode, data = self.path_line(step.rest, 0o644, '=(.*)', 'file [MODE ]/PATH=CONTENT')
        self.write(self.path(path), make(data, self.packages), mode)

    def do_dir(self, step):
        """dir [MODE ]PATH, fifo [MODE ]PATH, link PATH=TARGET, hardlink PATH=/BOARD-PATH and remove PATH."""
        kind = step.keyword
        path, mode, target = self.path_line(step.rest, 0o755 if kind == 'dir' else 0o644,
                                            '=(.*)' if 'link' in kind else '()', kind + ' [MODE ]/PATH')
        path = self.path(path)
        if kind == 'remove':
            return shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)
        os.makedirs(path if kind == 'dir' else os.path.dirname(path), exist_ok=True)
        if kind == 'link':
            return os.symlink(unescape(target).encode('latin-1'), path)
        if kind == 'hardlink':
            return os.link(self.path(unescape(target)), path)
        if kind == 'fifo':
            os.mkfifo(path)
        os.chmod(path, mode)

    do_fifo = do_link = do_hardlink = do_remove = do_dir

    def do_tmpfs(self, step):
        """A tmpfs of a size; the directories below the mount point are made again on it."""
        usage = 'tmpfs /PATH SIZE (SIZE: bytes, 64K, 1M)'
        path, _, count = self.path_line(step.rest, None, r' (\S+)', usage)
        below = snapshot(self.path(path))
        self.mount(path, need(size(count), 'expected ' + usage))
        for rel, (kind, mode, _) in sorted(below.items()):
            if kind == 'd':
                os.makedirs(self.path(path + rel), exist_ok=True)
                os.chmod(self.path(path + rel), mode)

    def do_manifest(self, step):
        with open(self.path('/ram/MANIFEST'), 'ab') as f:  # as it is, so that its own escapes ("\\040") pass
            f.write((step.rest + '\n').encode('latin-1'))

    def do_env(self, step):
        w = self.expand(step.rest)
        while w:
            need(w[0] == '-u' and len(w) > 1 or w[0].find('=') > 0, 'expected NAME=VALUE or -u NAME')
            name, value = (w[1], None) if w[0] == '-u' else w[0].split('=', 1)
            self.env[name], w = value, w[1 + (value is None):]

    def do_package(self, step):
        """package, unchecked-package and bundle, each put where -> PLACE says (a board path, image or -)."""
        w = self.expand(step.rest)
        place, w = (w[-1], w[:-2]) if len(w) >= 2 and w[-2] == '->' else (None, w)
        name, number, *w = need(len(w) >= 2 and w, 'expected NAME VERSION')
        files = [self.path_line(text, 0o755 if text.startswith('bin/') else 0o644, '=(.*)', '[MODE ]PATH=CONTENT',
                                False) for _, text in step.body]
        files = [(path, mode, make(data, self.packages)) for path, mode, data in files]
        members = w[:next((i for i, m in enumerate(w) if m.startswith('-')), len(w))] * (step.keyword == 'bundle')
        tree = '%s/tree%d' % (self.scratch, self.made)
        paths = ['%s/member%d' % (tree, i) for i in range(len(members))]
        for path, mode, data in files:
            self.write((tree + '/' + path).encode('latin-1'), data, mode)
        for path, member in zip(paths, members):
            self.write(path, self.packages[member])
        if step.keyword == 'unchecked-package':  # its records as they are (hostile names too), signed by pkgtool
            need(not w, 'an unchecked package takes no options')
            records = b''.join(struct.pack('<H21xBIH', 0o100000 | mode, 0, len(data), len(path)) +
                               (path + data).encode('latin-1') for path, mode, data in files)
            header = name.encode('latin-1')[:16].ljust(16, b'\0') + struct.pack(
                '<II8xI', need(version(number), 'bad version "%s"' % number), BUILT, 0)
            container = zlib.compress(records)
            parts = struct.pack('<HI', 1, len(header)) + header + struct.pack('<HI', 4, len(container)) + container
            self.write(tree + '.vpa', (struct.pack('<II', 0xBAD0F11E, len(parts)) + parts).decode('latin-1'))
            self.pkgtool('sign', name, None, [tree + '.vpa'])
        else:
            self.pkgtool(step.keyword.replace('package', 'build'), name, number, w[len(members):] + paths
                         if members else ['--root', tree] * bool(files) + w)
        path = {None: '/flash/rw/pckg/%s-%s.vpa' % (name, number), 'image': '/flash/var/pdb/%s/image' % name,
                '-': ''}.get(place, place)
        self.placed[name] = need(path[:1] in ('', '/') and path, 'a package goes to a board path, "image" or "-"')
        if path:
            self.write(self.path(path), self.packages[name])

    do_unchecked_package = do_bundle = do_package

    def do_damage(self, step):
        """NAME KNOB: the package built last under the name damaged, and written again where it was put."""
        w = re.findall(r'[^ \t]+', step.rest)
        need(len(w) >= 2 and w[0] in self.packages, 'expected damage NAME KNOB, NAME a package built before it')
        added = re.sub(r'^[ \t]*([^ \t]+[ \t]*){2}', '', step.rest)
        self.packages[w[0]] = self.packages[w[0]] + make(added, self.packages) if w[1] == 'append' else \
            damaged(self.packages[w[0]], w[1:])
        if self.placed.get(w[0]):
            self.write(self.path(self.placed[w[0]]), self.packages[w[0]])
