#!/usr/bin/python3
"""A one-file FUSE file system whose file reads back its first GOOD bytes and
then fails with EIO: a disk with a bad sector, as a phonebook loader meets it.
Every attempt to change anything is written to LOG and refused (EROFS), so a
test can tell a save that was never tried from one that failed.

usage: eio_tail_fs.py SOURCE MOUNTPOINT NAME GOOD LOG
"""
import errno
import stat
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class EioTailFs(Operations):
    def __init__(self, data, name, good, log):
        self.data, self.name, self.good, self.log = data, '/' + name, good, log
        self.now = time.time()

    def note(self, what):
        with open(self.log, 'a') as f:
            f.write(what + '\n')
        raise FuseOSError(errno.EROFS)

    def getattr(self, path, fh=None):
        times = dict(st_ctime=self.now, st_mtime=self.now, st_atime=self.now)
        if path == '/':
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2, **times)
        if path == self.name:
            return dict(st_mode=stat.S_IFREG | 0o600, st_nlink=1, st_size=len(self.data), **times)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return ['.', '..', self.name[1:]]

    def open(self, path, flags):
        if flags & 3:  # O_WRONLY or O_RDWR
            self.note('open for writing ' + path)
        return 0

    def read(self, path, size, offset, fh):
        if offset >= self.good:
            raise FuseOSError(errno.EIO)
        return self.data[offset:min(offset + size, self.good)]

    def create(self, path, mode, fi=None):
        self.note('create ' + path)

    def write(self, path, data, offset, fh):
        self.note('write ' + path)

    def truncate(self, path, length, fh=None):
        self.note('truncate ' + path)

    def rename(self, old, new):
        self.note('rename %s %s' % (old, new))

    def link(self, target, source):
        self.note('link %s %s' % (source, target))

    def unlink(self, path):
        self.note('unlink ' + path)

    def chmod(self, path, mode):
        self.note('chmod ' + path)

    def chown(self, path, uid, gid):
        self.note('chown ' + path)


if __name__ == '__main__':
    source, mountpoint, name, good, log = sys.argv[1:6]
    with open(source, 'rb') as f:
        data = f.read()
    FUSE(EioTailFs(data, name, int(good), log), mountpoint, foreground=True, direct_io=True)
