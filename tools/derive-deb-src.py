#!/usr/bin/env python3
"""Prints a deb-src entry (deb822 form) derived from the machine's configured binary package
sources: every enabled binary entry of the release suite (VERSION_CODENAME of /etc/os-release)
gives one source entry with the same URIs, suite, components and keyring. Exits 1 when there is
none. Reads /etc/apt/sources.list, /etc/apt/sources.list.d/*.list and *.sources; an optional first
argument names another apt configuration root (for tests)."""
import glob
import os
import sys


def codename(root):
    try:
        with open(os.path.join(root, "os-release")) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                if key == "VERSION_CODENAME":
                    return value.strip('"')
    except OSError:
        pass
    return ""


def deb822_stanzas(text):
    stanza, key = {}, None
    for raw in text.splitlines() + [""]:
        if raw.startswith("#"):
            continue
        if not raw.strip():
            if stanza:
                yield stanza
            stanza, key = {}, None
        elif raw[0] in " \t" and key:
            stanza[key] += "\n" + raw.strip()
        else:
            key, _, value = raw.partition(":")
            key = key.strip().lower()
            stanza[key] = value.strip()


def one_line_entries(text):
    """(options, uri, suite, components) of each enabled 'deb' line."""
    for raw in text.splitlines():
        words = raw.split("#", 1)[0].split()
        if not words or words[0] != "deb":
            continue
        words = words[1:]
        options = {}
        if words and words[0].startswith("["):
            option_words = []
            while words:
                word = words.pop(0)
                option_words.append(word.strip("[]"))
                if word.endswith("]"):
                    break
            for word in option_words:
                name, _, value = word.partition("=")
                if name:
                    options[name.lower()] = value
        if len(words) >= 2:
            yield options, words[0], words[1], words[2:]


def entries(apt_root):
    """(uris, suite, components, signed_by) of every binary entry, in configuration order."""
    lists = [os.path.join(apt_root, "sources.list")] + sorted(glob.glob(os.path.join(apt_root, "sources.list.d", "*.list")))
    for path in lists:
        try:
            text = open(path).read()
        except OSError:
            continue
        for options, uri, suite, components in one_line_entries(text):
            yield [uri], [suite], components, options.get("signed-by", "")
    for path in sorted(glob.glob(os.path.join(apt_root, "sources.list.d", "*.sources"))):
        try:
            text = open(path).read()
        except OSError:
            continue
        for stanza in deb822_stanzas(text):
            if "deb" not in stanza.get("types", "").split() or stanza.get("enabled", "yes").lower() == "no":
                continue
            yield (stanza.get("uris", "").split(), stanza.get("suites", "").split(),
                   stanza.get("components", "").split(), stanza.get("signed-by", ""))


def main():
    apt_root = sys.argv[1] if len(sys.argv) > 1 else "/etc/apt"
    release = codename(sys.argv[2] if len(sys.argv) > 2 else "/etc")
    out = []
    for uris, suites, components, signed_by in entries(apt_root):
        if not uris or release not in suites or not components:
            continue
        stanza = ["Types: deb-src", "URIs: " + " ".join(uris), "Suites: " + release,
                  "Components: " + " ".join(components)]
        if signed_by:
            stanza.append("Signed-By: " + signed_by.replace("\n", "\n "))
        out.append("\n".join(stanza))
    if not out:
        return 1
    print("\n\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
