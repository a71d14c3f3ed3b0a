#!/usr/bin/env python3
"""Checks that every text the program's sources give to tr(), translate(),
QT_TRANSLATE_NOOP or a form (.ui) has an English translation.

Usage: check_translations.py --lupdate LUPDATE --lconvert LCONVERT
                             --ts-dir DIR --ts FILE... --sources DIR...

The English .ts files (--ts, all of --ts-dir) are joined into a scratch copy,
lupdate runs over the source folders into that copy, and every text found
there that is missing from the .ts files, or is there without a finished
translation, is named with the place it comes from.  The .ts files themselves
are not touched.  Exits 1 when a text is missing or untranslated, 2 when the
check itself cannot run.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def messages(path):
    """Yields (context, source, comment, message element) of a .ts file."""
    root = ET.parse(path).getroot()
    for context in root.iter("context"):
        name = context.findtext("name") or ""
        for message in context.iter("message"):
            yield name, message.findtext("source") or "", message.findtext("comment") or "", message


def translated(message):
    """A finished translation with text (every plural form filled); a blank
    source (a deliberately empty title) may have a blank translation."""
    t = message.find("translation")
    if t is None or t.get("type") in ("unfinished", "obsolete", "vanished"):
        return False
    blank_source = not (message.findtext("source") or "").strip()
    forms = t.findall("numerusform") or [t]
    return all((f.text or "") and (blank_source or (f.text or "").strip()) for f in forms)


def where(message, ts_dir, base):
    """The source places lupdate recorded (relative to the .ts file)."""
    places = []
    for loc in message.findall("location"):
        name = os.path.normpath(os.path.join(ts_dir, loc.get("filename") or ""))
        name = os.path.relpath(name, base)
        places.append(name + (":" + loc.get("line") if loc.get("line") else ""))
    return ", ".join(places)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lupdate", required=True)
    ap.add_argument("--lconvert", required=True)
    ap.add_argument("--ts-dir", required=True)
    ap.add_argument("--ts", nargs="+", required=True)
    ap.add_argument("--sources", nargs="+", required=True)
    args = ap.parse_args()

    base = os.path.commonpath([os.path.abspath(p) for p in args.sources + [args.ts_dir]])
    problems = []

    listed = {os.path.abspath(p) for p in args.ts}
    for name in sorted(os.listdir(args.ts_dir)):
        path = os.path.abspath(os.path.join(args.ts_dir, name))
        if name.endswith(".ts") and path not in listed:
            problems.append("%s is not listed in translations/CMakeLists.txt, so the program never loads it"
                            % os.path.relpath(path, base))

    known = {}
    for path in args.ts:
        for context, source, comment, message in messages(path):
            known[(context, source, comment)] = (os.path.basename(path), translated(message))

    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "en_US.ts")
        run = subprocess.run([args.lconvert, "-i"] + list(args.ts) + ["-o", copy],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.exists(copy):
            print("translations: lconvert could not join the .ts files:\n" + run.stdout)
            return 2
        run = subprocess.run([args.lupdate, "-no-obsolete", "-locations", "absolute",
                              "-disable-heuristic", "sametext", "-disable-heuristic", "similartext",
                              "-disable-heuristic", "number"] + list(args.sources) + ["-ts", copy],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print("translations: lupdate failed:\n" + run.stdout)
            return 2
        # lupdate's own warnings (a tr() it cannot read, ...) are worth seeing.
        for line in run.stdout.splitlines():
            if "warning" in line.lower() or "error" in line.lower():
                print(line)
        found = 0
        for context, source, comment, message in messages(copy):
            t = message.find("translation")
            if t is not None and t.get("type") in ("obsolete", "vanished"):
                continue
            found += 1
            label = '%s "%s"%s' % (context, source, ' (comment "%s")' % comment if comment else "")
            place = where(message, scratch, base)
            entry = known.get((context, source, comment))
            if entry is None:
                problems.append("missing from translations/en_US/*.ts: %s, from %s" % (label, place))
            elif not entry[1]:
                problems.append("not translated in translations/en_US/%s: %s, from %s" % (entry[0], label, place))

    if found == 0:
        print("translations: lupdate found no text in %s" % " ".join(args.sources))
        return 2
    if problems:
        print("translations: %d problem(s) with the English translation:" % len(problems))
        for p in problems:
            print("  " + p)
        return 1
    print("translations: all %d texts of the sources have an English translation" % found)
    return 0


if __name__ == "__main__":
    sys.exit(main())
