#!/usr/bin/env python3
"""Every English text the player can read has a translation in every
catalogue, keeping its words to fill in, and no catalogue keeps texts the
program no longer uses: a new text without translations fails here. The
catalogues pass gettext's own checks too.

usage: catalogue_check.py SOURCE_DIR [--pot FILE]  (--pot: the texts found,
as a template for a new language)"""
import codecs
import glob
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools'))
import po_catalogue  # noqa: E402

C_STRING = r'"(?:[^"\\]|\\.)*"'


def c_value(literals):
    """Adjacent C string literals, as the UTF-8 text they make."""
    return b''.join(codecs.escape_decode(s[1:-1].encode())[0] for s in re.findall(C_STRING, literals)).decode()


def program_texts(root):
    """{english: file} of every text the program, its page and its entries show."""
    found = {}
    patterns = {  # file: (pattern, its text's value)
        'src/resources/strings.inc': (r'TALVO_STRING\(\d+,\s*(%s)\)' % C_STRING, c_value),
        'src/resources/about.h': (r'#define TALVO_ABOUT_\w+ (%s)\s*$' % C_STRING, c_value),
        'src/**/*.cpp': (r'\b(?:Translated|TranslatedWith|N_)\(\s*((?:%s\s*)+)' % C_STRING, c_value),
        'src/**/*.h': (r'\b(?:Translated|TranslatedWith|N_)\(\s*((?:%s\s*)+)' % C_STRING, c_value),
        'src/**/*.js': (r'\bT\(\s*(%s)' % C_STRING, json.loads),
        # Each element marked data-text by its content, and every title and label.
        'src/**/*.html': (r'(?s)<(\w+)[^>]*\bdata-text\b[^>]*>(.*?)</\1>', lambda s: ' '.join(s.split())),
        'src/**/index.html': (r'\b(?:title|aria-label|alt)="([^"]+)"', str),
        'packaging/talvo.desktop.in': (r'^(?:GenericName|Comment|Keywords)=(.*)$', str),
        'packaging/*.metainfo.xml.in': (r'<summary>(.*?)</summary>', str),
    }
    for files, (pattern, value) in patterns.items():
        for path in glob.glob(os.path.join(root, files), recursive=True):
            with open(path, encoding='utf-8') as f:
                for m in re.finditer(pattern, f.read(), re.M):
                    found.setdefault(value(m.groups()[-1]), os.path.relpath(path, root))
    # A name, the same in every language.
    found.pop('Talvo', None)
    return found


def words(text):
    return len(re.findall(r'%(?:\d+\$)?s', text))


def main():
    root = sys.argv[1]
    texts = program_texts(root)
    if '--pot' in sys.argv:
        with open(sys.argv[sys.argv.index('--pot') + 1], 'w', encoding='utf-8') as f:
            f.write('msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=UTF-8\\n"\n\n')
            for text in sorted(texts):
                f.write('#: %s\nmsgid %s\nmsgstr ""\n\n' % (texts[text], json.dumps(text, ensure_ascii=False)))
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
