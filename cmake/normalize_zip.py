#!/usr/bin/env python3
"""Rewrites a zip archive in place so that its bytes depend on its contents only.

normalize_zip.py ARCHIVE.zip

Entries are sorted by name and all carry one fixed date, Unix permissions 0644 (0755 for
directories and for files with any execute bit), no extra fields and no comments; data is
deflated at level 9. The rewrite goes to a temporary file beside the archive, which then
replaces it, so an interrupted run leaves the original.
"""
import os
import stat
import sys
import tempfile
import zipfile

# DOS dates carry no time zone; a date a month after the 1980 epoch cannot fall before it when
# a tool converts it to local time.
FIXED_DATE = (1980, 2, 1, 0, 0, 0)


def normalized_entry(info):
    entry = zipfile.ZipInfo(info.filename, date_time=FIXED_DATE)
    entry.create_system = 3  # Unix, so that the permissions below are read
    mode = (info.external_attr >> 16) & 0o7777
    if info.is_dir():
        entry.external_attr = ((stat.S_IFDIR | 0o755) << 16) | 0x10  # MS-DOS directory flag
        entry.compress_type = zipfile.ZIP_STORED
    else:
        executable = mode & 0o111
        entry.external_attr = (stat.S_IFREG | (0o755 if executable else 0o644)) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
    return entry


def main(path):
    with zipfile.ZipFile(path) as source:
        infos = sorted(source.infolist(), key=lambda info: info.filename)
        names = [info.filename for info in infos]
        if len(set(names)) != len(names):
            sys.exit(f"{path}: duplicate entries")
        directory = os.path.dirname(os.path.abspath(path))
        fd, temporary = tempfile.mkstemp(prefix=".normalize-", suffix=".zip", dir=directory)
        try:
            with os.fdopen(fd, "wb") as raw, zipfile.ZipFile(raw, "w") as target:
                for info in infos:
                    data = b"" if info.is_dir() else source.read(info)
                    target.writestr(normalized_entry(info), data, compresslevel=9)
            # mkstemp made it private; give it the archive's own permissions.
            os.chmod(temporary, stat.S_IMODE(os.stat(path).st_mode))
            os.replace(temporary, path)
        except BaseException:
            os.unlink(temporary)
            raise


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: normalize_zip.py ARCHIVE.zip")
    main(sys.argv[1])
