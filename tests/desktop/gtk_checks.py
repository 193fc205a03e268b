"""What only the GTK window has to show beside the shared behaviour suite
(tests/desktop/run gtk)."""
import library_checks

TESTS = library_checks.TESTS
