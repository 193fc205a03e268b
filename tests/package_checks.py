#!/usr/bin/python3
"""Checks dist/ after scripts/package as a distribution would, installs the
.deb here (as root), looks scenes up and opens one as a desktop does, removes
the package (deb); installs the Windows installer under Wine for one user and
for all, opens a scene by its file type there and uninstalls it (wine); and
packs the same sources in another folder to compare bytes (again), in the
background while the others run.
    tests/package_checks.py [deb|wine|again|question]...   (all four by default;
    question: the uninstaller's question answered by hand, the Wine checks with it)"""
import atexit
import hashlib
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
from xml.etree import ElementTree

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
DIST = os.path.join(ROOT, "dist")
VERSION = re.search(r"project\(Talvo VERSION (\S+)", open(os.path.join(ROOT, "CMakeLists.txt")).read()).group(1)
DEB, ZIP, WEB = "talvo_%s_amd64.deb" % VERSION, "talvo-%s-windows-x86.zip" % VERSION, "talvo-%s-web.tar.gz" % VERSION
SETUP = "talvo-%s-windows-x86-setup.exe" % VERSION
WINGET = ["Talvo.Talvo.yaml", "Talvo.Talvo.installer.yaml", "Talvo.Talvo.locale.en-US.yaml"]
SCENE_TYPE = "application/x-talvo-scene"
EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH") or
            subprocess.check_output(["git", "-C", ROOT, "log", "-1", "--format=%ct"], timeout=60))
SECTIONS = sys.argv[1:] or ["deb", "wine", "question", "again"]
# "question": the uninstaller's question answered by hand under Wine.
assert not set(SECTIONS) - {"deb", "wine", "again", "question"}, __doc__
results = []


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


def run(*args, timeout=600, **kw):
    """Runs a program to its end, or for `timeout` seconds: one that runs
    past it is killed and reads as failed, with no status."""
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(args, None, "", "%s ran past %d s" % (args[0], timeout))


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


