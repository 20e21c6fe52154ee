"""Text from a report as the page shows it: escaped for HTML, and with every
character that would not show as itself replaced by a visible mark of its
code point (U+202E). These are controls (NUL among them), bidirectional
overrides, embeddings and isolates, which would reorder the text around
them on screen, other invisible format characters, line and paragraph
separators, lone surrogates, private-use and unassigned code points.
"""

import html
import unicodedata

HIDDEN_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp"}


def _marks(text, mark):
    if text.isprintable():  # nothing of the categories above: the usual case, fast
        return html.escape(text) if mark else text
    out = []
    for character in text:
        if unicodedata.category(character) in HIDDEN_CATEGORIES:
            code = "U+%04X" % ord(character)
            out.append('<span class="hidden-character">%s</span>' % code if mark else "[%s]" % code)
        else:
            out.append(html.escape(character) if mark else character)
    return "".join(out)


def visible(text):
    """HTML of `text`, hidden characters marked."""
    return _marks(str(text), True)


def visible_plain(text):
    """`text` with hidden characters written as [U+202E], for places that
    hold no markup (a page's title); not yet escaped for HTML."""
    return _marks(str(text), False)
