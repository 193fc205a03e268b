#!/usr/bin/env python3
"""Every English text the player can read has a translation in every
catalogue, keeping its words to fill in, and no catalogue keeps texts the
program no longer uses: a new text without translations fails here. The
catalogues pass gettext's own checks too.

usage: catalogue_check.py SOURCE_DIR"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools'))
import po_catalogue  # noqa: E402

def words(text):
    return len(re.findall(r'%(?:\d+\$)?s', text))


def main():
    root = sys.argv[1]
    texts = po_catalogue.program_texts(root)
    faults = [] if len(texts) > 100 else ['only %d texts found: the extraction is broken' % len(texts)]
    catalogues = po_catalogue.catalogues(os.path.join(root, 'po'))
    if sorted(catalogues) != ['de', 'es', 'fr', 'ja', 'zh_CN']:
        faults.append('catalogues: %s' % sorted(catalogues))
    for language, catalogue in sorted(catalogues.items()):
        path = os.path.join(root, 'po', language + '.po')
        for english, text, fuzzy in po_catalogue.read_po(path):
            if english not in texts or fuzzy:
                faults.append('%s: %r is %s' % (language, english, 'fuzzy' if fuzzy else 'no text of the program'))
        for english, where in sorted(texts.items()):
            if english not in catalogue:
                faults.append('%s: no translation of %r (%s)' % (language, english, where))
            elif words(catalogue[english]) != words(english):
                faults.append('%s: %r keeps %d of its %d words to fill in' % (
                    language, english, words(catalogue[english]), words(english)))
        check = subprocess.run(['msgfmt', '--check', '-o', os.devnull, path], capture_output=True, text=True)
        if check.returncode != 0:
            faults.append('%s: msgfmt --check: %s' % (language, check.stderr.strip()))
    print('\n'.join(faults + ['%d texts, %d catalogues, %d faults' % (len(texts), len(catalogues), len(faults))]))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