NS = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "os": "urn:schemas-microsoft-com:compatibility.v1", "ws": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
WINDOWS_7_TO_11 = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def manifest(exe):
    """The application manifest (RT_MANIFEST 1): execution level, supported
    systems, common-controls version, DPI awareness."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(exe)
        f.flush()
        data = subprocess.run(["wrestool", "-x", "-R", "--type=24", "--name=1", f.name], capture_output=True,
                              timeout=60).stdout
    assert data, "no application manifest"
    root = ElementTree.fromstring(data)
    level = root.find(".//v3:requestedExecutionLevel", NS)
    controls = [e.get("version") for e in root.iterfind(".//v1:dependentAssembly/v1:assemblyIdentity", NS)
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    systems = {e.get("Id") for e in root.iterfind(".//os:supportedOS", NS)}
    return (level.get("level") if level is not None else None, systems, controls,
            (root.findtext(".//ws:dpiAware", namespaces=NS), root.findtext(".//ws16:dpiAwareness", namespaces=NS)))


# The second packing builds three configurations from nothing, the longest
# part by far: it runs beside the other checks, which mostly wait on Wine,
# apt and the window.
AGAIN_LIMIT = 1200


def pack_again():
    """Starts scripts/package on a copy of the sources in another folder;
    gives the check of its bytes against dist/, which waits for it."""
    folder = tempfile.mkdtemp(prefix="talvo-again-")
    atexit.register(shutil.rmtree, folder, True)
    again = os.path.join(folder, "talvo")
    log = open(os.path.join(folder, "package.log"), "w+")
    started, packing, failed = time.monotonic(), None, None
    try:
        files = run("git", "ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=ROOT)
        assert files.returncode == 0, files.stderr
        for f in filter(os.path.isfile, (os.path.join(ROOT, f) for f in files.stdout.split("\0") if f)):
            os.makedirs(os.path.dirname(again + f[len(ROOT):]), exist_ok=True)
            shutil.copy2(f, again + f[len(ROOT):])
        # A group of its own, so that a packing that runs too long goes with
        # every compiler it started.
        packing = subprocess.Popen([again + "/scripts/package"], stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                                   # Compiled afresh: objects from the compiler
                                   # cache would be the first packing's own.
                                   env=dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH), CCACHE_DISABLE="1"))
    except Exception as e:
        failed = e

    def end():
        if packing and packing.poll() is None:
            os.killpg(packing.pid, 9)
            packing.wait()
    atexit.register(end)

    def checked():
        # Also proves that no folder's name is in any program.
        @check("reproducible: the same sources packed in another folder give the same bytes")
        def _():
            if failed:
                raise failed
            joined = time.monotonic()
            try:
                code = packing.wait(max(1.0, AGAIN_LIMIT - (joined - started)))
            except subprocess.TimeoutExpired:
                end()
                raise AssertionError("scripts/package in %s ran past %d s" % (again, AGAIN_LIMIT))
            print("# packed again in %.0f s, %.0f s of it after the other checks" %
                  (time.monotonic() - started, time.monotonic() - joined), flush=True)
            log.seek(0)
            assert code == 0, log.read()[-6000:]
            names = [n for n in sorted(os.listdir(DIST)) if n != "winget"] + ["winget/" + n for n in WINGET]
            differ = [n for n in names if read(DIST, n) != read(again, "dist", n)]
            assert not differ, "differ: %s (diffoscope shows where)" % differ
    return checked


packed_again = pack_again() if "again" in SECTIONS else None


@check("dist holds the four packages, their checksums and the winget manifest, named by the version in CMakeLists.txt")
def _():
    assert sorted(os.listdir(DIST)) == sorted([DEB, ZIP, SETUP, WEB, "SHA256SUMS", "winget"]), os.listdir(DIST)
    assert sorted(os.listdir(os.path.join(DIST, "winget"))) == sorted(WINGET)
    out = run("sha256sum", "-c", "SHA256SUMS", cwd=DIST)
    assert out.returncode == 0 and out.stdout.count(": OK") == 4, out.stdout + out.stderr


@check("lintian: no error, no warning (info and pedantic shown)")
def _():
    out = run("lintian", "-I", "--pedantic", os.path.join(DIST, DEB))
    tags = [t for t in out.stdout.splitlines() if re.match(r"[EWIPX]: ", t)]
    for t in tags:
        print("  lintian:", t)
    assert out.returncode == 0 and not any(t[0] in "EW" for t in tags), out.stdout + out.stderr


@check("the .deb: section games, programs in /usr/games, manuals in man6, notices, desktop files, catalogues")
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
    want += ["/usr/share/locale/%s/LC_MESSAGES/talvo.mo" % s for s in ("de", "es", "fr", "ja", "zh_CN")]
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
        level, systems, controls, dpi = manifest(exe)
        assert level == "asInvoker" and systems >= WINDOWS_7_TO_11 and controls == ["6.0.0.0"], (name, level, systems,
                                                                                                  controls)
        # Per monitor (v2 where Windows has it), and per monitor alone
        # before Windows 10 read the newer setting.
        assert dpi == ("true/pm", "PerMonitorV2, PerMonitor"), (name, dpi)
    ico = read(ROOT, "build/win32/icons/talvo.ico")
    images = [struct.unpack_from("<II", ico, 6 + 16 * i + 8) for i in range(struct.unpack_from("<H", ico, 4)[0])]
    assert len(images) == 6 and all(ico[o:o + n] in z.read(folder + "talvo.exe") for n, o in images)


@check("the installer: asks for no administrator rights, carries the version, no link time, the icon")
def _():
    exe = read(DIST, SETUP)
    assert manifest(exe)[0] == "asInvoker"
    fixed, strings = version_info(exe)
    assert strings["ProductName"] == "Talvo" and strings["ProductVersion"] == VERSION, strings
    header = struct.unpack_from("<I", exe, 0x3C)[0]
    assert struct.unpack_from("<I", exe, header + 8)[0] == 0, "PE time stamp"
    ico = read(ROOT, "build/win32/icons/talvo.ico")
    n, o = struct.unpack_from("<II", ico, 6 + 8)
    assert ico[o:o + n] in exe, "no Talvo icon"


@check("winget: the three files parse, hold the fields winget requires, the version and the installer's SHA-256")
def _():
    files = {n: yaml.safe_load(read(DIST, "winget", n)) for n in WINGET}
    version, installer, locale = (files[n] for n in WINGET)
    required = {"version": ["DefaultLocale"], "installer": ["Installers"],
                "defaultLocale": ["PackageLocale", "Publisher", "PackageName", "License", "ShortDescription"]}
    for doc in files.values():
        kind = doc.get("ManifestType")
        missing = [k for k in ["PackageIdentifier", "PackageVersion", "ManifestVersion"] + required.get(kind, ["?"])
                   if not doc.get(k)]
        assert not missing and doc["ManifestVersion"] == "1.6.0", (kind, missing)
        assert doc["PackageIdentifier"] == "Talvo.Talvo" and str(doc["PackageVersion"]) == VERSION, doc
    assert locale["PackageLocale"] == version["DefaultLocale"]
    digest = hashlib.sha256(read(DIST, SETUP)).hexdigest()
    scopes = []
    for entry in installer["Installers"]:
        scopes.append(entry["Scope"])
        assert entry["InstallerSha256"].lower() == digest and entry["Architecture"] == "x86", entry
        assert re.fullmatch(r"https://[^/]+\.invalid/.*/" + re.escape(SETUP), entry["InstallerUrl"]), entry
    assert sorted(scopes) == ["machine", "user"] and installer["InstallerType"] == "nullsoft"
    assert installer["AppsAndFeaturesEntries"][0]["DisplayVersion"] == VERSION


@check("the web archive: the page alone, entries in order, dated by the commit, owned by root")
def _():
    folder = "talvo-%s-web" % VERSION
    raw = read(DIST, WEB)
    assert raw[4:8] == b"\0\0\0\0" and not raw[3] & 8, "gzip header holds a time or a name"
    t = tarfile.open(fileobj=io.BytesIO(raw))
    names = [folder + "/" + n for n in ("", "index.html", "manifest.webmanifest", "sw.js", "talvo-192.png",
                                        "talvo-512.png", "talvo-maskable.png", "talvo.js", "talvo.png", "talvo.wasm")]
    assert [m.name + ("/" if m.isdir() else "") for m in t] == names, t.getnames()
    assert all(m.mtime == EPOCH and m.uid == m.gid == 0 for m in t)
    assert all(t.extractfile(m).read() == read(ROOT, "build/web", os.path.basename(m.name)) for m in t.getmembers()[1:])


def debian():
    """The .deb installed on this machine, used as a desktop does, removed."""
    installed = run("apt-get", "-o", "DPkg::Lock::Timeout=900", "install", "-y", os.path.join(DIST, DEB),
                    env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), timeout=1200)
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
            data = bytearray(read(bare))
            data[24] = 2  # a mark that a new scene would not have
            open(bare, "wb").write(data)
            screen = x11.Display()
            pid = None
            try:
                # Talvo keeps gio's output: a file, not a pipe that would stay open.
                with open(work + "/gio.log", "w") as log:
                    opened = subprocess.run(["gio", "open", bare], env=dict(desk, DISPLAY=screen.name), stdout=log,
                                            stderr=log, timeout=120)
                assert opened.returncode == 0, open(work + "/gio.log").read()
                window = screen.wait_window("Talvo")
                pid = int(screen.xdotool("getwindowpid", window))
                args = read("/proc/%d/cmdline" % pid).split(b"\0")
                assert args[:3] == [b"/usr/games/talvo", b"--data-home", bare.encode()], args
                # Closed once it shows the scene: the whole frame of the field
                # in the wall colour, the program's first frame on the screen.
                def shows_the_field():
                    at = screen.placed(window)
                    rgb = screen.grab(at["X"], at["Y"], at["WIDTH"], at["HEIGHT"])
                    wall = bytes((200, 160, 64))
                    return sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] == wall) >= 2 * (336 + 402) - 4
                behaviour.wait_until("the scene in Talvo's window", shows_the_field, 60, every=0.2)
                screen.ask_to_close(window)
                behaviour.wait_until("talvo to end after the close", lambda: ended(pid), 60)
                pid = None
            finally:
                if pid:
                    os.kill(pid, 9)
                screen.close()
            saved = read(bare)
            assert saved[:5] == b"TALVO" and saved[24] == 2 and saved != bytes(data), "the scene was not saved back"
            assert not os.path.exists(work + "/data/talvo/Default.talvo")
    finally:
        removed = run("apt-get", "-o", "DPkg::Lock::Timeout=900", "remove", "-y", "talvo", timeout=1200)
        shutil.rmtree(work, ignore_errors=True)


    @check("apt removes the package again")
    def _():
        assert removed.returncode == 0 and not os.path.exists("/usr/games/talvo"), removed.stderr


def ended(pid):
    """Whether the process is gone or a zombie; its /proc entry may go
    while it is read."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(") ", 1)[1][0] == "Z"
    except FileNotFoundError:
        return True


