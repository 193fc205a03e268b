#!/usr/bin/python3
"""Checks dist/ after scripts/package as a distribution would, installs the
.deb here (as root), looks scenes up and opens one as a desktop does, removes
the package, and packs the same sources in another folder to compare bytes."""
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
DIST = os.path.join(ROOT, "dist")
VERSION = re.search(r"project\(Talvo VERSION (\S+)", open(os.path.join(ROOT, "CMakeLists.txt")).read()).group(1)
DEB, ZIP, WEB = "talvo_%s_amd64.deb" % VERSION, "talvo-%s-windows-x86.zip" % VERSION, "talvo-%s-web.tar.gz" % VERSION
SCENE_TYPE = "application/x-talvo-scene"
EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH") or subprocess.check_output(["git", "-C", ROOT, "log", "-1", "--format=%ct"]))
results = []


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def check(name):
    def wrap(f):
        try:
            f()
            print("ok", name, flush=True)
            results.append(True)
        except Exception as e:
            print("FAIL %s: %s" % (name, e), flush=True)
            results.append(False)
    return wrap


def version_info(exe):
    """The fixed file version and the strings of a PE's VS_VERSION_INFO."""
    start = exe.index("VS_VERSION_INFO\0".encode("utf-16-le"))
    fixed = struct.unpack_from("<IIII", exe, (start + 32 + 3) & ~3)
    strings = {}
    for key in ("ProductName", "FileDescription", "FileVersion", "ProductVersion", "OriginalFilename"):
        at = (exe.index((key + "\0").encode("utf-16-le"), start) + 2 * len(key) + 2 + 3) & ~3
        strings[key] = exe[at:at + 512].decode("utf-16-le", "replace").split("\0")[0]
    return fixed, strings


@check("dist holds the three packages and their checksums, named by the version in CMakeLists.txt")
def _():
    assert sorted(os.listdir(DIST)) == sorted([DEB, ZIP, WEB, "SHA256SUMS"]), os.listdir(DIST)
    out = run("sha256sum", "-c", "SHA256SUMS", cwd=DIST)
    assert out.returncode == 0 and out.stdout.count(": OK") == 3, out.stdout + out.stderr


@check("lintian: no error, no warning (info and pedantic shown)")
def _():
    out = run("lintian", "-I", "--pedantic", os.path.join(DIST, DEB))
    tags = [t for t in out.stdout.splitlines() if re.match(r"[EWIPX]: ", t)]
    for t in tags:
        print("  lintian:", t)
    assert out.returncode == 0 and not any(t[0] in "EW" for t in tags), out.stdout + out.stderr


@check("the .deb: section games, programs in /usr/games, manuals in man6, notices, desktop files")
def _():
    fields = run("dpkg-deb", "-f", os.path.join(DIST, DEB), "Version", "Section", "Depends").stdout
    assert "Version: %s\n" % VERSION in fields and "Section: games" in fields and "libgtk-3-0" in fields, fields
    listing = run("dpkg-deb", "-c", os.path.join(DIST, DEB)).stdout
    files = {line.split()[-1].lstrip("."): line.split()[0] for line in listing.splitlines()}
    want = ("/usr/games/talvo /usr/games/talvo-sim /usr/share/man/man6/talvo.6.gz /usr/share/man/man6/talvo-sim.6.gz "
            "/usr/share/doc/talvo/copyright /usr/share/doc/talvo/changelog.gz /usr/share/applications/talvo.desktop "
            "/usr/share/metainfo/org.talvo.talvo.metainfo.xml /usr/share/mime/packages/talvo.xml "
            "/usr/share/icons/hicolor/scalable/apps/talvo.svg").split()
    want += ["/usr/share/icons/hicolor/%dx%d/apps/talvo.png" % (s, s) for s in (16, 22, 24, 32, 48, 64, 128, 256)]
    assert not set(want) - set(files), set(want) - set(files)
    assert files["/usr/games/talvo"] == files["/usr/games/talvo-sim"] == "-rwxr-xr-x"


