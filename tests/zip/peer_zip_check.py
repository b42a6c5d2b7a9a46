#!/usr/bin/env python3
"""Runs the peer readers' test archives (Go's and libzip's, with the outcomes their own tests
expect) through zqpkg and prints one line per case: the peer's expectation, what zqpkg did, and
whether they agree. Usage: peer_zip_check.py ZQPKG [PEER_DIR]. PEER_DIR defaults to
$ZQ_PEER_ZIP_DIR, else to shared/peer-zip beside the checkout. Exits 1 when it finds no archive
there, so that a check of nothing never passes. docs/peer-zip.md explains every case that differs."""
import json, os, shutil, subprocess, sys, tempfile

if len(sys.argv) < 2:
    sys.exit('usage: peer_zip_check.py ZQPKG [PEER_DIR]')
ZQPKG = sys.argv[1]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PEER = (sys.argv[2] if len(sys.argv) > 2 else
        os.environ.get('ZQ_PEER_ZIP_DIR') or os.path.join(os.path.dirname(SOURCE), 'shared', 'peer-zip'))
WORK = tempfile.mkdtemp(prefix='peerzip-')


def run(*args):
    p = subprocess.run([ZQPKG, *args], capture_output=True)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def listing(path):
    rc, out, err = run('list', '--json', path)
    return (json.loads(out) if rc == 0 else None), err.strip()


def extract(path, password=None):
    dest = tempfile.mkdtemp(dir=WORK)
    args = ['extract'] + (['--password', password] if password else []) + [path, dest]
    rc, out, err = run(*args)
    return rc, err.strip(), dest


def content(dest, name):
    p = os.path.join(dest, name)
    return open(p, 'rb').read() if os.path.isfile(p) else None


rows = []


def row(suite, case, expected, got, same):
    rows.append((suite, case, expected, got, 'same' if same else 'DIFFERS'))


# ---- Go ----
GO = os.path.join(PEER, 'go')
go_ok = {
    'test.zip': {'test.txt': b'This is a test text file.\n'},
    'test-trailing-junk.zip': {'test.txt': b'This is a test text file.\n'},
    'test-prefix.zip': {'test.txt': b'This is a test text file.\n'},
    'test-baddirsz.zip': {'test.txt': b'This is a test text file.\n'},
    'test-badbase.zip': {'test.txt': b'This is a test text file.\n'},
    'symlink.zip': {},
    'readme.zip': {},
    'dd.zip': {'filename': b'This is a test textfile.\n'},
    'winxp.zip': {'hello': b'world \r\n', 'dir/bar': b'foo \r\n', 'readonly': b'important \r\n'},
    'unix.zip': {'hello': b'world \r\n', 'dir/bar': b'foo \r\n', 'readonly': b'important \r\n'},
    'go-no-datadesc-sig.zip': {'foo.txt': b'foo\n', 'bar.txt': b'bar\n'},
    'go-no-datadesc-sig.from-base64.zip': {'foo.txt': b'foo\n', 'bar.txt': b'bar\n'},
    'go-with-datadesc-sig.zip': {'foo.txt': b'foo\n', 'bar.txt': b'bar\n'},
    'crc32-not-streamed.zip': {'foo.txt': b'foo\n', 'bar.txt': b'bar\n'},
    'zip64.zip': {'README': b'This small file is in ZIP64 format.\n'},
    'zip64-2.zip': {'README': b'This small file is in ZIP64 format.\n'},
    'dupdir.zip': {}, 'subdir.zip': {}, 'inline-TestIssue12449.zip': {},
    'inline-TestIssue10957.zip': {}, 'inline-TestIssue11146.zip': {},
}
for n in ('utf8-7zip.zip', 'utf8-winrar.zip', 'utf8-winzip.zip', 'utf8-infozip.zip', 'utf8-osx.zip',
          'time-7zip.zip', 'time-infozip.zip', 'time-osx.zip', 'time-win7.zip', 'time-winrar.zip',
          'time-winzip.zip', 'time-go.zip', 'time-22738.zip'):
    go_ok[n] = {}
go_fail = {'readme.notzip': 'ErrFormat', 'comment-truncated.zip': 'ErrFormat',
           'inline-TestCVE202133196.zip': 'error', 'inline-TestCVE202139293.zip': 'ErrFormat',
           'inline-TestIssue10956.zip': 'error'}
go_insecure = {'inline-TestCVE202127919.zip', 'inline-TestCVE202141772.zip'}
if os.path.isdir(GO):
    for name in sorted(os.listdir(GO)):
        if not (name.endswith('.zip') or name.endswith('.notzip')):
            continue
        path = os.path.join(GO, name)
        doc, err = listing(path)
        rc, xerr, dest = extract(path) if doc else (2, err, None)
        got = ('opens, %d entries%s%s; extract exit %d%s' % (
            len(doc['entries']), ', rebuilt' if doc['rebuilt'] else '',
            ', prefix %d' % doc['prefix_size'] if doc['prefix_size'] else '', rc,
            (' (' + xerr.replace('\n', ' | ')[:160] + ')') if xerr else '')) if doc else 'refused: ' + err
        if name in go_ok:
            wanted = go_ok[name]
            good = doc is not None and all(content(dest, k) == v for k, v in wanted.items())
            row('go', name, 'OK' + (' + contents' if wanted else ''), got, good and rc == 0)
        elif name in go_fail:
            row('go', name, go_fail[name], got, doc is None)
        elif name in go_insecure:
            outside = os.path.exists(os.path.join(WORK, 'test.txt'))
            row('go', name, 'ErrInsecurePath (entries listed)', got, doc is not None and rc == 1 and not outside)
        else:
            row('go', name, '(not in the table)', got, True)

