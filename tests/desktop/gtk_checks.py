"""What only the GTK window has to show beside the shared behaviour suite
(tests/desktop/run gtk)."""
import os
import shutil
import subprocess

import behaviour
import crash_checks
import library_checks
import saves_checks
from behaviour import HEIGHT, WIDTH, wait_until


def test_a_fractional_desktop_scale_zooms_by_whole_steps(d, folder):
    """The desktop's scale rounded half up to a whole step, as device pixels
    a cell: GDK's whole scale, a fractional one from the font resolution
    (GDK_DPI_SCALE) and both together; each cell a sharp square, and the
    pointer on the cell under it: a stroke and a box at 2x by GDK_SCALE
    are talvo-sim's of the same input in cells."""
    behaviour.make_scene(folder, "s.talvo", "1 command 40\n1 command 20\n")
    shutil.copy(os.path.join(folder, "s.talvo"), os.path.join(folder, "alone.talvo"))
    for env, step in (({"GDK_SCALE": "2"}, 2), ({"GDK_DPI_SCALE": "1.25"}, 1), ({"GDK_DPI_SCALE": "1.5"}, 2),
                      ({"GDK_SCALE": "2", "GDK_DPI_SCALE": "1.5"}, 3)):
        d.extra_env = dict(env)
        d.start(folder, ["s.talvo"])
        assert d.field_size() == (WIDTH * step, HEIGHT * step), (env, d.field_size())
        behaviour.settled(d)
        screen = d.field_pixels()
        assert behaviour.uneven_block(screen, step) is None, "%s: a cell is no sharp square" % env
        if env == {"GDK_SCALE": "2"}:
            pointer, events = behaviour.zoomed_input(2, (150, 250), ((60, 80), (120, 140)), ("ctrl",))
            for points, keys in pointer:
                d.pixel_drag(points, held=keys)
            wait_until("the box and the stroke", lambda: behaviour.shows_cells(d.shot(), [(60, 80), (120, 140),
                                                                                         (150, 250)]))
            d.close()
            with open(os.path.join(folder, "events.txt"), "w") as f:
                f.write(events)
            subprocess.run([behaviour.sim_path(), "--frames", "10", "--events", "events.txt", "alone.talvo"],
                           cwd=folder, check=True, capture_output=True)
            with open(os.path.join(folder, "s.talvo"), "rb") as a, open(os.path.join(folder, "alone.talvo"), "rb") as b:
                assert a.read() == b.read(), "at GDK_SCALE=2 the scene is not talvo-sim's of the same input in cells"
        else:
            d.close()
    d.extra_env = {}


TESTS = [("test_a_fractional_desktop_scale_zooms_by_whole_steps", test_a_fractional_desktop_scale_zooms_by_whole_steps)] + \
    library_checks.TESTS + crash_checks.TESTS + saves_checks.TESTS
