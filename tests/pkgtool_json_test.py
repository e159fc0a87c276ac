#!/usr/bin/env python3
"""Runs pkgtool with --json through the outcomes of every command (one row of
the table each) and checks each against doc/pkgtool-json.md: exactly one
object on standard output, its status the exit status, every field documented
with its type and values, every field the tables call "always" there.
   pkgtool_json_test.py DOC PKGTOOL KEY"""
import json, os, re, subprocess, sys, tempfile

doc, pkgtool, key = (os.path.abspath(arg) for arg in sys.argv[1:4])
TYPES = {'string': str, 'integer': int, 'boolean': bool, 'array': list, 'object': dict}
SAME = {'conflicts[]': 'depends[]', 'provides[]': 'depends[]', '/flash/boot': '/flash'}  # "the same fields"
fields, section = {}, None  # (section, path) -> (type, always, values)
for line in open(doc):
    section = line[3:].split()[0] if line.startswith('## ') else section
    row = re.match(r'\| `([^`]+)` \| (\w+) \| ([^|]+) \|([^|]*)\|', line)
    if row:
        values = re.findall(r'`(\w+)`', row[4].split('one of')[1]) if 'one of' in row[4] else None
        fields[section, row[1]] = (TYPES[row[2]], row[3].strip() == 'always', values)

def check(obj, command, path=''):
    for name, value in obj.items():
        field = path + name
        entry = fields.get(('Every', field)) or fields.get((command, field)) or fields.get(
            (command, '.'.join(SAME.get(part, part) for part in field.split('.'))))
        if entry is None and name.endswith('_hex'):
            entry = (str, False, None)
        assert entry, 'undocumented field %s' % field
        assert type(value) is entry[0], '%s is not %s' % (field, entry[0].__name__)
        assert entry[2] is None or value in entry[2], '%s: %r is not a documented value' % (field, value)
        for item in value if isinstance(value, list) else [value]:
            if isinstance(item, dict):
                check(item, command, field + ('[].' if isinstance(value, list) else '.'))
    for (where, field), (_, always, _) in fields.items():  # the fields this object must have
        parent, _, name = field.rpartition('.')
        if always and where in ('Every', command) and parent + '.' * bool(parent) == path and not (
                where == command and 'output' in obj):
            assert name in obj, 'no %s in %s' % (field, command)

ROWS = '''0 keygen -o my.key --public my.pub
3 keygen -o my.key
4 keygen --bogus
2 keygen --from none.key --public n.pub
0 build --key KEY --name t --version 1.0 --root tree -o t.vpa
2 build --key none.key --name t --version 1.0 -o x.vpa
3 build --key KEY --name t --version 1.0 --root tree --class none=1 -o x.vpa
0 bundle --name s --version 1.0 -o s.vpa t.vpa
0 build --key KEY --name m --version 1.0 -o m.vpa --root tree --arch mips
0 bundle --name w --version 1.0 -o w.vpa m.vpa
1 bundle --key my.pub --name s --version 1.0 -o x.vpa t.vpa
3 bundle --name t --version 1.0 -o x.vpa t.vpa
0 sign --key KEY -o t2.vpa t.vpa
2 sign --key KEY -o x.vpa tree
0 inspect s.vpa
1 inspect --key my.pub t.vpa
2 inspect none.vpa
2 inspect --key none.pub t.vpa
4 inspect
0 verify t.vpa s.vpa
2 verify t.vpa none.vpa
0 list s.vpa
0 extract -C out t.vpa
1 extract --key my.pub -C out t.vpa
0 version compare 6.41rc2 lt 6.41
1 version compare 6.41 lt 6.41rc2
4 version compare 6.40.0 lt 6.41
0 files -r board t
1 files -r board nobody
0 owner -r board /flash/bin/x
4 owner -r board /etc/x
0 status -r board
2 status -r none
0 plan -r board
cp t.vpa board/flash/rw/pckg/
0 plan -r board
2 plan -r none
4 plan --bogus'''.splitlines()

os.chdir(tempfile.mkdtemp())
for path, text in [('tree/bin/x', 'x'), ('tree/bin/\udced\udca0\udc80', 'no UTF-8 name'),
                   ('board/flash/var/pdb/t/version', '1 0\n'), ('board/flash/var/pdb/t/deps', ''),
                   ('board/flash/var/pdb/t/files', 'bin/x\n'), ('board/flash/rw/pckg/.keep', ''),
                   ('board/flash/boot/.keep', '')]:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'w').write(text)
failed = 0
for row in ROWS:
    if row.startswith('cp '):  # a step between the rows
        subprocess.run(row.split(), check=True)
        continue
    status, words = int(row.split()[0]), [key if w == 'KEY' else w for w in row.split()[1:]]
    done = subprocess.run([pkgtool] + words + ['--json'], capture_output=True, text=True)
    try:
        obj = json.loads(done.stdout)
        assert done.returncode == status == obj['status'], 'status %d, expected %d' % (done.returncode, status)
        assert obj['command'] == words[0]
        check(obj, words[0])
        assert not (status == 0 and obj['error']) and bool(obj['warnings']) == (words[-1] == 'm.vpa'), 'messages'
        assert done.stdout.count('_hex"') == (words[0] == 'inspect' and status < 2), 'only the name not in UTF-8 in hex'
        assert words[0] != 'plan' or status or bool(obj['changes']) == (obj['verdict'] == 'changes'), 'changes'
    except (AssertionError, ValueError, KeyError) as e:
        failed += 1
        print('%s: %s\n%s%s' % (row, e, done.stdout, done.stderr))
print('%d of %d outcomes as documented' % (len(ROWS) - failed, len(ROWS)))
sys.exit(failed != 0)