# ---- libzip ----
LZ = os.path.join(PEER, 'libzip')
manifest = json.load(open(os.path.join(LZ, 'MANIFEST.json'))) if os.path.isdir(LZ) else {'entries': []}
for t in manifest['entries']:
    prog, args, inputs = t['program'], t['arguments'].split(), t['inputs']
    exp_out, exp_exit = t['expected_stdout'], t['expected_exit']
    name = t['test']

    def src(n):
        return os.path.join(LZ, inputs.get(n, n))

    if prog == 'tryopen':
        flags = [a for a in args if a.startswith('-')]
        files = [a for a in args if not a.startswith('-')]
        for f, line in zip(files, exp_out):
            path = src(f)
            doc, err = listing(path) if os.path.exists(path) else (None, 'missing input')
            got = ('succeeded, %d entries%s' % (len(doc['entries']), ' (rebuilt)' if doc['rebuilt'] else '')) if doc else 'refused: ' + err
            if 'succeeded' in line:
                same = doc is not None and line.endswith(', %d entries' % len(doc['entries']))
            else:
                same = doc is None
            row('libzip', '%s %s%s' % (name, ' '.join(flags) + ' ' if flags else '', f), line.split("' ", 1)[-1], got, same)
        continue
    if prog != 'ziptool':
        row('libzip', name, '(%s program)' % prog, 'not applicable: a library call of the peer', True)
        continue
    # ziptool: reading commands only
    opts, rest = [], list(args)
    while rest and rest[0].startswith('-'):
        o = rest.pop(0)
        if o == '--':
            break
        opts.append(o)
        if o in ('-l', '-o', '-mF'):
            opts.append(rest.pop(0))
    archive, cmds = rest[0], rest[1:]
    path = src(archive)
    readonly = {'cat', 'stat', 'get_num_entries', 'get_archive_comment', 'set_password', 'name_locate'}
    if not os.path.exists(path) or any(c in ('add', 'add_file', 'add_from_zip', 'delete', 'rename', 'cancel',
                                             'replace_file_contents', 'set_file_compression', 'set_archive_comment',
                                             'set_file_mtime', 'set_archive_flag', 'get_archive_flag', 'count_extra',
                                             'get_extra', 'count_extra_by_id', 'get_extra_by_id', 'fopen',
                                             'set_file_encryption', 'zin_close', 'unchange', 'unchange_all')
                                         for c in cmds) or not set(cmds) & readonly:
        row('libzip', name, 'ziptool ' + ' '.join(cmds[:4]), 'not applicable: writing side or library API', True)
        continue
    doc, err = listing(path)
    password = None
    if 'set_password' in cmds:
        password = cmds[cmds.index('set_password') + 1]
    got_lines, exit_got = [], 0
    if doc is None:
        row('libzip', name, 'exit %d %s' % (exp_exit, ' / '.join(exp_out)[:60]), 'refused: ' + err, exp_exit != 0)
        continue
    rc, xerr, dest = extract(path, password)
    i = 0
    while i < len(cmds):
        c = cmds[i]
        if c == 'cat':
            e = doc['entries'][int(cmds[i + 1])]
            data = content(dest, e['name'])
            if data is None:
                exit_got = 1
            else:
                got_lines += data.decode('latin-1').splitlines()
            i += 2
        elif c == 'stat':
            e = doc['entries'][int(cmds[i + 1])]
            got_lines += ["name: '%s'" % e['name'], "index: '%s'" % cmds[i + 1], "size: '%d'" % e['size'],
                          "compressed size: '%d'" % e['compressed_size'], "crc: '%x'" % e['crc32'],
                          "compression method: '%d'" % e['method']]
            i += 2
        elif c == 'get_num_entries':
            got_lines.append('%d entries in archive' % len(doc['entries']))
            i += 2
        elif c == 'get_archive_comment':
            got_lines.append('Archive comment: %s' % doc['comment'])
            i += 1
        elif c == 'set_password':
            i += 2
        elif c == 'name_locate':
            i += 3
        else:
            i += 1
    if 'stat' in cmds:
        wanted = [l for l in exp_out if l.split(':')[0] in ('name', 'index', 'size', 'compressed size', 'crc', 'compression method')]
        same = wanted == got_lines[:len(wanted)] or wanted == got_lines
    elif 'name_locate' in cmds:
        row('libzip', name, 'name lookup flags', 'not applicable: library lookup flags', True)
        continue
    else:
        same = (exp_exit == 0) == (exit_got == 0) and (exp_exit != 0 or got_lines == exp_out)
    row('libzip', name, 'exit %d %s' % (exp_exit, ' / '.join(exp_out)[:70]),
        'exit %d %s%s' % (exit_got, ' / '.join(got_lines)[:70], (' (' + xerr[:100] + ')') if xerr else ''), same)

for r in rows:
    print(' | '.join(r))
print('# %d cases, %d differ' % (len(rows), sum(r[4] != 'same' for r in rows)))
shutil.rmtree(WORK, ignore_errors=True)
if not rows:
    sys.exit('peer_zip_check.py: no peer archive found in %s (give PEER_DIR or set ZQ_PEER_ZIP_DIR)' % PEER)
