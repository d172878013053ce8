#!/usr/bin/env python3
"""Writes <name>.expected.json beside each real library export <name>.xml.

Each export is read independently of the C++ reader, with Python's plistlib,
and the expected file holds what an export of that library must show. Run
it again after adding an export:  python3 tests/data/real/make_expected.py

Format of <name>.expected.json (UTF-8 JSON; a value the library file does not
have is left out, never written as null):

  {
    "file": "<name>.xml",
    "majorVersion": 1,              "Major Version" (1 when absent)
    "minorVersion": 1,              "Minor Version" (1 when absent)
    "musicFolder": "file://...",    "Music Folder" as written
    "musicFolderPath": "/...",      its file-system path (see "filePath")
    "tracks": [                     one per entry of "Tracks", in file order
      {
        "persistentID": "20E89D1580C31363",   16 upper-case hex digits
        "name": "...", "artist": "...", "album": "...",
        "dateAdded": 1398331718000,     "Date Added" in ms since 1970 UTC
        "dateModified": ...,            "Date Modified"
        "playDateUTC": ...,             "Play Date UTC" (never "Play Date")
        "releaseDate": ...,             "Release Date"
        "skipDate": ...,                "Skip Date"
        "location": "file:///...",      "Location" as written
        "filePath": "/Music/...",       for file: URLs only: the URL's path,
                                        percent-decoded (invalid UTF-8 becomes
                                        U+FFFD), a trailing "/" dropped
        "size": 5525212,                "Size"
        "totalTime": 182674             "Total Time" in ms
      }, ...
    ],
    "playlists": [                  one per entry of "Playlists", in file order
      {
        "name": "...",
        "persistentID": "...",      "Playlist Persistent ID", 16 hex digits
        "parentID": "...",          "Parent Persistent ID", when present
        "items": ["...", ...]       persistent IDs of "Playlist Items" in
                                    order, duplicates kept, a "Track ID" that
                                    names no track skipped
      }, ...
    ]
  }

A track is found by its "Track ID", or by its key in "Tracks" when it has
none. Dates are whole seconds in the files, so the milliseconds are exact.
"""

import datetime
import json
import plistlib
import sys
import urllib.parse
from pathlib import Path

EPOCH = datetime.datetime(1970, 1, 1)


def milliseconds(value):
    if value.tzinfo is not None:
        value = value.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return (value - EPOCH) // datetime.timedelta(milliseconds=1)


def pid_text(text):
    return "%016X" % int(text, 16)


def file_path(url):
    """The path of a file: URL, decoded, or None for other URLs."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme.lower() != "file":
        return None
    path = urllib.parse.unquote(parts.path, errors="replace")
    if len(path) > 1 and path.endswith("/"):
        path = path[:-1]
    return path


def put(record, key, value):
    if value is not None:
        record[key] = value


def expected(path):
    with open(path, "rb") as f:
        library = plistlib.load(f)
    out = {
        "file": path.name,
        "majorVersion": library.get("Major Version", 1),
        "minorVersion": library.get("Minor Version", 1),
    }
    folder = library.get("Music Folder")
    if folder:
        out["musicFolder"] = folder
        put(out, "musicFolderPath", file_path(folder))

    by_track_id = {}
    tracks = []
    for key, track in library["Tracks"].items():
        record = {"persistentID": pid_text(track["Persistent ID"])}
        put(record, "name", track.get("Name"))
        put(record, "artist", track.get("Artist"))
        put(record, "album", track.get("Album"))
        for field, xml_key in (("dateAdded", "Date Added"), ("dateModified", "Date Modified"),
                               ("playDateUTC", "Play Date UTC"), ("releaseDate", "Release Date"),
                               ("skipDate", "Skip Date")):
            if xml_key in track:
                record[field] = milliseconds(track[xml_key])
        location = track.get("Location")
        if location:
            record["location"] = location
            put(record, "filePath", file_path(location))
        put(record, "size", track.get("Size"))
        put(record, "totalTime", track.get("Total Time"))
        tracks.append(record)
        track_id = track.get("Track ID", int(key) if key.lstrip("-").isdigit() else None)
        if track_id is not None:
            by_track_id.setdefault(track_id, record["persistentID"])
    out["tracks"] = tracks

    playlists = []
    for playlist in library.get("Playlists", []):
        record = {
            "name": playlist.get("Name", ""),
            "persistentID": pid_text(playlist["Playlist Persistent ID"]),
        }
        if "Parent Persistent ID" in playlist:
            record["parentID"] = pid_text(playlist["Parent Persistent ID"])
        record["items"] = [by_track_id[item["Track ID"]]
                           for item in playlist.get("Playlist Items", [])
                           if item.get("Track ID") in by_track_id]
        playlists.append(record)
    out["playlists"] = playlists
    return out


def main():
    folder = Path(__file__).resolve().parent
    exports = sorted(folder.glob("*.xml"))
    for path in exports:
        target = path.with_name(path.stem + ".expected.json")
        with open(target, "w", encoding="utf-8") as f:
            json.dump(expected(path), f, ensure_ascii=False, indent=1)
            f.write("\n")
        print("wrote", target.name)
    return 0 if exports else 1


if __name__ == "__main__":
    sys.exit(main())
