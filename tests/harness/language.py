# The scenario language (doc/scenarios.md): escapes, contents, the package notation and the database
# entries it stands for, and the reading and rewriting of .scn files. Bytes are latin-1 strings: a character a byte.
import fcntl
import hashlib
import random
import re
import types

RUNS = ('run', 'run-inside', 'pkgtool')
DIRECTIVES = RUNS + ('installed', 'file', 'dir', 'link', 'hardlink', 'fifo', 'remove', 'tmpfs', 'manifest', 'env',
                     'package', 'unchecked-package', 'bundle', 'damage', 'sweep')
BUILT = 1700000000  # the build time of every package a scenario makes
PLACEHOLDER = 0xFFFFFFFF
POSTLOG, MANIFEST = '/flash/postlog', '/ram/MANIFEST'
NAME = r'[A-Za-z0-9._-]+'
ESCAPES = dict(zip('ntrbe0\\"\'', '\n\t\r\b\x1b\0\\"\''))
LISTS = {'>': 'deps', '+': 'provides', '!': 'conflicts'}
STATE = dict(version=0, built=BUILT, disabled='', enabled=False, deps=[], provides=[], conflicts=[], bundle='',
             is_bundle=False, scheduled='', files=[])  # lists are replaced, never changed
WORDS = {'disabled': ('disabled', 'user'), 'disabled=user': ('disabled', 'user'), 'disabled=auto': ('disabled', 'auto'),
         'enabled=user': ('enabled', True), 'bundle': ('is_bundle', True), 'uninstall': ('scheduled', 'uninstall'),
         'enable': ('scheduled', 'enable'), 'disable': ('scheduled', 'disable')}

class Fault(Exception):
    """A fault of a scenario line, or of what a step met."""

class Packages(dict):
    """The package files built, by name: a name means the package of that name built last."""
    def __missing__(self, name):
        raise Fault('no package %s was built' % name)

def need(value, message):  # the value, unless it is None or False
    if value is None or value is False:
        raise Fault(message)
    return value

def replaced(text, pairs):  # each (old, new) in turn
    for old, new in pairs:
        text = text.replace(old, new)
    return text

def unescape(text):
    """The bytes of a text with C escapes."""
    def one(m):
        need(m[1] in ESCAPES or len(m[1]) == 3,
             'bad escape "%s" (\\n \\t \\r \\b \\e \\0 \\\\ \\" \\\' \\xNN)' % text[m.start():m.start() + 4])
        return ESCAPES.get(m[1]) or chr(int(m[1][1:], 16))
    return re.sub(r'(?s)\\(x[0-9a-fA-F]{2}|.|$)', one, text)

def escape(data, quote=False):
    named = {'\n': 'n', '\t': 't', '\r': 'r', '\b': 'b', '\x1b': 'e', '\\': '\\', '"': quote and '"'}
    out = ''.join('\\' + named[c] if named.get(c) else c if ' ' <= c < '\x7f' else '\\x%02x' % ord(c) for c in data)
    return out[:-1] + '\\x20' if out.endswith(' ') else out  # so that no editor eats it

def console_view(out):
    """What a terminal shows: \\r and \\b move back, escape sequences and line-ending blanks are unseen."""
    shown, line, col = '', [], 0
    for c in re.sub(r'\x1b(\[[^\x40-\x7e]*[\x40-\x7e]?)?', '', out) + '\n':
        if c == '\n':
            shown, line = shown + ''.join(line).rstrip(' ') + '\n', []
        if c in '\r\b\n':
            col = max(col - 1, 0) if c == '\b' else 0
        else:
            line[col:col + 1], col = [c], col + 1
    return shown[:-1]

def output_lines(mark, text):
    """Output as expected lines: each escaped after the mark, a last one without newline ending in \\c."""
    *full, last = text.split('\n')
    return [mark + ' ' + escape(p) if p else mark for p in full] + [mark + ' ' + escape(last) + '\\c'] * bool(last)

def size(text, most=0xFFFFFFFF):  # "300K", "1M" or plain bytes up to `most`, else None
    m = re.fullmatch(r'(\d{1,10})([KM]?)', text)
    value = m and int(m[1]) << {'': 0, 'K': 10, 'M': 20}[m[2]]
    return value if m and value <= most else None

