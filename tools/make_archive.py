#!/usr/bin/python3
"""Packs files into a .zip or a .tar.gz that is the same bytes every time:
entries in the order named, under one folder, dated SOURCE_DATE_EPOCH, owned
by root, no name or time in the gzip header.

Usage: make_archive.py OUT.zip|OUT.tar.gz FOLDER FILE..."""
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, folder, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    when = int(os.environ["SOURCE_DATE_EPOCH"])
    if out.endswith(".zip"):
        with zipfile.ZipFile(out, "w") as z:
            for path in files:
                info = zipfile.ZipInfo(folder + "/" + os.path.basename(path), time.gmtime(when)[:6])
                # Made on "MS-DOS", with no attributes: Windows needs none.
                info.create_system = 0
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), compresslevel=9)
    elif out.endswith(".tar.gz"):
        data = io.BytesIO()
        with tarfile.open(fileobj=data, mode="w", format=tarfile.GNU_FORMAT) as t:
            def add(name, mode, body=None):
                info = tarfile.TarInfo(name)
                info.mtime, info.mode, info.uid, info.gid, info.uname, info.gname = when, mode, 0, 0, "", ""
                if body is None:
                    info.type = tarfile.DIRTYPE
                    t.addfile(info)
                else:
                    info.size = len(body)
                    t.addfile(info, io.BytesIO(body))
            add(folder + "/", 0o755)
            for path in files:
                with open(path, "rb") as f:
                    add(folder + "/" + os.path.basename(path), 0o644, f.read())
        with open(out, "wb") as f, gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=0, compresslevel=9) as g:
            g.write(data.getvalue())
    else:
        sys.exit("make_archive.py: %s is neither .zip nor .tar.gz" % out)


if __name__ == "__main__":
    main()
