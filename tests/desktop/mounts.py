"""Read-only folders and small disks for the flows that need them, where
the run is root's: a root process writes into any folder whatever its
mode, so only a mount makes it read-only or full. The run goes into a
mount namespace of its own first, so nothing it mounts reaches the rest of
the machine, and every program it starts (Wine's server too, when it
comes after) sees the same mounts."""
import contextlib
import ctypes
import os
import subprocess

CLONE_NEWNS = 0x00020000
_private = False


def available():
    return os.geteuid() == 0


def private():
    """Puts this process in a mount namespace of its own, once."""
    global _private
    if _private:
        return
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNS) != 0:
        raise OSError(ctypes.get_errno(), "unshare")
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    _private = True


@contextlib.contextmanager
def read_only(*folders):
    """The folders, read-only for everyone while the block runs."""
    private()
    done = []
    try:
        for folder in folders:
            subprocess.run(["mount", "--bind", folder, folder], check=True)
            done.append(folder)
            subprocess.run(["mount", "-o", "remount,bind,ro", folder, folder], check=True)
        yield
    finally:
        for folder in reversed(done):
            subprocess.run(["umount", "-l", folder], check=False)


@contextlib.contextmanager
def small_disk(folder, size):
    """A disk of `size` (tmpfs's form: '1m') mounted on the folder."""
    private()
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "none", folder], check=True)
    try:
        yield
    finally:
        subprocess.run(["umount", "-l", folder], check=False)
