#!/usr/bin/env python3
"""Writes a synthetic music library XML export of N tracks.

    generate_library.py N OUT.xml [--seed S] [--markup]

The file has the layout the music application writes (tab indentation, one
key and value per line, booleans only when true), realistic track fields, a
few non-ASCII and entity-escaped names, some podcasts, videos and cloud
tracks without a location, and playlists of varied sizes: the master playlist
of every track, distinguished ones, folders with children, smart playlists
with their criteria data, and plain ones from one track to many thousands.
With --markup it also holds what XML allows among the tracks and exports
seldom write: a comment and a processing instruction between two tracks, and
a reference to an entity that the document type never declares in a track's
name; the rest of the file is the same as without it. The same N, seed and
options always give the same bytes.
"""

import argparse
import base64
import datetime
import random
import sys
from xml.sax.saxutils import escape

EPOCH_1904 = datetime.datetime(1904, 1, 1)
EPOCH_1970 = datetime.datetime(1970, 1, 1)

WORDS = ("love night heart time light fire dream rain blue road home world summer city river song dance "
         "gold shadow storm ocean star wild free morning echo silver glass paper stone velvet thunder "
         "winter midnight electric sugar honey broken golden lonely secret").split()
NON_ASCII = ["Café del Mar", "Björk", "Sigur Rós", "Mötley Crüe", "Beyoncé", "日本の歌", "Московские ночи",
             "Ελληνικά", "Straße", "Niño", "Señorita", "Zoë Keating", "Ólafur Arnalds", "한국어", "مرحبا",
             "🎵 Notes 🎶", "Ça ira", "Dvořák"]
GENRES = ["Rock", "Pop", "Jazz", "Classical", "Electronic", "Hip-Hop/Rap", "Alternative", "Soundtrack",
          "Country", "R&B/Soul", "Folk", "Metal", "Blues", "Reggae", "World"]
KINDS = [("MPEG audio file", "mp3", 0.55), ("AAC audio file", "m4a", 0.25), ("Purchased AAC audio file", "m4a", 0.1),
         ("Apple Lossless audio file", "m4a", 0.07), ("WAV audio file", "wav", 0.03)]


def title_case(rng, count):
    return " ".join(rng.choice(WORDS).capitalize() for _ in range(count))


def name_of(rng, words):
    roll = rng.random()
    if roll < 0.04:
        return rng.choice(NON_ASCII)
    if roll < 0.06:
        return title_case(rng, 1) + " & " + title_case(rng, 1)
    return title_case(rng, rng.randint(1, words))


