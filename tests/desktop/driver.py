"""What a backend's driver does for the behaviour suite. Every method acts as
a person would (pointer, keys, the menu they see) and waits, with a time
limit, for what it did to take effect on the screen where it can."""
import os

from behaviour import HEIGHT, WIDTH


class Driver:
    # Whether Ctrl+plus, Ctrl+minus and Ctrl+0 reach the program (a browser
    # keeps them for its own zoom).
    zoom_keys = True

    def start(self, folder, args=()):
        """Starts the program in `folder` (its current directory) with these
        arguments; returns once its window shows."""
        raise NotImplementedError

    def restart(self, folder, scene):
        """Starts the program again on the scene file `scene` in `folder`,
        as this platform's user would reopen it."""
        self.start(folder, [scene])

    def shot(self):
        """The client area now, as a behaviour.Picture."""
        raise NotImplementedError

    def menu(self):
        """The program's menu as the user sees it, one line an item, in the
        form 'talvo-sim --menu' prints without the ids ('[x] Drawing on',
        'Pen >', '  [ ] Thin', '----'), the platform's own items first; None
        where the platform gives no way to read it."""
        return None

    def choose(self, path):
        """Chooses a menu item: 'Clear', 'Speed/Stop', 'About talvo'."""
        raise NotImplementedError

    def drag(self, points, button="left", held=()):
        """Presses the button at the first client point, moves through the
        others and releases at the last, with the keys `held` ("shift",
        "ctrl") held down throughout."""
        raise NotImplementedError

    def pixel_drag(self, points, button="left", held=()):
        """As drag(), at points in screen pixels of the field as it shows
        now (at 2x, cell (x, y) is pixels 2x to 2x+1 across)."""
        raise NotImplementedError

    def field_size(self):
        """The field's size on the screen now, in its pixels (device pixels
        on a page): (336, 402) times the zoom."""
        raise NotImplementedError

    def field_pixels(self):
        """The field as the screen shows it now, RGB triples at its full
        size; None where the screen cannot be read from outside."""
        return None

    def zoom_key(self, combo):
        """Zooms as the platform's user does: the keys ('ctrl+plus',
        'ctrl+equal', 'ctrl+minus', 'ctrl+0'), or where the keys are the
        browser's, the page's zoom item for the same step."""
        self.key(combo)

    def key_down(self, name, held=()):
        """Presses a key and holds it, by xdotool's name ("space", "Right",
        "Delete", "period"), with the keys `held` down as it goes down."""
        raise NotImplementedError

    def key_up(self, name):
        raise NotImplementedError

    def about_is_open(self):
        raise NotImplementedError

    def about_ok(self):
        """Presses the About dialog's OK button."""
        raise NotImplementedError

    def drop(self, path):
        """Drops the file on the window, as from a file manager."""
        raise NotImplementedError

    def key(self, combo):
        """Presses keys on the window as a person does (xdotool's names:
        'ctrl+c')."""
        raise NotImplementedError

    def layouts(self):
        """The keyboard layouts this backend's user can type with, of
        behaviour.LAYOUT_KEYS; empty where none can be chosen."""
        return []

    def speak(self, language):
        """From the next start on, the program runs for a user of that
        language ('de', 'ja', 'it'), chosen as this platform's users choose
        it; False where the driver cannot choose one."""
        return False

    def use_layout(self, layout):
        """Types with that layout from the next start on."""

    def key_on_layout(self, layout, held, letter):
        """Presses, with the modifier `held`, the key labelled `letter` on
        a keyboard of that layout, as its user would."""
        raise NotImplementedError

    # Whether the list of the keys names them as the layout chosen by
    # use_layout() labels them (False: the Latin letters stand there).
    key_labels = True

    def watch_windows(self):
        """From the next start on, the program records what its small
        windows show where that is how they are read (Wine)."""

    def keys_list(self):
        """The lines of the list of the keys on show, each "KEYS\tWHAT THEY
        DO"; None while it does not show."""
        raise NotImplementedError

    def close_keys_list(self):
        """Takes the list of the keys away by its Escape, as a person does."""
        raise NotImplementedError

    def keys_button(self):
        """Asks for the list of the keys by the window's own button or menu
        item; False where it has none (Win32's window: F1 alone)."""
        return False

    def clipboard(self):
        """The picture on the system clipboard as a behaviour.Picture, None
        while there is none; False where it cannot be read from outside."""
        return False

    def answer(self, folder, args):
        """Runs the program in `folder` with arguments it answers or refuses
        without opening its window, as a user types them where this
        platform has a command line; returns (exit status, what it wrote),
        or None where there is no command line to type."""
        return None

    def start_refused(self, folder):
        """Starts the program in `folder` with its surface refused
        (TALVO_TEST_NO_SURFACE=1), dismisses the error box as a person does,
        and returns its exit status; None where that cannot be shown."""
        return None

    def save_file(self, key, path):
        """Presses `key` (p: a picture, g: an animation) and saves what the
        program offers at `path`, through the platform's own save dialog
        (or its download); returns once the file is there."""
        raise NotImplementedError

    def another(self):
        """A second driver of this backend, for a second program beside the
        first; None where one program is all a user can run."""
        return None

    def note_shown(self):
        """Whether the program shows a note (not an error box)."""
        raise NotImplementedError

    def repaint(self):
        """Has the window painted anew as the platform does after it was
        covered (another window over it, a page shown again); False where
        nothing from outside makes the program paint."""
        raise NotImplementedError

    def session_ends(self):
        """The ways, other than its close, in which this platform's session
        can end with the program running: names for end_session()."""
        return []

    def end_session(self, how):
        """Ends the session that way and waits for the program to end; fails
        unless it ended as documented for that way."""
        raise NotImplementedError

    def talvo_sim(self):
        """(command, environment) of this platform's build of talvo-sim;
        None where it is the native one."""
        return None

    def kills(self):
        """The ways this platform's program can be ended with no chance to
        save (a kill, a crash): names for for_kill() and kill()."""
        return []

    def for_kill(self, how):
        """The driver whose program can be ended that way (this one, or
        one of a browser of its own); its stop() ends what it started."""
        return self

    def kill(self, how):
        """Ends the program that way and waits until it is gone; restart()
        then starts it again as its user would."""
        raise NotImplementedError

    def journals(self):
        """The journals the program keeps, each as {segment name: bytes},
        where this platform keeps them; None where they cannot be read."""
        return None

    def journal_of(self, folder, name):
        """The records of the journal the program keeps for scene file
        `name` in `folder`; None where there is none."""
        import journal
        return journal.of_scene(self.journals() or [], name, folder)

    def scene_bytes(self, folder, name):
        """The scene file `name` as the program's folder holds it now."""
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def request_close(self):
        """Closes the window as the user does, and returns at once."""
        raise NotImplementedError

    def error_boxes(self):
        """How many error boxes the program shows now; None where its errors
        are no boxes."""
        return None

    def dismiss_error(self):
        """Presses OK in the error box shown last."""
        raise NotImplementedError

    def close(self):
        """Closes the window as the user does and waits for the program to
        end; fails unless it ended with status 0."""
        raise NotImplementedError

    def stop(self):
        """Ends whatever is still running (after a failure); never fails."""

    def evidence(self, name):
        """Keeps what helps to see a failure (a screenshot, the program's
        output) and says where."""


class OnScreen(Driver):
    """A driver whose window shows on an X display it reads (x11_display()):
    the field's top-left screen pixel and its pixels a cell are kept in
    `origin` and `scale`, and found anew by _field_on_screen()."""
    origin, scale = None, 1

    def _field_on_screen(self):
        """((x, y), scale) of the field on the screen now; None while it shows
        at no whole multiple of its size."""
        raise NotImplementedError

    def shot(self):
        return self.x11_display().picture(*self.origin, self.scale)

    def _point(self, x, y):
        # The middle of the cell's pixels.
        return self.origin[0] + x * self.scale + self.scale // 2, self.origin[1] + y * self.scale + self.scale // 2

    def field_size(self):
        found = self._field_on_screen()
        if found is None:
            return None
        self.origin, self.scale = found
        return WIDTH * self.scale, HEIGHT * self.scale

    def field_pixels(self):
        self.field_size()
        return self.x11_display().grab(*self.origin, WIDTH * self.scale, HEIGHT * self.scale)

