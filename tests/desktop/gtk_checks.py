"""What only the GTK window has to show beside the shared behaviour suite
(tests/desktop/run gtk)."""
import crash_checks
import library_checks
import saves_checks

TESTS = library_checks.TESTS + crash_checks.TESTS + saves_checks.TESTS
