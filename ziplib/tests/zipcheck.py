#!/usr/bin/env python3
"""Outside checks of an archive written by the compressor tests.

  zipcheck.py tree ARCHIVE FOLDER [--password PW] [--crlf] [--prefix P]
      python's zipfile tests every entry (methods it has) and the extracted
      bytes must equal the files of FOLDER (LF as CR LF with --crlf); every
      file and folder of FOLDER must be in the archive.
  zipcheck.py records ARCHIVE
      an independent parse of every record with struct, printed as JSON.
  zipcheck.py expect ARCHIVE EXPRESSION
      exit 0 when the python EXPRESSION over that parse (r) is true.
"""
import json
import os
import struct
import sys
import zipfile


def tree(archive, folder, password, crlf, prefix):
    with zipfile.ZipFile(archive) as z:
        if password:
            z.setpassword(password.encode())
        names = set()
        for info in z.infolist():
            names.add(info.filename)
            path = os.path.join(folder, info.filename[len(prefix):])
            if info.filename.endswith('/'):
                if not os.path.isdir(path):
                    return 'folder entry without folder: ' + info.filename
                continue
            with open(path, 'rb') as f:
                want = f.read()
            if crlf:
                want = want.replace(b'\n', b'\r\n')
            if info.compress_type == 9:
                continue  # python has no Deflate64; unzip and 7zz check those
            got = z.read(info)
            if got != want:
                return 'bytes differ: ' + info.filename
        for top, dirs, files in os.walk(folder):
            for d in dirs + files:
                rel = prefix + os.path.relpath(os.path.join(top, d), folder).replace(os.sep, '/')
                if d in dirs:
                    rel += '/'
                if rel not in names:
                    return 'missing from archive: ' + rel
    return 'OK'


def extra_blocks(data):
    out, p = [], 0
    while p + 4 <= len(data):
        tag, size = struct.unpack_from('<HH', data, p)
        out.append({'tag': tag, 'size': size, 'data': data[p + 4:p + 4 + size].hex()})
        p += 4 + size
    return out


def records(archive):
    data = open(archive, 'rb').read()
    eocd = data.rfind(b'PK\x05\x06')
    (_, disk, cd_disk, on_disk, total, cd_size, cd_off, clen) = struct.unpack_from('<IHHHHIIH', data, eocd)
    res = {'end': {'disk': disk, 'cd_disk': cd_disk, 'on_disk': on_disk, 'total': total,
                   'cd_size': cd_size, 'cd_offset': cd_off, 'comment': data[eocd + 22:eocd + 22 + clen].hex()}}
    loc = data.rfind(b'PK\x06\x07', 0, eocd)
    if loc >= 0 and loc + 20 == eocd:
        (_, z64disk, z64off, disks) = struct.unpack_from('<IIQI', data, loc)
        (_, size, made, need, d1, d2, n1, n2, cs, co) = struct.unpack_from('<IQHHIIQQQQ', data, z64off)
        res['locator'] = {'disk': z64disk, 'offset': z64off, 'disks': disks}
        res['zip64_end'] = {'size': size, 'made_by': made, 'needed': need, 'disk': d1, 'cd_disk': d2,
                            'on_disk': n1, 'total': n2, 'cd_size': cs, 'cd_offset': co}
        cd_off = co
    entries = []
    p = cd_off
    while data[p:p + 4] == b'PK\x01\x02':
        f = struct.unpack_from('<IHHHHIIIIHHHHHII', data, p)
        name = data[p + 46:p + 46 + f[9]]
        extra = data[p + 46 + f[9]:p + 46 + f[9] + f[10]]
        e = {'name': name.decode('cp437'), 'made_by': f[1], 'needed': f[2], 'flags': f[3], 'method': f[4],
             'time': f[5], 'crc': f[6], 'csize': f[7], 'usize': f[8], 'disk': f[12], 'iattr': f[13],
             'xattr': f[14], 'offset': f[15], 'extra': extra_blocks(extra)}
        off = f[15]
        for b in e['extra']:
            if b['tag'] == 1:
                vals = struct.unpack('<%dQ' % (b['size'] // 8), bytes.fromhex(b['data']))
                i = 0
                for k in ('usize', 'csize', 'offset'):
                    if e[k] == 0xFFFFFFFF and i < len(vals):
                        e[k] = vals[i]
                        i += 1
                off = e['offset']
        lf = struct.unpack_from('<IHHHIIIIHH', data, off)
        lextra = data[off + 30 + lf[8]:off + 30 + lf[8] + lf[9]]
        e['local'] = {'needed': lf[1], 'flags': lf[2], 'method': lf[3], 'time': lf[4], 'crc': lf[5],
                      'csize': lf[6], 'usize': lf[7], 'extra': extra_blocks(lextra)}
        end = off + 30 + lf[8] + lf[9] + e['csize']
        if data[end:end + 4] == b'PK\x07\x08':
            after = lambda n: data[end + n:end + n + 2] == b'PK'
            e['descriptor_len'] = 24 if after(24) else 16 if after(16) else 0
        entries.append(e)
        p += 46 + f[9] + f[10] + f[11]
    res['entries'] = entries
    return res


def main():
    if sys.argv[1] == 'tree':
        args = sys.argv[2:]
        pw = args[args.index('--password') + 1] if '--password' in args else None
        prefix = args[args.index('--prefix') + 1] if '--prefix' in args else ''
        msg = tree(args[0], args[1], pw, '--crlf' in args, prefix)
        print(msg)
        return 0 if msg == 'OK' else 1
    r = records(sys.argv[2])
    if sys.argv[1] == 'expect':
        ok = eval(sys.argv[3], {'r': r, 'all': all, 'any': any, 'len': len})
        if not ok:
            print(json.dumps(r)[:4000])
        return 0 if ok else 1
    print(json.dumps(r))
    return 0


if __name__ == '__main__':
    sys.exit(main())
