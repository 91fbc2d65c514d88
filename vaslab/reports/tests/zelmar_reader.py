#!/usr/bin/env python3
"""Reads the sibling database's record files of a folder as that database
would, from the record layout alone, and writes what they hold as
"key=value" lines for the test to compare:

  <file>.kind, .patient_id, .patient_name, .exam_date, .title, .site,
  .site_text, .operator, .pressure.<k>  (texts up to their NUL)
  <file>.entry.<place>   test,location,probe,gain,sweep,value1,value2,count,gain byte
  <file>.samples.<place> the samples in hex

It fails (exit 1, reason on stderr) on a file that is not 3354 bytes, does not
start FF 01, has bytes after a text's NUL, or has a non-zero byte outside
every field and entry."""
import struct
import sys
from pathlib import Path

RECORD = 3354
TEXTS = [("patient_id", 4, 30), ("patient_name", 34, 30), ("exam_date", 64, 22), ("title", 86, 30),
         ("site", 116, 30), ("site_text", 146, 40), ("operator", 186, 30)]
PRESSURES = 216
ENTRIES = 264
HEAD = 13


def fail(why):
    sys.stderr.write(why + "\n")
    sys.exit(1)


def text(name, data, at, width):
    field = data[at:at + width]
    end = field.find(b"\0")
    if end < 0:
        end = width
    if any(field[end:]):
        fail(f"{name}: bytes after the text's end")
    return field[:end].decode("latin-1")


def read(path, out):
    data = Path(path).read_bytes()
    name = Path(path).name
    if len(data) != RECORD:
        fail(f"{name}: {len(data)} bytes")
    if data[0] != 0xFF or data[1] != 0x01:
        fail(f"{name}: starts {data[0]:02X} {data[1]:02X}")
    covered = bytearray(RECORD)
    covered[0:4] = b"\1" * 4
    (kind,) = struct.unpack_from("<h", data, 2)
    out.append(f"{name}.kind={kind}")
    for field, at, width in TEXTS:
        out.append(f"{name}.{field}={text(name + '.' + field, data, at, width)}")
        covered[at:at + width] = b"\1" * width
    for k in range(12):
        at = PRESSURES + 4 * k
        out.append(f"{name}.pressure.{k}={text(f'{name}.pressure.{k}', data, at, 4)}")
        covered[at:at + 4] = b"\1" * 4
    # Thoracic outlet records (kind 96) hold twelve short entries; the
    # others ten places of 309 bytes, an entry running on over the places
    # after it when it is longer.
    stride, places = (132, 12) if kind == 96 else (309, 10)
    place = 0
    while place < places:
        at = ENTRIES + place * stride
        if data[at] != 1:
            place += 1
            continue
        test, loc, probe, gain, sweep = data[at + 1:at + 6]
        v1, v2, count = struct.unpack_from("<hhH", data, at + 6)
        gain_byte = struct.unpack_from("<b", data, at + 12)[0]
        end = at + HEAD + count
        if end > RECORD:
            fail(f"{name}: entry at place {place} runs past the record")
        out.append(f"{name}.entry.{place}={test},{loc},{probe},{gain},{sweep},{v1},{v2},{count},{gain_byte}")
        out.append(f"{name}.samples.{place}={data[at + HEAD:end].hex()}")
        covered[at:end] = b"\1" * (end - at)
        place = max(place + 1, -(-(end - ENTRIES) // stride))
    for i in range(RECORD):
        if not covered[i] and data[i]:
            fail(f"{name}: byte {i} is {data[i]} outside every field")


def main():
    folder, result = sys.argv[1], sys.argv[2]
    out = []
    for path in sorted(Path(folder).iterdir()):
        if path.is_file() and path.name.isdigit():
            read(path, out)
    Path(result).write_text("\n".join(out) + "\n", encoding="latin-1")


if __name__ == "__main__":
    main()
