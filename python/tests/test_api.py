"""The package's API against the tools: texts byte for byte as oasys2txt writes them, properties as
oasysinfo --json gives them, one exception per bad input, and threads over many documents."""

import datetime
import json
import os
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import oasysdoc
from conftest import SAMPLES, OASYS2TXT, OASYSINFO, run_tool


@pytest.fixture(autouse=True)
def descriptors_released():
    """A closed document keeps none of its files open."""
    before = len(os.listdir("/proc/self/fd"))
    yield
    assert len(os.listdir("/proc/self/fd")) == before


def open_from(kind: str, path: Path) -> oasysdoc.Document:
    """The document at path, opened by path (str or Path) or from its bytes."""
    if kind != "bytes":
        return oasysdoc.open(str(path) if kind == "str" else path)
    if path.suffix == ".DOC":
        return oasysdoc.open_separated(path.read_bytes(), path.with_suffix(".FMT").read_bytes())
    return oasysdoc.open(path.read_bytes())


@pytest.mark.parametrize("kind, tool_options, options", [
    ("str", [], {}), ("path", ["-enc", "Shift_JIS"], {"encoding": "Shift_JIS"}),
    ("bytes", ["-enc", "UTF-16LE", "--ruled-lines"], {"encoding": "UTF-16LE", "ruled_lines": True}),
    ("bytes", ["--loop-guard"], {"loop_guard": True}),
])
@pytest.mark.parametrize("packaging", SAMPLES)
def test_text_is_the_tools_text(packaging, kind, tool_options, options, tmp_path):
    path = SAMPLES[packaging]
    assert oasysdoc.detect(path) == packaging
    with open_from(kind, path) as document:
        assert document.packaging == packaging and document.password_protected is False
        expected = run_tool(OASYS2TXT, *tool_options, path).stdout
        assert document.text_bytes(**options) == expected
        assert document.text(**options) == expected.decode(options.get("encoding", "utf-8"))
        # Into a file that held more: replaced from its start, by descriptor and by file object
        # (whose buffer is written out first, never over the text afterwards).
        (tmp_path / "text").write_bytes(b"x" * (len(expected) + 100))
        with open(tmp_path / "text", "r+b") as file:
            if kind == "bytes":
                assert document.write_text(file.fileno(), **options) == len(expected)
            else:
                file.write(b"unflushed")
                assert document.write_text(file, **options) == len(expected)
        assert (tmp_path / "text").read_bytes() == expected


@pytest.mark.parametrize("kind", ["path", "bytes"])
@pytest.mark.parametrize("packaging", SAMPLES)
def test_properties_are_oasysinfos(packaging, kind):
    info = json.loads(run_tool(OASYSINFO, "--json", SAMPLES[packaging]).stdout)
    with open_from(kind, SAMPLES[packaging]) as document:
        properties = document.properties
    for key in ("title", "author", "keywords", "category", "comments", "last_author", "document_type",
                "packaging", "password_protected"):
        assert properties[key] == info[key], key
    for key in ("created", "modified"):
        assert properties[key + "_text"] == info[key]["stored"]
        assert properties[key].isoformat(timespec="minutes") == info[key]["iso"]
    assert properties["created"] == datetime.datetime(1998, 12, 31, 23, 59)  # a year 98 is 1998


def test_limit_and_salvage_carry_the_partial_text(archive):
    with oasysdoc.open(SAMPLES["combined"]) as document:
        with pytest.raises(oasysdoc.OutputLimitError) as limit:
            document.text(max_bytes=16)
    assert limit.value.partial == run_tool(OASYS2TXT, "--max-bytes", "16", SAMPLES["combined"]).stdout.decode()
    with oasysdoc.open(archive / "cut.oas") as document:
        with pytest.raises(oasysdoc.BrokenDocumentError) as broken:
            document.text_bytes()
    assert broken.value.partial == run_tool(OASYS2TXT, archive / "cut.oas").stdout != b""
    assert broken.value.code == 3000 and broken.value.outcome == "broken"


@pytest.mark.parametrize("source, options, error", [
    (SAMPLES["combined"], {"max_bytes": 16}, oasysdoc.OutputLimitError),
    ("cut.oas", {}, oasysdoc.BrokenDocumentError),
    ("cut.oas", {"strict": True}, oasysdoc.BrokenDocumentError),
    ("blank.oas", {}, oasysdoc.NoTextError),
    ("part1/secret.DOC", {}, oasysdoc.PasswordProtectedError),
])
def test_a_file_keeps_what_the_error_carries(archive, tmp_path, source, options, error):
    with oasysdoc.open(archive / source) as document:
        with pytest.raises(error) as partial:
            document.text_bytes(**options)
        (tmp_path / "text").write_bytes(b"an older text")
        with open(tmp_path / "text", "r+b") as file, pytest.raises(error) as written:
            document.write_text(file, **options)
    kept = partial.value.partial or b""
    assert (tmp_path / "text").read_bytes() == kept and written.value.written == len(kept)
    assert (written.value.code, written.value.message) == (partial.value.code, partial.value.message)


def fifo(tmp_path: Path) -> Path:
    os.mkfifo(tmp_path / "pipe.oas")
    return tmp_path / "pipe.oas"


def no_oasys(tmp_path: Path) -> Path:
    (tmp_path / "notes.oas").write_bytes(b"plain text, no OASYS document\n")
    return tmp_path / "notes.oas"


