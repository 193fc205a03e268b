#!/usr/bin/env python3
"""Reads the translation catalogues (po/LANG.po, whose msgids are the
program's English texts) and writes what the platforms without gettext
look their texts up in: a C++ table (--cpp) for Windows, the page and
talvo-sim, and the page's own catalogue (--js)."""
import argparse
import json
import os
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--cpp')
    parser.add_argument('--js')
    args = parser.parse_args()
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