@check("talvo.exe and talvo-sim.exe: version resources, no link time; talvo.exe holds the icon in six sizes")
def _():
    z = zipfile.ZipFile(os.path.join(DIST, ZIP))
    folder = "talvo-%s-windows-x86/" % VERSION
    assert z.namelist() == [folder + n for n in ("talvo.exe", "talvo-sim.exe", "README.txt")], z.namelist()
    readme = z.read(folder + "README.txt")
    assert b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b"") and VERSION.encode() in readme
    words = [int(v) for v in VERSION.split(".")]
    for name in ("talvo", "talvo-sim"):
        exe = z.read(folder + name + ".exe")
        fixed, strings = version_info(exe)
        assert fixed[0] == 0xFEEF04BD, hex(fixed[0])
        assert (fixed[2] >> 16, fixed[2] & 0xFFFF, fixed[3] >> 16) == tuple(words), fixed
        assert strings.get("ProductName") == "Talvo" and strings.get("FileDescription"), strings
        assert strings["FileVersion"] == strings["ProductVersion"] == VERSION, strings
        assert strings["OriginalFilename"] == name + ".exe", strings
        header = struct.unpack_from("<I", exe, 0x3C)[0]
        assert struct.unpack_from("<I", exe, header + 8)[0] == 0, "PE time stamp"
    ico = read(ROOT, "build/win32/icons/talvo.ico")
    images = [struct.unpack_from("<II", ico, 6 + 16 * i + 8) for i in range(struct.unpack_from("<H", ico, 4)[0])]
    assert len(images) == 6 and all(ico[o:o + n] in z.read(folder + "talvo.exe") for n, o in images)


@check("the web archive: the page alone, entries in order, dated by the commit, owned by root")
def _():
    folder = "talvo-%s-web" % VERSION
    raw = read(DIST, WEB)
    assert raw[4:8] == b"\0\0\0\0" and not raw[3] & 8, "gzip header holds a time or a name"
    t = tarfile.open(fileobj=io.BytesIO(raw))
    names = [folder + "/" + n for n in ("", "index.html", "talvo.js", "talvo.png", "talvo.wasm")]
    assert [m.name + ("/" if m.isdir() else "") for m in t] == names, t.getnames()
    assert all(m.mtime == EPOCH and m.uid == m.gid == 0 for m in t)
    assert all(t.extractfile(m).read() == read(ROOT, "build/web", os.path.basename(m.name)) for m in t.getmembers()[1:])