def text_of(source, packaging="auto", **options):
    with oasysdoc.open(source, packaging) as document:
        return document.text(**options)


def closed_text(archive):
    document = oasysdoc.open(SAMPLES["combined"])
    document.close()
    return document.text()


COMBINED, COMPOUND = SAMPLES["combined"], SAMPLES["compound"]
# (case, call given the archive folder and a fresh tmp folder, the exception's name in oasysdoc, words of its message)
BAD_INPUTS = [
    ("missing path", lambda a, t: text_of(t / "missing.oas"), "UnreadableError", "No such file"),
    ("folder", lambda a, t: text_of(t), "UnreadableError", "is a directory"),
    ("pipe", lambda a, t: text_of(fifo(t)), "UnreadableError", "regular file"),
    ("separated, no format file", lambda a, t: text_of(a / "orphan.DOC"), "UnreadableError", "orphan.FMT is missing"),
    ("no OASYS file", lambda a, t: text_of(no_oasys(t)), "NotOasysError", "not an OASYS"),
    ("no OASYS bytes", lambda a, t: text_of(b"\x00" * 64), "NotOasysError", "not an OASYS"),
    ("truncated combined", lambda a, t: text_of(COMBINED.read_bytes()[:40]), "BrokenDocumentError", "broken"),
    ("truncated compound", lambda a, t: text_of(COMPOUND.read_bytes()[:2560]), "BrokenDocumentError", "compound file"),
    ("password", lambda a, t: text_of(a / "part1" / "secret.DOC"), "PasswordProtectedError", "password"),
    ("no text", lambda a, t: text_of(a / "blank.oas"), "NoTextError", "no visible text"),
    ("max_bytes 0", lambda a, t: text_of(COMBINED, max_bytes=0), "BadArgumentError", "max_bytes"),
    ("max_bytes negative", lambda a, t: text_of(COMBINED, max_bytes=-5), "BadArgumentError", "max_bytes"),
    ("unknown encoding", lambda a, t: text_of(COMBINED, encoding="KLINGON-8"), "UnknownEncodingError", "KLINGON-8"),
    ("NUL in the path", lambda a, t: text_of(str(COMBINED) + "\0.txt"), "BadArgumentError", "NUL"),
    ("unknown packaging", lambda a, t: oasysdoc.open(COMBINED, packaging="zip"), "BadArgumentError", "zip"),
    ("packaging forced wrong", lambda a, t: text_of(COMPOUND, "combined"), "BrokenDocumentError", "broken"),
    ("closed document", lambda a, t: closed_text(a), "BadArgumentError", "closed"),
    ("text into a file read only", lambda a, t: text_into(t, "rb"), "BadArgumentError", "open for writing"),
    ("text into a file appended to", lambda a, t: text_into(t, "ab"), "BadArgumentError", "not for appending"),
    ("text into a pipe", lambda a, t: text_into_pipe(), "BadArgumentError", "regular file"),
    ("text into a closed document", lambda a, t: text_into(t, "r+b", closed=True), "BadArgumentError", "closed"),
]


def text_into(folder: Path, mode: str, closed: bool = False):
    """write_text into a file opened with mode, which must stay as it was."""
    (folder / "text").write_bytes(b"kept")
    try:
        with oasysdoc.open(COMBINED) as document, open(folder / "text", mode) as file:
            if closed:
                document.close()
            document.write_text(file)
    finally:
        assert (folder / "text").read_bytes() == b"kept"


def text_into_pipe():
    read, write = os.pipe()
    try:
        with oasysdoc.open(COMBINED) as document:
            document.write_text(write)
    finally:
        os.close(read)
        os.close(write)


@pytest.mark.parametrize("call, error, words", [c[1:] for c in BAD_INPUTS], ids=[c[0] for c in BAD_INPUTS])
def test_bad_input_raises_its_own_error(archive, tmp_path, call, error, words):
    with pytest.raises(getattr(oasysdoc, error)) as raised:
        call(archive, tmp_path)
    assert words in str(raised.value) and raised.value.message
    assert isinstance(raised.value.status, int) and isinstance(raised.value.code, int)
    # the host counters are checked after every test (conftest)


def test_write_text_takes_a_descriptor_or_a_file_object(tmp_path):
    with oasysdoc.open(COMBINED) as document, pytest.raises(TypeError, match="fileno"):
        document.write_text(str(tmp_path / "text"))


def test_detect_names_the_packaging_or_raises(archive, tmp_path):
    assert [oasysdoc.detect(archive / n) for n in ("doc000.DOC", "doc000.FMT", "doc004.oas", "doc002.ole")] == [
        "separated", "separated", "combined", "compound"]
    with pytest.raises(oasysdoc.NotOasysError) as raised:
        oasysdoc.detect(archive / "readme.txt")
    assert raised.value.path == str(archive / "readme.txt")


def test_four_threads_give_the_texts_of_one(archive):
    paths = sorted(p for p in archive.rglob("doc*") if p.suffix in (".DOC", ".oas", ".ole"))[:200]
    assert len(paths) == 200
    with ThreadPoolExecutor(1) as one, ThreadPoolExecutor(4) as four:
        assert list(four.map(text_of, paths)) == list(one.map(text_of, paths))
    # one document shared by threads: calls wait for each other
    with oasysdoc.open(paths[0]) as shared, ThreadPoolExecutor(4) as four:
        assert len(set(four.map(lambda _: shared.text(), range(16)))) == 1
