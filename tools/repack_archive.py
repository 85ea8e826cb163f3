"""Rewrites a zip or tar.gz with its members sorted by name, every time set to
SOURCE_DATE_EPOCH, owner root (0), and modes 0755 (folders, programs) or 0644.

usage: repack_archive.py ARCHIVE

CPack adds members in the order the file system lists them, and its tarballs
carry that order; the contents are kept as CPack made them.
"""

import datetime
import gzip
import io
import os
import sys
import tarfile
import zipfile


def mode_of(is_dir, mode):
    return 0o755 if is_dir or mode & 0o111 else 0o644


def repack_tar(path, mtime):
    with tarfile.open(path, "r:gz") as source:
        members = sorted(((m, source.extractfile(m).read() if m.isfile() else None) for m in source),
                         key=lambda item: item[0].name)
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as target:
        for member, data in members:
            if not (member.isfile() or member.isdir()):
                raise SystemExit("repack: unexpected member {}".format(member.name))
            member.mtime = mtime
            member.uid = member.gid = 0
            member.uname = member.gname = "root"
            member.mode = mode_of(member.isdir(), member.mode)
            target.addfile(member, io.BytesIO(data) if data is not None else None)
    with open(path, "wb") as out:
        # No name and a zero time in the gzip header.
        with gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as packed:
            packed.write(raw.getvalue())


def repack_zip(path, mtime):
    with zipfile.ZipFile(path) as source:
        members = sorted(((info.filename, info.is_dir(), info.external_attr >> 16, source.read(info))
                          for info in source.infolist()))
    stamp = datetime.datetime.fromtimestamp(mtime, datetime.timezone.utc).timetuple()[:6]
    with zipfile.ZipFile(path, "w") as target:
        for name, is_dir, mode, data in members:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix, so that the modes below are read
            info.external_attr = ((0o040000 if is_dir else 0o100000) | mode_of(is_dir, mode)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)


def main():
    if len(sys.argv) != 2 or "SOURCE_DATE_EPOCH" not in os.environ:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    mtime = int(os.environ["SOURCE_DATE_EPOCH"])
    if path.endswith(".zip"):
        repack_zip(path, mtime)
    elif path.endswith(".tar.gz"):
        repack_tar(path, mtime)
    else:
        print("repack: neither .zip nor .tar.gz: " + path, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