def date_text(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def url_path(text):
    out = []
    for byte in text.encode("utf-8"):
        c = chr(byte)
        if c.isalnum() and byte < 128 or c in "-._~/'()!*,;:@+$=":
            out.append(c)
        else:
            out.append("%%%02X" % byte)
    return "".join(out)


class Writer:
    def __init__(self, out):
        self.out = out
        self.parts = []

    def line(self, text):
        self.parts.append(text)
        if len(self.parts) >= 20000:
            self.flush()

    def flush(self):
        self.out.write("\n".join(self.parts))
        self.out.write("\n")
        self.parts = []


def make_artists(rng, count):
    return [name_of(rng, 3) for _ in range(count)]


def write_track(w, rng, track_id, artists, albums, name_suffix=""):
    t = "\t\t\t"
    artist = rng.choice(artists)
    album, album_artist, genre, year, disc_count, track_count = rng.choice(albums)
    name = name_of(rng, 5)
    kind, ext, _ = rng.choices(KINDS, weights=[k[2] for k in KINDS])[0]
    special = rng.random()
    added = EPOCH_1970 + datetime.timedelta(seconds=rng.randint(1_000_000_000, 1_700_000_000))
    modified = added + datetime.timedelta(seconds=rng.randint(0, 200_000_000))
    total_time = rng.randint(30_000, 600_000)
    size = total_time * rng.randint(16, 180) + rng.randint(0, 99_999)

    w.line(f"\t\t<key>{track_id}</key>")
    w.line("\t\t<dict>")
    w.line(f"{t}<key>Track ID</key><integer>{track_id}</integer>")
    w.line(f"{t}<key>Name</key><string>{escape(name)}{name_suffix}</string>")
    w.line(f"{t}<key>Artist</key><string>{escape(artist)}</string>")
    w.line(f"{t}<key>Album Artist</key><string>{escape(album_artist)}</string>")
    if rng.random() < 0.4:
        w.line(f"{t}<key>Composer</key><string>{escape(rng.choice(artists))}</string>")
    w.line(f"{t}<key>Album</key><string>{escape(album)}</string>")
    if rng.random() < 0.05:
        w.line(f"{t}<key>Grouping</key><string>{escape(title_case(rng, 2))}</string>")
    w.line(f"{t}<key>Genre</key><string>{escape(genre)}</string>")
    w.line(f"{t}<key>Kind</key><string>{kind}</string>")
    w.line(f"{t}<key>Size</key><integer>{size}</integer>")
    w.line(f"{t}<key>Total Time</key><integer>{total_time}</integer>")
    if rng.random() < 0.02:
        w.line(f"{t}<key>Start Time</key><integer>{rng.randint(1, 20_000)}</integer>")
        w.line(f"{t}<key>Stop Time</key><integer>{total_time - rng.randint(0, 20_000)}</integer>")
    w.line(f"{t}<key>Disc Number</key><integer>{rng.randint(1, disc_count)}</integer>")
    w.line(f"{t}<key>Disc Count</key><integer>{disc_count}</integer>")
    w.line(f"{t}<key>Track Number</key><integer>{rng.randint(1, track_count)}</integer>")
    w.line(f"{t}<key>Track Count</key><integer>{track_count}</integer>")
    w.line(f"{t}<key>Year</key><integer>{year}</integer>")
    if rng.random() < 0.03:
        w.line(f"{t}<key>BPM</key><integer>{rng.randint(60, 180)}</integer>")
    w.line(f"{t}<key>Date Modified</key><date>{date_text(modified)}</date>")
    w.line(f"{t}<key>Date Added</key><date>{date_text(added)}</date>")
    w.line(f"{t}<key>Bit Rate</key><integer>{rng.choice((128, 192, 256, 320, 1411))}</integer>")
    w.line(f"{t}<key>Sample Rate</key><integer>{rng.choice((44100, 44100, 48000, 96000))}</integer>")
    if rng.random() < 0.02:
        w.line(f"{t}<key>Volume Adjustment</key><integer>{rng.randint(-255, 255)}</integer>")
    plays = int(rng.expovariate(0.2)) if rng.random() < 0.6 else 0
    if plays:
        played = modified + datetime.timedelta(seconds=rng.randint(0, 50_000_000))
        local = int((played - EPOCH_1904).total_seconds()) + 3600
        w.line(f"{t}<key>Play Count</key><integer>{plays}</integer>")
        w.line(f"{t}<key>Play Date</key><integer>{local}</integer>")
        w.line(f"{t}<key>Play Date UTC</key><date>{date_text(played)}</date>")
    if rng.random() < 0.1:
        skipped = added + datetime.timedelta(seconds=rng.randint(0, 90_000_000))
        w.line(f"{t}<key>Skip Count</key><integer>{rng.randint(1, 9)}</integer>")
        w.line(f"{t}<key>Skip Date</key><date>{date_text(skipped)}</date>")
    if rng.random() < 0.2:
        w.line(f"{t}<key>Release Date</key><date>{year}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}T12:00:00Z</date>")
    if rng.random() < 0.25:
        w.line(f"{t}<key>Rating</key><integer>{rng.choice((20, 40, 60, 80, 100))}</integer>")
    w.line(f"{t}<key>Album Rating</key><integer>{rng.choice((0, 20, 40, 60, 80, 100))}</integer>")
    w.line(f"{t}<key>Album Rating Computed</key><true/>")
    w.line(f"{t}<key>Artwork Count</key><integer>{rng.randint(0, 2)}</integer>")
    if rng.random() < 0.15:
        w.line(f"{t}<key>Comments</key><string>{escape(title_case(rng, rng.randint(2, 8)))}</string>")
    if rng.random() < 0.2:
        w.line(f"{t}<key>Sort Name</key><string>{escape(name.lower())}</string>")
    w.line(f"{t}<key>Sort Album</key><string>{escape(album.lower())}</string>")
    w.line(f"{t}<key>Sort Artist</key><string>{escape(artist.lower())}</string>")
    w.line(f"{t}<key>Persistent ID</key><string>{rng.getrandbits(64):016X}</string>")
    if kind.startswith("Purchased"):
        w.line(f"{t}<key>Purchased</key><true/>")
    if special < 0.03:  # a podcast episode streamed from its feed
        w.line(f"{t}<key>Track Type</key><string>URL</string>")
        w.line(f"{t}<key>Podcast</key><true/>")
        w.line(f"{t}<key>Unplayed</key><true/>")
        w.line(f"{t}<key>Location</key><string>https://feeds.example.com/{track_id}/episode.{ext}</string>")
        w.line("\t\t</dict>")
        return
    if special < 0.06:  # in the cloud only
        w.line(f"{t}<key>Track Type</key><string>Remote</string>")
        w.line(f"{t}<key>{rng.choice(('Apple Music', 'Matched', 'Playlist Only'))}</key><true/>")
        w.line("\t\t</dict>")
        return
    w.line(f"{t}<key>Track Type</key><string>File</string>")
    if special < 0.08:
        w.line(f"{t}<key>Has Video</key><true/>")
        w.line(f"{t}<key>{rng.choice(('Movie', 'TV Show', 'Music Video'))}</key><true/>")
        w.line(f"{t}<key>Content Rating</key><string>us-tv|TV-14|500|</string>")
        ext = "m4v"
    folder = f"file:///Users/listener/Music/Music/Media.localized/Music/{url_path(album_artist)}/{url_path(album)}/"
    w.line(f"{t}<key>Location</key><string>{escape(folder)}{url_path(f'{track_id:05d} {name}')}.{ext}</string>")
    w.line(f"{t}<key>File Folder Count</key><integer>5</integer>")
    w.line(f"{t}<key>Library Folder Count</key><integer>1</integer>")
    w.line("\t\t</dict>")


def write_playlist(w, rng, name, track_ids, *, pid=None, master=False, distinguished=None, folder=False,
                   parent=None, smart=False, visible=True, all_items=False):
    t = "\t\t\t"
    w.line("\t\t<dict>")
    if master:
        w.line(f"{t}<key>Master</key><true/>")
    w.line(f"{t}<key>Playlist ID</key><integer>{rng.randint(100_000, 999_999)}</integer>")
    w.line(f"{t}<key>Playlist Persistent ID</key><string>{pid}</string>")
    if parent:
        w.line(f"{t}<key>Parent Persistent ID</key><string>{parent}</string>")
    if all_items:
        w.line(f"{t}<key>All Items</key><true/>")
    if not visible:
        w.line(f"{t}<key>Visible</key><false/>")
    if distinguished is not None:
        w.line(f"{t}<key>Distinguished Kind</key><integer>{distinguished}</integer>")
    if folder:
        w.line(f"{t}<key>Folder</key><true/>")
    w.line(f"{t}<key>Name</key><string>{escape(name)}</string>")
    if smart:
        info = base64.b64encode(rng.randbytes(24)).decode()
        criteria = base64.b64encode(rng.randbytes(rng.randint(200, 900))).decode()
        w.line(f"{t}<key>Smart Info</key>")
        w.line(f"{t}<data>")
        w.line(f"{t}{info}")
        w.line(f"{t}</data>")
        w.line(f"{t}<key>Smart Criteria</key>")
        w.line(f"{t}<data>")
        for i in range(0, len(criteria), 60):
            w.line(f"{t}{criteria[i:i + 60]}")
        w.line(f"{t}</data>")
    if track_ids:
        w.line(f"{t}<key>Playlist Items</key>")
        w.line(f"{t}<array>")
        for track_id in track_ids:
            w.line("\t\t\t\t<dict>")
            w.line(f"\t\t\t\t\t<key>Track ID</key><integer>{track_id}</integer>")
            w.line("\t\t\t\t</dict>")
        w.line(f"{t}</array>")
    w.line("\t\t</dict>")


def generate(count, out, seed, markup=False):
    rng = random.Random(seed)
    artists = make_artists(rng, max(10, count // 12))
    albums = []
    for _ in range(max(5, count // 10)):
        albums.append((name_of(rng, 4), rng.choice(artists), rng.choice(GENRES), rng.randint(1955, 2024),
                       rng.choice((1, 1, 1, 2)), rng.randint(8, 20)))
    w = Writer(out)
    w.line('<?xml version="1.0" encoding="UTF-8"?>')
    w.line('<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" '
           '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">')
    w.line('<plist version="1.0">')
    w.line("<dict>")
    w.line("\t<key>Major Version</key><integer>1</integer>")
    w.line("\t<key>Minor Version</key><integer>1</integer>")
    w.line("\t<key>Date</key><date>2024-03-01T10:00:00Z</date>")
    w.line("\t<key>Application Version</key><string>1.4.3.1</string>")
    w.line("\t<key>Features</key><integer>5</integer>")
    w.line("\t<key>Show Content Ratings</key><true/>")
    w.line("\t<key>Music Folder</key><string>file:///Users/listener/Music/Music/Media.localized/</string>")
    w.line(f"\t<key>Library Persistent ID</key><string>{rng.getrandbits(64):016X}</string>")
    w.line("\t<key>Tracks</key>")
    w.line("\t<dict>")
    track_ids = []
    next_id = 1000
    for index in range(count):
        next_id += rng.choice((2, 2, 2, 4, 6))
        track_ids.append(next_id)
        if markup and index == count // 4:
            w.line("\t\t<!-- tracks moved here from another library -->")
        if markup and index == count // 2:
            w.line('\t\t<?library-tool checked="yes"?>')
        suffix = " &nbsp;(live)" if markup and index == 3 * count // 4 else ""
        write_track(w, rng, next_id, artists, albums, suffix)
    w.line("\t</dict>")

    w.line("\t<key>Playlists</key>")
    w.line("\t<array>")
    pid = lambda: f"{rng.getrandbits(64):016X}"  # noqa: E731
    write_playlist(w, rng, "Library", track_ids, pid=pid(), master=True, visible=False, all_items=True)
    music = [i for i in track_ids if rng.random() < 0.9]
    write_playlist(w, rng, "Music", music, pid=pid(), distinguished=4, all_items=True)
    write_playlist(w, rng, "Podcasts", track_ids[: max(1, count // 50)], pid=pid(), distinguished=10)
    write_playlist(w, rng, "Movies", [], pid=pid(), distinguished=2)
    write_playlist(w, rng, "Purchased", rng.sample(track_ids, min(count, max(1, count // 20))),
                   pid=pid(), distinguished=19)
    folder = pid()
    write_playlist(w, rng, "Mixes", [], pid=folder, folder=True)
    for i in range(40):
        size = min(count, int(10 ** rng.uniform(0, 4.3)))
        members = rng.sample(track_ids, size)
        if size > 2 and i % 7 == 0:
            members.append(members[0])  # listed twice
        write_playlist(w, rng, name_of(rng, 3) if i % 5 else rng.choice(NON_ASCII), members, pid=pid(),
                       parent=folder if i % 3 == 0 else None, smart=i % 4 == 1)
    write_playlist(w, rng, "Recently Added", sorted(track_ids[-min(count, 500):], reverse=True), pid=pid(),
                   smart=True)
    write_playlist(w, rng, "Empty", [], pid=pid())
    w.line("\t</array>")
    w.line("</dict>")
    w.line("</plist>")
    w.flush()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("count", type=int, help="number of tracks")
    parser.add_argument("out", help="the XML file to write")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--markup", action="store_true",
                        help="a comment, a processing instruction and an undeclared entity among the tracks")
    args = parser.parse_args(argv)
    if args.count < 0:
        parser.error("the number of tracks cannot be negative")
    with open(args.out, "w", encoding="utf-8", newline="\n") as out:
        generate(args.count, out, args.seed, args.markup)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
