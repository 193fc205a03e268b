#!/usr/bin/env python3
"""Reads the translation catalogues (po/LANG.po, whose msgids are the
program's English texts) and writes what the platforms without gettext
look their texts up in: a C++ table (--cpp) for Windows, the page and
talvo-sim, and the page's own catalogue (--js). With --pot SOURCE_DIR FILE
it writes every text the program shows, as a template for a new language."""
import argparse
import codecs
import glob
import json
import os
import re
import sys


def unquote(text):
    """The C string literal's value, as gettext reads it."""
    assert text.startswith('"') and text.endswith('"'), text
    body, out, i = text[1:-1], [], 0
    escapes = {'n': '\n', 't': '\t', '"': '"', '\\': '\\'}
    while i < len(body):
        c = body[i]
        if c == '\\':
            i += 1
            if body[i] not in escapes:
                raise ValueError("unknown escape \\%s" % body[i])
            out.append(escapes[body[i]])
        else:
            out.append(c)
        i += 1
    return ''.join(out)


def read_po(path):
    """[(msgid, msgstr, fuzzy)] of the catalogue, header left out."""
    entries, current, field, fuzzy = [], {}, None, False

    def finish():
        nonlocal current, field, fuzzy
        if 'msgid' in current and current['msgid']:
            entries.append((current['msgid'], current.get('msgstr', ''), fuzzy))
        current, field, fuzzy = {}, None, False

    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                finish()
            elif line.startswith('#,'):
                fuzzy = fuzzy or 'fuzzy' in line
            elif line.startswith('#'):
                continue
            elif line.startswith('msgctxt') or line.startswith('msgid_plural'):
                raise ValueError("%s:%d: the catalogues use neither contexts nor plurals" % (path, number))
            elif line.startswith('msgid ') or line.startswith('msgstr '):
                key, value = line.split(' ', 1)
                if key == 'msgid' and 'msgid' in current:
                    finish()
                field = key
                current[field] = unquote(value)
            elif line.startswith('"') and field:
                current[field] += unquote(line)
            else:
                raise ValueError("%s:%d: cannot read %r" % (path, number, line))
    finish()
    return entries


def catalogues(folder):
    """{language: {english: translated}}, fuzzy and empty entries left out."""
    found = {}
    with open(os.path.join(folder, 'LINGUAS'), encoding='utf-8') as f:
        languages = [w for line in f for w in line.split('#')[0].split()]
    for language in languages:
        found[language] = {english: text for english, text, fuzzy in
                           read_po(os.path.join(folder, language + '.po')) if text and not fuzzy}
    return found


def c_literal(text):
    out = []
    for byte in text.encode('utf-8'):
        c = chr(byte)
        if c == '"' or c == '\\':
            out.append('\\' + c)
        elif c == '\n':
            out.append('\\n')
        elif 32 <= byte < 127:
            out.append(c)
        else:
            # Octal, so that a following hex digit is never taken in.
            out.append('\\%03o' % byte)
    return '"' + ''.join(out) + '"'


def write_if_changed(path, text):
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)


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


def write_template(root, path):
    texts = program_texts(root)
    with open(path, 'w', encoding='utf-8') as f:
        f.write('msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=UTF-8\\n"\n\n')
        for text in sorted(texts):
            f.write('#: %s\nmsgid %s\nmsgstr ""\n\n' % (texts[text], json.dumps(text, ensure_ascii=False)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--cpp')
    parser.add_argument('--js')
    parser.add_argument('--pot', nargs=2, metavar=('SOURCE_DIR', 'FILE'))
    args = parser.parse_args()
    if args.pot:
        write_template(*args.pot)
    found = catalogues(args.folder)
    if args.cpp:
        lines = ['// Made by tools/po_catalogue.py from po/*.po: edit those.\n']
        for language, texts in found.items():
            for english in sorted(texts):
                lines.append('TALVO_TEXT(%s, %s, %s)\n' % (c_literal(language), c_literal(english),
                                                             c_literal(texts[english])))
        write_if_changed(args.cpp, ''.join(lines))
    if args.js:
        write_if_changed(args.js, '// Made by tools/po_catalogue.py from po/*.po: edit those.\n'
                         'const TalvoCatalogues = ' + json.dumps(found, ensure_ascii=False, sort_keys=True,
                                                                 indent=0) + ';\n')


if __name__ == '__main__':
    try:
        main()
    except (OSError, ValueError) as error:
        sys.exit('po_catalogue: %s' % error)