def shortcut(link):
    """The target (LinkInfo's local path) and the arguments of a .lnk file."""
    flags = struct.unpack_from("<I", link, 0x14)[0]
    at, target, strings = 0x4C, None, {}
    if flags & 1:  # an item ID list
        at += 2 + struct.unpack_from("<H", link, at)[0]
    if flags & 2:  # LinkInfo
        info = link[at:at + struct.unpack_from("<I", link, at)[0]]
        path = struct.unpack_from("<I", info, 16)[0]
        target = info[path:info.index(b"\0", path)].decode("latin-1")
        at += len(info)
    for bit in (0x4, 0x8, 0x10, 0x20, 0x40):  # name, relative path, folder, arguments, icon
        if flags & bit:
            size = struct.unpack_from("<H", link, at)[0] * (2 if flags & 0x80 else 1)
            # Wine counts the closing NUL too.
            strings[bit] = link[at + 2:at + 2 + size].decode("utf-16-le" if flags & 0x80 else "latin-1").rstrip("\0")
            at += 2 + size
    return target, strings.get(0x20)


ROOT_KEYS = {"user": "HKEY_CURRENT_USER", "machine": "HKEY_LOCAL_MACHINE"}


def registry(env, scope, key, *options):
    """`key` and every key under it in HKCU ('user') or HKLM ('machine'), as
    Wine's server holds them now, asked with reg query (the files the server
    saves, user.reg and system.reg, lag behind by up to half a minute), as
    {lower-case key: {value name ('' the default): data as reg shows it}};
    {} where the key is not there. `options` replace /s (/v NAME: one value
    of the key alone)."""
    root = ROOT_KEYS[scope]
    command = ["wine", "reg", "query", root + "\\" + key, *(options or ["/s"])]
    with tempfile.TemporaryFile() as log:
        # reg's words and the name of the default value in English.
        code = subprocess.run(command, env=dict(env, LC_ALL="C.UTF-8"), stdin=subprocess.DEVNULL, stdout=log,
                              stderr=log, timeout=120).returncode
        # Read with pread, as wine() does: services it woke keep the file.
        out = os.pread(log.fileno(), os.fstat(log.fileno()).st_size, 0).decode("cp437", "replace")
    if code == 1 and "Unable to find the specified registry key" in out:
        return {}
    assert code == 0, "%s: status %s: %s" % (" ".join(command[1:]), code, out[-2000:])
    keys, at = {}, None
    for line in out.splitlines():
        if line.lower().startswith(root.lower() + "\\"):
            at = keys.setdefault(line[len(root) + 1:].lower(), {})
        elif line.strip():
            # "    NAME    TYPE    DATA"; a REG_MULTI_SZ's strings are joined by \0.
            value = re.fullmatch(r"    (.*?)    (REG_\w+)(?:    (.*))?", line)
            assert value and at is not None, "%s: %r in %s" % (" ".join(command[1:]), line, out[-2000:])
            at["" if value.group(1) == "(Default)" else value.group(1)] = value.group(3) or ""
    return keys