def make(token, packages):
    """The bytes of an input content: text, or {BYTE*COUNT}, {random COUNT} or {package NAME}."""
    if token[:1] + token[-1:] != '{}':
        return unescape(token)
    m = need(re.fullmatch(r'\{(?:package (\S+)|random (\S+)|(.*)\*(\S+))\}', token), 'unknown content ' + token)
    if m[1]:
        return packages[m[1]]
    count = need(size(m[2] or m[4], 64 << 20), 'bad size in ' + token)  # up to 64M
    byte = need(m[2] or len(unescape(m[3])) == 1 and unescape(m[3]), 'expected {BYTE*COUNT}, not ' + token)
    return random.Random(count).randbytes(count).decode('latin-1') if m[2] else byte * count  # random: incompressible

def describe(data, packages):
    """The expected form of bytes: a repeated byte, a package, quoted text or a digest."""
    if len(data) >= 32 and data == data[0] * len(data):
        return '{%s*%d}' % (escape(data[0]), len(data))
    named = sorted(name for name in packages if packages[name] == data)
    quoted, text = '"' + escape(data, True) + '"', all(' ' <= c < '\x7f' or c in '\n\t' for c in data)
    return '{package %s}' % named[0] if named else quoted if len(quoted) <= (1024 if text else 240) else \
        '{%d bytes sha1 %s}' % (len(data), hashlib.sha1(data.encode('latin-1')).hexdigest())

def version_text(v):  # as installer prints it: 6.41, 6.40.1, 6.41beta3
    stage, number = chr(v >> 8 & 0xFF), v & 0xFF
    return '%d.%d%s' % (v >> 24, v >> 16 & 0xFF, {'a': 'alpha', 'b': 'beta', 'c': 'rc'}.get(stage, '')) + (
        '.' * (stage == 'f') + str(number) if number else '')

def version(text):
    """A version as installer prints it ("6.41", "6.40.1", "6.41beta3"), and only so; else None."""
    m = re.fullmatch(r'(\d+)\.(\d+)(?:\.(\d+)|(alpha|beta|rc)(\d*))?', text)
    v = m and (int(m[1]) << 24 | int(m[2]) << 16 | ord({'alpha': 'a', 'beta': 'b', 'rc': 'c'}.get(m[4], 'f')) << 8 |
               int(m[3] or m[5] or 0)) & 0xFFFFFFFF
    return v if m and version_text(v) == text else None

def parse_states(text):
    """The packages of a line of package notation ("system 6.41; ppp 6.40 disabled >system"), as STATE dicts."""
    states, parts = [], text.split(';')
    for i, part in enumerate(parts):
        found = re.findall(r'[^ \t]+', part)
        need(len(found) > 1 or not found and i == len(parts) - 1, 'a package needs a name and a version')
        if found:
            states.append(dict(STATE, name=need(re.fullmatch(NAME, found[0]), 'bad package name "%s"' % found[0])[0]))
            states[-1]['version'], states[-1]['built'] = (PLACEHOLDER, PLACEHOLDER) if found[1] == 'placeholder' \
                else (need(version(found[1]), 'bad version "%s"' % found[1]), BUILT)
        for word in found[2:]:
            take_word(word, states[-1])
    return states

def take_word(word, s):
    """One word after a package's name and version."""
    key, value = word[:6], word[6:]  # of files= and built=
    if word in WORDS:
        s[WORDS[word][0]] = WORDS[word][1]
    elif word[0] in LISTS:
        f = word[1:].split(':')  # NAME[:MIN[:MAX[:PRIORITY]]]
        bounds = [version(b) if b else 0 for b in (f + ['', ''])[1:3]]
        need(len(f) <= 3 + (word[0] == '+') and bool(re.fullmatch(NAME, f[0])) and None not in bounds and (
            len(f) < 4 or bool(re.fullmatch(r'-?\d+', f[3])) and -2**31 <= int(f[3]) < 2**31), 'bad entry ' + word)
        s[LISTS[word[0]]] = s[LISTS[word[0]]] + [(f[0], bounds[0], bounds[1], int(f[3]) if len(f) > 3 else 0)]
    elif word[0] == '@':
        s['bundle'] = need(re.fullmatch(NAME, word[1:]), 'bad bundle name in "%s"' % word)[0]
    elif key == 'files=':
        s['files'] = need('' not in value.split(',') and value.split(','), 'empty path in files=') if value else []
    elif key == 'built=':
        need(s['version'] != PLACEHOLDER, 'a placeholder has no build time')
        s['built'] = int(need(re.fullmatch(r'\d+', value) and int(value) < 2**32 and value, 'bad build time ' + value))
    else:
        raise Fault('unknown word "%s"' % word)

