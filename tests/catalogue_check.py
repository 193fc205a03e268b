#!/usr/bin/env python3
"""Every English text the player can read has a translation in every
catalogue, and no catalogue keeps texts the program no longer uses: a new
text without translations fails here. The catalogues also pass gettext's
own checks, and every translation keeps its text's placeholders.

usage: catalogue_check.py SOURCE_DIR [--pot FILE]  (--pot: the texts found,
as a template, for a new language or a new text)"""
import html.parser
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools'))
import po_catalogue  # noqa: E402

C_STRING = r'"(?:[^"\\]|\\.)*"'
C_STRINGS = r'((?:%s\s*)+)' % C_STRING


def c_value(literals):
    """The bytes of adjacent C string literals, as UTF-8 text."""
    out = bytearray()
    for literal in re.findall(C_STRING, literals):
        body, i = literal[1:-1], 0
        while i < len(body):
            if body[i] != '\\':
                out += body[i].encode('utf-8')
                i += 1
                continue
            c = body[i + 1]
            if c == 'x':
                digits = re.match(r'[0-9A-Fa-f]+', body[i + 2:]).group(0)
                out.append(int(digits, 16))
                i += 2 + len(digits)
            else:
                out += {'n': b'\n', 't': b'\t', '"': b'"', '\\': b'\\'}[c]
                i += 2
    return out.decode('utf-8')


def js_value(literal):
    return re.sub(r'\\u([0-9A-Fa-f]{4})', lambda m: chr(int(m.group(1), 16)),
                  literal[1:-1].replace('\\"', '"'))


class PageTexts(html.parser.HTMLParser):
    """index.html's titles and labels, and the whole content of each element
    marked data-text (a text with its markup, as the page looks it up)."""

    def __init__(self, source):
        super().__init__(convert_charrefs=False)
        self.source, self.texts, self.open = source, [], []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ('title', 'aria-label', 'alt'):
            if attrs.get(name):
                self.texts.append(attrs[name])
        self.open.append((tag, 'data-text' in attrs, self.getpos(), self.get_starttag_text()))

    def handle_endtag(self, tag):
        while self.open:
            opened, marked, pos, start = self.open.pop()
            if opened == tag:
                break
        else:
            return
        if marked:
            lines = self.source.split('\n')
            offset = sum(len(line) + 1 for line in lines[:pos[0] - 1]) + pos[1] + len(start)
            end_line, end_col = self.getpos()
            end = sum(len(line) + 1 for line in lines[:end_line - 1]) + end_col
            inner = ' '.join(self.source[offset:end].split())
            self.texts.append(html.unescape(inner))


def program_texts(root):
    """{english: where} of every text the program and its page show."""
    found = {}

    def add(text, where):
        found.setdefault(text, where)

    with open(os.path.join(root, 'src/resources/strings.inc'), encoding='utf-8') as f:
        for m in re.finditer(r'TALVO_STRING\(\d+,\s*(%s)\)' % C_STRING, f.read()):
            add(c_value(m.group(1)), 'strings.inc')
    with open(os.path.join(root, 'src/resources/about.h'), encoding='utf-8') as f:
        for m in re.finditer(r'#define (TALVO_ABOUT_\w+) (%s)\s*$' % C_STRING, f.read(), re.M):
            add(c_value(m.group(2)), 'about.h')
    for folder, _, files in os.walk(os.path.join(root, 'src')):
        for name in files:
            path = os.path.join(folder, name)
            if name.endswith(('.cpp', '.h')):
                with open(path, encoding='utf-8') as f:
                    source = f.read()
                for m in re.finditer(r'\b(?:Translated|TranslatedWith|N_)\(\s*' + C_STRINGS, source):
                    add(c_value(m.group(1)), os.path.relpath(path, root))
            elif name.endswith('.js'):
                with open(path, encoding='utf-8') as f:
                    for m in re.finditer(r'\bT\(\s*("(?:[^"\\]|\\.)*")', f.read()):
                        add(js_value(m.group(1)), os.path.relpath(path, root))
            elif name.endswith('.html'):
                with open(path, encoding='utf-8') as f:
                    source = f.read()
                parser = PageTexts(source)
                parser.feed(source)
                for text in parser.texts:
                    add(text, os.path.relpath(path, root))
    for name in ('talvo.desktop.in',):
        with open(os.path.join(root, 'packaging', name), encoding='utf-8') as f:
            for m in re.finditer(r'^(?:GenericName|Comment|Keywords)=(.*)$', f.read(), re.M):
                add(m.group(1), name)
    with open(os.path.join(root, 'packaging/org.talvo.talvo.metainfo.xml.in'), encoding='utf-8') as f:
        for m in re.finditer(r'<summary>(.*?)</summary>', f.read()):
            add(m.group(1), 'metainfo')
    # A name, the same in every language.
    found.pop('Talvo', None)
    return found


def placeholders(text):
    return sorted(re.findall(r'%(?:\d+\$)?s', text)), len(re.findall(r'%(?:\d+\$)?s', text))


def main():
    root = sys.argv[1]
    texts = program_texts(root)
    if '--pot' in sys.argv:
        with open(sys.argv[sys.argv.index('--pot') + 1], 'w', encoding='utf-8') as f:
            f.write('msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=UTF-8\\n"\n\n')
            for text in sorted(texts):
                f.write('#: %s\nmsgid %s\nmsgstr ""\n\n' % (texts[text], po_catalogue.c_literal(text)))
    faults = []
    if len(texts) < 60:
        faults.append('only %d texts found: the extraction is broken' % len(texts))
    catalogues = po_catalogue.catalogues(os.path.join(root, 'po'))
    if sorted(catalogues) != ['de', 'es', 'fr', 'ja', 'zh_CN']:
        faults.append('catalogues: %s' % sorted(catalogues))
    for language, catalogue in sorted(catalogues.items()):
        entries = po_catalogue.read_po(os.path.join(root, 'po', language + '.po'))
        for english, text, fuzzy in entries:
            if english not in texts and english != 'Talvo':
                faults.append('%s: %r is no text of the program' % (language, english))
            if fuzzy:
                faults.append('%s: %r is marked fuzzy' % (language, english))
        for english, where in sorted(texts.items()):
            if english not in catalogue:
                faults.append('%s: no translation of %r (%s)' % (language, english, where))
            else:
                numbered = re.findall(r'%(\d+)\$s', catalogue[english])
                wanted = len(re.findall(r'%(?:\d+\$)?s', english))
                got = len(re.findall(r'%(?:\d+\$)?s', catalogue[english]))
                if got != wanted or (numbered and sorted(numbered) != [str(n) for n in range(1, wanted + 1)]):
                    faults.append('%s: %r keeps %d of its %d words to fill in' % (language, english, got, wanted))
        check = subprocess.run(['msgfmt', '--check', '--check-accelerators=_', '-o', os.devnull,
                                os.path.join(root, 'po', language + '.po')], capture_output=True, text=True)
        if check.returncode != 0:
            faults.append('%s: msgfmt --check: %s' % (language, check.stderr.strip()))
    for fault in faults:
        print(fault)
    print('%d texts, %d catalogues, %d faults' % (len(texts), len(catalogues), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