def wine_installs():
    """The installer under Wine in one fresh prefix: for this user, then for
    all users, each silent, checked, used and uninstalled."""
    os.environ.setdefault("TALVO_SIM", os.path.join(ROOT, "build/package/talvo-sim"))
    import behaviour
    import wine_driver
    from behaviour import wait_until

    @check("Wine: a fresh prefix to install into")
    def _():
        wine_driver.session()
    if not results[-1]:
        return
    session = wine_driver.session()
    drive = os.path.join(session.prefix, "drive_c")
    user = next(u for u in os.listdir(os.path.join(drive, "users")) if u != "Public")
    menus = {"user": "users/%s/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" % user,
             "machine": "ProgramData/Microsoft/Windows/Start Menu/Programs"}
    folders = {"user": "users/%s/AppData/Local/Programs/Talvo" % user, "machine": "Program Files/Talvo"}
    kept = "users/%s/AppData/Local/Talvo/Default.talvo" % user
    uninstall = "software\\microsoft\\windows\\currentversion\\uninstall\\talvo"
    keys = [uninstall, "software\\classes\\.talvo", "software\\classes\\talvo.scene"]
    session_manager = "system\\currentcontrolset\\control\\session manager"
    work = tempfile.mkdtemp(prefix="talvo-wine-install-")
    atexit.register(shutil.rmtree, work, True)

    def wine(*args):
        """Runs a program to its end: its output goes to a file, which the
        services it may start keep open, as a pipe would be kept."""
        with tempfile.TemporaryFile() as log:
            code = subprocess.run(["wine", *args], env=session.env, stdout=log, stderr=log, timeout=600).returncode
            return code, os.pread(log.fileno(), 4000, 0)

    # An uninstaller goes on from a copy of itself in Temp, which Windows is
    # asked to delete at its next start.
    copy = re.compile(r"users/[^/]+/Temp/~nsu[^/]*\.tmp/Un\.exe$")

    def files():
        return {os.path.relpath(os.path.join(top, f), drive) for top, _, names in os.walk(drive) for f in names}

    journal = "users/%s/AppData/Local/Talvo/journal/" % user
    # Wine's own cache of the devices' setup files, which it writes when a
    # device comes, at its own pace: seen appearing during an install.
    wine_cache = re.compile(r"windows/inf/[^/]*\.pnf$")

    def added():
        """The files of drive C: since the prefix was made, but the user's
        scene, the journal of its last session and an uninstaller's copy."""
        return sorted(f for f in files() - before - {kept} if not copy.match(f) and not f.startswith(journal)
                      and not wine_cache.match(f))

    def talvo_keys(scope):
        """Talvo's keys in HKCU or HKLM, with their values."""
        found = {}
        for key in keys:
            found.update(registry(session.env, scope, key))
        return found

    def stray(scope):
        return sorted(talvo_keys(scope))

    def windows(path):
        return "C:\\" + path.replace("/", "\\")

    def use(program, args, shows):
        """Starts `program` as Explorer would, waits until Talvo's window
        shows what `shows` looks for, and closes it."""
        driver = wine_driver.Driver()
        try:
            # Two programs' start under qemu-user, the second by start.exe.
            driver.start(work, args, program=program, timeout=2 * wine_driver.START_TIMEOUT)
            wait_until("what the scene holds", lambda: shows(driver.shot()), 60)
            driver.close()
        finally:
            driver.stop()

    before = files()
    for scope in ("user", "machine"):
        folder, menu = folders[scope], menus[scope]
        exe = windows(folder) + "\\talvo.exe"
        other = "machine" if scope == "user" else "user"

        @check("Wine, %s: a silent install puts the programs, the Start-menu entry and the uninstaller in place"
               % scope)
        def _():
            code, out = wine(os.path.join(DIST, SETUP), "/S", *(["/AllUsers"] if scope == "machine" else []))
            assert code == 0, (code, out)
            assert added() == sorted([folder + "/" + f for f in ("README.txt", "talvo-sim.exe", "talvo.exe",
                                                                 "uninstall.exe")] + [menu + "/Talvo.lnk"]), added()
            assert read(drive, folder, "talvo.exe") == read(ROOT, "build/win32/talvo.exe")
            link = shortcut(read(drive, menu, "Talvo.lnk"))
            assert link == (exe, "--data-home"), link

        @check("Wine, %s: the uninstall entry (version, publisher, icon, uninstaller) and the .talvo type, there alone"
               % scope)
        def _():
            # The installer wrote them before it ended.
            keys_of = talvo_keys(scope)
            assert all(k in keys_of for k in keys), sorted(keys_of)
            entry = keys_of[uninstall]
            assert entry["DisplayName"] == "Talvo" and entry["DisplayVersion"] == VERSION, entry
            assert entry["Publisher"] == "The Talvo team" and entry["DisplayIcon"] == exe + ",0", entry
            assert entry["QuietUninstallString"] == '"%s\\uninstall.exe" /S' % windows(folder), entry
            assert keys_of["software\\classes\\.talvo"][""] == "Talvo.Scene"
            assert "Talvo.Scene" in keys_of["software\\classes\\.talvo\\openwithprogids"]
            assert keys_of["software\\classes\\talvo.scene\\shell\\open\\command"][""] == '"%s" "%%1"' % exe
            assert keys_of["software\\classes\\talvo.scene\\defaulticon"][""] == exe + ",0"
            assert not stray(other), stray(other)

        if scope == "user":
            # Started as the shortcut says: start.exe would not wait for it.
            @check("Wine: talvo.exe --data-home, as the Start menu starts it, keeps its scene in the user's folder")
            def _():
                use(exe, ["--data-home"], lambda shot: shot.frame_is_wall())
                behaviour.Scene(os.path.join(drive, kept))
                assert not os.listdir(work) and "Default.talvo" not in os.listdir(os.path.join(drive, folder))
        else:
            # Wine's start.exe reads the file types of the machine's classes alone.
            @check("Wine, all users: a scene opened by its file type (start.exe) shows in Talvo and is saved back")
            def _():
                scene = behaviour.make_scene(work, "garden.talvo", behaviour.stroke_events(2, 300, 60, 219))
                made = read(scene)
                use("start", ["/wait", "/unix", scene], lambda shot: behaviour.stroke_is_wall(shot, 300, 60, 219))
                assert read(scene) != made and behaviour.scene_has_cells(scene, behaviour.stroke_cells(300, 60, 219))
                assert os.listdir(work) == ["garden.talvo"], os.listdir(work)

        @check("Wine, %s: a silent uninstall removes the programs, the entries and the keys, and keeps the scenes"
               % scope)
        def _():
            # As Windows' list of installed apps runs it: by its own name.
            code, out = wine(windows(folder) + "\\uninstall.exe", "/S")
            assert code == 0, (code, out)
            wait_until("the uninstall to end", lambda: not added() and not stray(scope), 300, every=2)
            assert os.path.exists(os.path.join(drive, kept)), "the user's scene went"
            # The uninstaller asked for it as it started its copy.
            pending = registry(session.env, "machine", session_manager, "/v", "PendingFileRenameOperations")
            pending = pending.get(session_manager, {}).get("PendingFileRenameOperations", "")
            copies = list(filter(copy.match, files()))
            assert copies, "no uninstaller's copy in Temp"
            for f in copies:
                assert windows(f) in pending, f + " stays: " + pending


    # As a user meets them, not silent: the windows' titles, and the question
    # the uninstaller asks about what the user's own folder keeps.
    display = session.display
    data = os.path.join(drive, "users/%s/AppData/Local/Talvo" % user)

    def shown(title):
        """The geometries of the windows titled exactly `title`, smallest
        first."""
        found = []
        for w in display.windows(title):
            at = display.geometry(w)
            if at is not None:  # not gone meanwhile
                found.append(at)
        return sorted(found, key=lambda g: g["WIDTH"] * g["HEIGHT"])

    def has_box(title):
        """A box over the page: a window of the title smaller than another
        (Wine may show the page's window more than once, all of one size)."""
        sizes = {(g["WIDTH"], g["HEIGHT"]) for g in shown(title)}
        return len(sizes) >= 2

    def key_on(at, key):
        display.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + at["HEIGHT"] // 2)
        display.xdotool("key", key)

    def press(title, key):
        """The key on the window titled exactly `title`."""
        key_on(wait_until("a window titled %r" % title, lambda: shown(title), 240)[0], key)

    def press_until(title, key, done, what, tries, every):
        """The key on the smallest window titled `title`, pressed again
        while `done` is false: a box shown a moment ago may not have the
        keyboard yet, and a page at work before the one wanted takes none."""
        for _ in range(tries):
            if done():
                return
            at = shown(title)
            if at:
                key_on(at[0], key)
            try:
                wait_until(what, done, every)
                return
            except AssertionError:
                pass
        raise AssertionError("timed out waiting: " + what)

    def answer_question(title, key):
        """The key on the box over the page."""
        wait_until("the question", lambda: has_box(title), 240)
        press_until(title, key, lambda: not has_box(title), "the question answered", 6, 20)

    def finish(title):
        """Return on the last page, under any title beginning with `title`."""
        press_until(title, "Return", lambda: not display.windows(title + ".*"), "the uninstaller to end", 12, 10)

    for answer in ("No", "Yes") if "question" in SECTIONS else ():
        @check("Wine: asked by the uninstaller, %s %s the scenes and journals in the user's folder" %
               (answer.lower(), "keeps" if answer == "No" else "removes"))
        def _():
            code, out = wine(os.path.join(DIST, SETUP), "/S")
            assert code == 0, (code, out)
            os.makedirs(os.path.join(data, "journal", "0123"), exist_ok=True)
            with open(os.path.join(data, "journal", "0123", "00000000.seg"), "wb") as f:
                f.write(b"TALVO journal")
            behaviour.make_scene(data, "Default.talvo", "")
            # Wine now and then shows the uninstaller's first window never;
            # started again, it does.
            for _ in range(3):
                uninstaller = subprocess.Popen(["wine", windows(folders["user"]) + "\\uninstall.exe"],
                                               env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    wait_until("the uninstaller's window", lambda: shown("Talvo Uninstall"), 60)
                    break
                except AssertionError:
                    uninstaller.kill()
                    uninstaller.wait()
                    print("# the uninstaller showed no window in 60 s: started again", flush=True)
            try:
                # The confirmation page's default button uninstalls; then the
                # question, in a box of the same title.
                press("Talvo Uninstall", "Return")
                # No is the box's default button.
                answer_question("Talvo Uninstall", "y" if answer == "Yes" else "Return")
                # Its last page's Finish. The page at work before it has the
                # same title, and takes no Return: pressed until it ends.
                finish("Talvo Uninstall")
                assert not os.path.exists(os.path.join(drive, folders["user"], "talvo.exe")), "the program stays"
                if answer == "Yes":
                    assert not os.path.exists(data), os.listdir(data)
                else:
                    assert os.path.exists(os.path.join(data, "Default.talvo")), "the user's scene went"
                    assert os.path.exists(os.path.join(data, "journal", "0123", "00000000.seg")), "the journal went"
            finally:
                # Gone by now when the flow passed; a hung one must not hide
                # why it failed.
                try:
                    uninstaller.wait(60)
                except subprocess.TimeoutExpired:
                    uninstaller.kill()
                    uninstaller.wait()

    # Last: the installer it starts is killed, and may leave its process behind.
    @check("Wine: the installer's window is titled \"Talvo Setup\", without a trailing space")
    def _():
        setup = subprocess.Popen(["wine", os.path.join(DIST, SETUP)], env=session.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            display.wait_window("Talvo Setup", 240)
        finally:
            setup.kill()
            setup.wait()
        wait_until("the installer's window to go", lambda: not display.windows("Talvo Setup"), 60)


# The checks of dist/ itself ran above; then the sections asked for, the
# second packing's last, once it is done.
for section in SECTIONS:
    {"deb": debian, "wine": wine_installs, "again": lambda: None,
     "question": lambda: None if "wine" in SECTIONS else wine_installs()}[section]()
if packed_again:
    packed_again()
print("packages: %d passed, %d failed" % (results.count(True), results.count(False)))
sys.exit(0 if all(results) else 1)