def entry_files(s):
    """File name -> content of the database entry installer writes for a package."""
    def lines(key):
        return ''.join('%s %d %d%s\n' % (e[:3] + (' %d' % e[3] if key == 'provides' else '',)) for e in s[key])
    files = {'version': '%d %d\n' % (s['version'], s['built']), 'deps': lines('deps')}
    files.update((key, lines(key)) for key in ('provides', 'conflicts') if s[key])
    files.update((key, s[key] + '\n') for key in ('bundle', 'disabled') if s[key])
    files.update({'enabled': 'user\n'} if s['enabled'] else {})
    return files if s['is_bundle'] else dict(files, files=''.join(f + '\n' for f in s['files']))

def entry_words(name, files):
    """The package notation after the name that gives exactly these entry files, or None."""
    try:
        number, built = map(int, files['version'].split())
        words = ['placeholder'] if number == built == PLACEHOLDER else [version_text(number)] + [
            'built=%d' % built] * (built != BUILT)
        disabled = files.get('disabled', '').strip()
        words += ['disabled' + ('=' + disabled) * (disabled != 'user')] * bool(disabled) + ['enabled=user'] * (
            'enabled' in files)
        for mark, key in LISTS.items():  # lines of NAME MIN MAX [PRIORITY]
            for entry, low, high, *priority in map(str.split, files.get(key, '').splitlines()):
                bounds = [version_text(int(bound)) if int(bound) else '' for bound in (low, high)]
                words.append(mark + ':'.join([entry] + bounds + [p for p in priority if p != '0']).rstrip(':'))
        words += ['@' + files.get('bundle', '').strip()] * ('bundle' in files) + ['bundle'] * ('files' not in files)
        words += ['files=' + ','.join(files.get('files', '').splitlines())] * bool(files.get('files'))
        states = parse_states(name + ' ' + ' '.join(words))
    except (Fault, ValueError, KeyError):
        return None
    return ' '.join(words) if len(states) == 1 and entry_files(states[0]) == files else None

def parse_file(text):
    """Blocks by title (.title, .line, .steps, .error), and the first fault outside them as (line, message). A step:
    a directive's line, keyword, rest, gap (after a blank or comment line), body and expected lines as (line, text)."""
    blocks, fault, block, body, expected, gap = {}, None, None, False, False, False
    lines = text.split('\n')
    for number, line in enumerate(lines[:-1] if text.endswith('\n') else lines, 1):
        if line.startswith('=== '):
            title = line[4:]
            why = 'a second block titled ' if title in blocks else 'a title is letters, digits and "_": '
            fault = fault or (title in blocks or not re.fullmatch(r'\w+', title, re.A)) and (number, why + title)
            block = blocks[title] = types.SimpleNamespace(title=title, line=number, steps=[], error=None)
        elif block is None and line[:1] not in ('', '#'):
            fault = fault or (number, 'only comments come before the first "=== Title"')
        elif block is not None and block.error is None:
            try:
                if not line.strip(' \t') or line[0] == '#':
                    body, expected, gap = False, False, True
                elif line[0] in ' \t':
                    need(body, 'an indented line belongs to a package')
                    block.steps[-1].body.append((number, line.lstrip(' \t')))
                elif re.match(r'status |[|=!]( |$)|[-+~] .|\.\.\.$', line):
                    need(expected, 'expected lines follow their run directly')
                    block.steps[-1].expected.append((number, line))
                else:
                    keyword, rest = re.match(r'([^ \t]*)[ \t]*(.*)', line).groups()
                    need(keyword in DIRECTIVES, 'unknown directive "%s"' % keyword)
                    block.steps.append(types.SimpleNamespace(line=number, keyword=keyword, rest=rest, gap=gap, body=[],
                                                             expected=[]))
                    body, expected, gap = keyword in ('package', 'unchecked-package', 'sweep'), keyword in RUNS, False
            except Fault as error:
                block.error = number, str(error)
    return blocks, fault or None

def read_file(path):
    with open(path, 'rb') as f:
        return parse_file(f.read().decode('latin-1'))

def rewrite(path, title, runs):
    """The expected lines of the block's runs replaced where `runs` gives lines; one file's blocks may run at once."""
    with open(path, 'r+b') as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        lines = f.read().decode('latin-1').split('\n')
        steps = [step for step in parse_file('\n'.join(lines))[0][title].steps if step.keyword in RUNS]
        for step, new in reversed([(step, new) for step, new in zip(steps, runs) if new is not None]):
            first, last = (step.expected[0][0] - 1, step.expected[-1][0]) if step.expected else (step.line, step.line)
            lines[first:last] = new
        f.seek(0)
        f.truncate()
        f.write('\n'.join(lines).encode('latin-1'))