installed = run("apt-get", "-o", "DPkg::Lock::Timeout=900", "install", "-y", os.path.join(DIST, DEB),
                env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
work = tempfile.mkdtemp(prefix="talvo-package-")
# A desktop's view: gio answers for xdg-mime, as on GNOME.
desk = dict(os.environ, XDG_CURRENT_DESKTOP="GNOME", XDG_DATA_HOME=work + "/data", XDG_CONFIG_HOME=work + "/config")
try:
    @check("apt installs the package with its dependencies, and would on a bare system")
    def _():
        assert installed.returncode == 0, installed.stdout[-2000:] + installed.stderr
        bare_system = run("apt-get", "-s", "-o", "Dir::State::status=/dev/null", "install", os.path.join(DIST, DEB))
        assert "\nInst libgtk-3-0 " in bare_system.stdout and "\nInst talvo " in bare_system.stdout, bare_system
        assert run("dpkg-query", "-W", "-f=${Status} ${Version}", "talvo").stdout == "install ok installed " + VERSION

    @check("installed: talvo --version and talvo-sim --version from /usr/games")
    def _():
        for name in ("talvo", "talvo-sim"):
            out = run("/usr/games/" + name, "--version", env=dict(os.environ, DISPLAY=""))
            assert out.returncode == 0 and out.stdout == "%s %s\n" % (name, VERSION), out

    @check("installed: desktop-file-validate and appstreamcli validate --no-net")
    def _():
        out = run("desktop-file-validate", "/usr/share/applications/talvo.desktop")
        assert out.returncode == 0 and not out.stdout.strip(), out.stdout
        out = run("appstreamcli", "validate", "--no-net", "/usr/share/metainfo/org.talvo.talvo.metainfo.xml")
        assert out.returncode == 0, out.stdout + out.stderr
        assert 'release version="%s"' % VERSION in open("/usr/share/metainfo/org.talvo.talvo.metainfo.xml").read()

    scene, bare, other = work + "/garden.talvo", work + "/garden", work + "/notes.txt"

    @check("installed: a scene is %s by its ending and without one, and Talvo opens it by default" % SCENE_TYPE)
    def _():
        assert run("/usr/games/talvo-sim", "--frames", "1", scene, cwd=work).returncode == 0
        shutil.copy(scene, bare)
        open(other, "w").write("TALV is not a scene\n")
        types = [run("xdg-mime", "query", "filetype", p, env=desk).stdout.strip() for p in (scene, bare, other)]
        assert types[:2] == [SCENE_TYPE] * 2 and types[2] != SCENE_TYPE, types
        default = run("xdg-mime", "query", "default", SCENE_TYPE, env=desk).stdout.strip()
        assert default == "talvo.desktop", default

    @check("installed: a double-click (gio open) on a scene without its ending starts Talvo on it; closing saves it")
    def _():
        import behaviour
        import x11
        from Xlib import X, display
        from Xlib.protocol import event
        data = bytearray(read(bare))
        data[24] = 2  # a mark that a new scene would not have
        open(bare, "wb").write(data)
        screen = x11.Display()
        pid = None
        try:
            # Talvo keeps gio's output: a file, not a pipe that would stay open.
            with open(work + "/gio.log", "w") as log:
                opened = subprocess.run(["gio", "open", bare], env=dict(desk, DISPLAY=screen.name), stdout=log, stderr=log)
            assert opened.returncode == 0, open(work + "/gio.log").read()
            window = screen.wait_window("Talvo")
            pid = int(screen.xdotool("getwindowpid", window))
            args = read("/proc/%d/cmdline" % pid).split(b"\0")
            assert args[:3] == [b"/usr/games/talvo", b"--data-home", bare.encode()], args
            # Closed once it shows the scene: the whole frame of the field in
            # the wall colour, the program's first frame on the screen.
            def shows_the_field():
                geometry = dict(line.split("=", 1) for line in
                                screen.xdotool("getwindowgeometry", "--shell", window).split())
                rgb = screen.grab(int(geometry["X"]), int(geometry["Y"]), int(geometry["WIDTH"]),
                                  int(geometry["HEIGHT"]))
                wall = bytes((200, 160, 64))
                return sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] == wall) >= 2 * (336 + 402) - 4
            behaviour.wait_until("the scene in Talvo's window", shows_the_field, 60, every=0.2)
            # What a window manager sends for the close box.
            d = display.Display(screen.name)
            w = d.create_resource_object("window", window)
            w.send_event(event.ClientMessage(window=w, client_type=d.intern_atom("WM_PROTOCOLS"),
                                             data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
            d.close()
            end = time.monotonic() + 60
            while os.path.exists("/proc/%d" % pid) and open("/proc/%d/stat" % pid).read().split(") ")[1][0] != "Z":
                assert time.monotonic() < end, "talvo did not end"
                time.sleep(0.1)
            pid = None
        finally:
            if pid:
                os.kill(pid, 9)
            screen.close()
        saved = read(bare)
        assert saved[:5] == b"TALVO" and saved[24] == 2 and saved != bytes(data), "the scene was not saved back"
        assert not os.path.exists(work + "/data/talvo/Default.talvo")
finally:
    removed = run("apt-get", "remove", "-y", "talvo")
    shutil.rmtree(work, ignore_errors=True)


@check("apt removes the package again")
def _():
    assert removed.returncode == 0 and not os.path.exists("/usr/games/talvo"), removed.stderr


# Also proves that no folder's name is in any program.
@check("reproducible: the same sources packed in another folder give the same bytes")
def _():
    with tempfile.TemporaryDirectory(prefix="talvo-again-") as d:
        again = os.path.join(d, "talvo")
        files = run("git", "ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=ROOT).stdout
        for f in filter(os.path.isfile, (os.path.join(ROOT, f) for f in files.split("\0") if f)):
            os.makedirs(os.path.dirname(again + f[len(ROOT):]), exist_ok=True)
            shutil.copy2(f, again + f[len(ROOT):])
        out = run(again + "/scripts/package", env=dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH)))
        assert out.returncode == 0, out.stdout[-3000:] + out.stderr[-3000:]
        differ = [n for n in sorted(os.listdir(DIST)) if read(DIST, n) != read(again, "dist", n)]
        assert not differ, "differ: %s (diffoscope shows where)" % differ


print("packages: %d passed, %d failed" % (results.count(True), results.count(False)))
sys.exit(0 if all(results) else 1)
