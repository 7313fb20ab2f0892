"""Archive runs: the text of every document under some folders, one task per few documents on a
Dask cluster (``dask.distributed``), with the tree, the names and the report of ``oasys2txt -o``.

    from oasysdoc.archive import extract_archive
    summary = extract_archive(["archive/"], "texts/", report="run.jsonl")
    print(summary)            # 212 documents: 210 ok, 1 no-text, 1 password

Without a client a local cluster of worker processes is started (one per core). Given a client
of a cluster on several machines, every worker must see the documents and ``out_dir`` under the
same paths (a shared file system): workers read the documents and write the texts themselves;
the client walks the folders and writes the report. A task whose worker dies is run again by
Dask; a document's own failure is its report line, never a retry.

As a command: ``python3 -m oasysdoc.archive [--scheduler ADDRESS] [-j N] -o OUT [--report FILE]
DIR...``.
"""

from __future__ import annotations

import argparse
import collections
import contextlib
import dataclasses
import json
import logging
import os
import secrets
import sys
import time
from typing import BinaryIO, Callable, Iterable, Iterator, Optional, Sequence, Union

import oasysdoc
from oasysdoc import _oasysdoc

__all__ = ["extract_archive", "Summary"]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

TEXT_SUFFIX = b".txt"
# Documents per task: a task costs the scheduler about a millisecond, more than a small document
# takes to extract (python/bench/bench_archive.py: with one document a task a run on two workers
# took 4.3 times as long as oasys2txt -j 2, with 16 a third of it).
BATCH = 16


@dataclasses.dataclass(frozen=True)
class Job:
    """One document of the run, as every worker reaches it."""
    source: bytes                # its path; absolute once collected, as workers may stand elsewhere
    relative: bytes              # beneath its argument: names its text file
    candidate: bool = False      # found in a folder by no name of a member: a document only if OASYS
    blocked: Optional[tuple] = None  # (status, reason) found before the run: no work to do
    shown: bytes = b""           # the path as found from the argument given: the report's


@dataclasses.dataclass
class Summary:
    """The outcome of a run: one report line (a dict of oasys2txt's report fields) per document."""
    lines: list

    @property
    def outcomes(self) -> dict:
        """How many documents had each outcome ("ok", "broken", ...)."""
        return dict(collections.Counter(line["outcome"] for line in self.lines))

    @property
    def status(self) -> int:
        """The most severe outcome's status, as the exit status of oasys2txt."""
        return max((line["status"] for line in self.lines), default=oasysdoc.OK)

    def __str__(self) -> str:
        counts = collections.Counter((line["status"], line["outcome"]) for line in self.lines)
        words = ", ".join(f"{n} {outcome}" for (_, outcome), n in sorted(counts.items()))
        return f"{len(self.lines)} document{'' if len(self.lines) == 1 else 's'}: {words}"


# ---- Collecting the documents (on the client) ----------------------------------------------------

def _walk(folder: bytes, relative: bytes, recursive: bool, skip: set) -> Iterator[Job]:
    """The documents and candidates of a folder in name order, as oasys2txt finds them: links to
    folders are not followed, the run's output folder is not entered, only regular files count,
    and what cannot be read is found too, with its reason."""
    try:
        with os.scandir(folder) as listing:
            entries = sorted(listing, key=lambda e: e.name)
    except OSError as error:
        yield Job(folder, relative, blocked=(oasysdoc.UNREADABLE, f"the folder cannot be read: {error.strerror}"))
        return
    for entry in entries:
        inner = os.path.join(relative, entry.name) if relative else entry.name
        try:
            if entry.is_dir(follow_symlinks=False):
                if recursive and _identity(entry.path) not in skip:
                    yield from _walk(entry.path, inner, recursive, skip)
                continue
            if not entry.is_file():
                continue
        except OSError as error:
            yield Job(entry.path, inner, blocked=(oasysdoc.UNREADABLE, f"cannot be read: {error.strerror}"))
            continue
        role = _oasysdoc.name_role(entry.name)
        if role != _oasysdoc.NAME_MEMBER:
            yield Job(entry.path, inner, candidate=role == _oasysdoc.NAME_OTHER)


def _identity(path: bytes) -> tuple:
    status = os.stat(path)
    return status.st_dev, status.st_ino


def _output_of(relative: bytes) -> bytes:
    """The text file's path beneath the output folder: oasys2txt's (and liboasys's) naming rule."""
    folder, name = os.path.split(relative)
    return os.path.join(folder, _oasysdoc.output_name(name, TEXT_SUFFIX))


def collect_jobs(inputs: Iterable[PathLike], out_dir: PathLike, recursive: bool = True) -> list:
    """Every document of the run: files as given, folders walked. Two documents that would write
    the same text file: the second is an output error."""
    out = os.fsencode(out_dir)
    skip = {_identity(out)}
    jobs, taken = [], set()
    for argument in map(os.fsencode, inputs):
        if _is_within(argument, out):
            raise oasysdoc.BadArgumentError(f"{os.fsdecode(argument)} lies in the output folder; it is not read as input",
                                            oasysdoc.BAD_ARGUMENT)
        found = (_walk(argument, b"", recursive, skip) if os.path.isdir(argument)
                 else [Job(argument, os.path.basename(argument))])
        for job in found:
            job = dataclasses.replace(job, source=os.path.abspath(job.source), shown=job.source)
            key = os.path.normpath(_output_of(job.relative))
            if not job.blocked and key in taken:
                job = dataclasses.replace(job, blocked=(
                    oasysdoc.OUTPUT_ERROR, f"its text file {os.fsdecode(key)} is already written for another document"))
            taken.add(key)
            jobs.append(job)
    return jobs


def _is_within(path: bytes, folder: bytes) -> bool:
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([path, folder]) == folder


# ---- One document (on a worker) ----------------------------------------------------------------

def _write_new_file(path: bytes, fill: Callable[[BinaryIO], bool]) -> bool:
    """Fills a new file beside path (permissions 0666 narrowed by the umask) and renames it over
    path when ``fill`` answers that it is to be kept; otherwise, and after any failure, nothing of
    it stays. Whether the file was kept."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    # Not named after the file: a name may already be as long as a name can be. Readable too: the
    # filter may read back what it wrote.
    temporary = os.path.join(folder, b".oasysdoc-%s.part" % secrets.token_hex(8).encode())
    descriptor = os.open(temporary, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
    try:
        with os.fdopen(descriptor, "wb") as file:
            keep = fill(file)
        if keep:
            os.replace(temporary, path)
            return True
    except BaseException:
        os.unlink(temporary)
        raise
    os.unlink(temporary)
    return False


def _write_text(path: bytes, text: bytes) -> None:
    def fill(file: BinaryIO) -> bool:
        file.write(text)
        return True

    _write_new_file(path, fill)


class _TextInto:
    """Fills a text file from a document, as _write_new_file asks: the filter writes straight into
    the file, so a large text never passes through the worker's memory. A partial text (a limit
    reached, a damaged document) is kept, as oasys2txt keeps it."""

    def __init__(self, document: oasysdoc.Document, encoding: str):
        self.document, self.encoding = document, encoding
        self.written, self.code, self.error = 0, None, None

    def __call__(self, file: BinaryIO) -> bool:
        try:
            self.written, self.code = self.document.write_text(file, self.encoding), 0
        except oasysdoc.Error as error:
            self.written, self.code, self.error = error.written, error.code or None, error
        return self.error is None or self.written > 0


def _shown(path: bytes) -> dict:
    """The path fields of a report line: "path", and "path_hex" for a name that is no UTF-8."""
    try:
        return {"path": path.decode("utf-8")}
    except UnicodeDecodeError:
        return {"path": path.decode("utf-8", "replace"), "path_hex": path.hex()}


def extract_document(job: Job, out_dir: bytes, encoding: str) -> Optional[dict]:
    """Extracts one document into its text file under out_dir; its report line, or None for a
    candidate that is no OASYS document. Never raises for the document's own failure."""
    started = time.monotonic()
    line = {**_shown(job.shown or job.source), "packaging": None, "code": None, "outcome": "ok", "reason": None, "bytes": None}

    def finish(status: int, reason: Optional[str] = None) -> dict:
        line.update(outcome=_oasysdoc.status_name(status), reason=reason,
                    ms=int((time.monotonic() - started) * 1000), status=status)
        return line

    if job.blocked:
        return finish(*job.blocked)
    try:
        document = oasysdoc.open(os.fsdecode(job.source))
    except oasysdoc.Error as error:
        if job.candidate and error.status == oasysdoc.NOT_OASYS:
            return None
        line["packaging"] = error.packaging
        return finish(error.status, error.message)
    text = _TextInto(document, encoding)
    with document:
        line["packaging"] = document.packaging
        try:
            kept = _write_new_file(os.path.join(out_dir, _output_of(job.relative)), text)
        except OSError as error:
            line["code"] = text.code
            return finish(oasysdoc.OUTPUT_ERROR, f"cannot write the text of {os.fsdecode(job.shown)}: {error}")
    line["code"], line["bytes"] = text.code, text.written if kept else 0
    return finish(text.error.status, text.error.message) if text.error else finish(oasysdoc.OK)


def extract_batch(jobs: Sequence[Job], out_dir: bytes, encoding: str) -> list:
    """extract_document over a few documents: one task of the cluster."""
    return [extract_document(job, out_dir, encoding) for job in jobs]


# ---- The run (on the client) -----------------------------------------------------------------------

def _report_line(line: dict) -> str:
    fields = {k: v for k, v in line.items() if k != "status"}
    return json.dumps(fields, ensure_ascii=False, separators=(",", ":")) + "\n"


def _write_report(path: PathLike, lines: Sequence[dict]) -> None:
    target = os.path.abspath(os.fsencode(path))
    _write_text(target, "".join(map(_report_line, lines)).encode("utf-8"))


@contextlib.contextmanager
def local_client(workers: Optional[int] = None):
    """A client of a new cluster of worker processes on this machine, one thread each (the module
    releases the interpreter lock, but processes also keep a crash to one worker); no dashboard."""
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        yield client


def extract_archive(inputs: Union[PathLike, Iterable[PathLike]], out_dir: PathLike, *, client=None,
                    encoding: str = "utf-8", recursive: bool = True, report: Optional[PathLike] = None,
                    progress: Optional[bool] = None, batch: int = BATCH) -> Summary:
    """Extracts every document of inputs (documents and folders) into out_dir, one task per batch
    of documents on the Dask client's cluster (a local one when client is None), with oasys2txt's
    tree and names (``<relative path>.txt``). report: a JSON Lines file with oasys2txt's report
    fields (path, path_hex, packaging, code, outcome, reason, bytes, ms). progress: Dask's
    progress bar (default: when standard output is a terminal). batch: documents per task."""
    if not _oasysdoc.charset_usable(encoding):
        raise oasysdoc.UnknownEncodingError(f"unknown encoding {encoding!r}", oasysdoc.BAD_ARGUMENT)
    if not isinstance(batch, int) or batch < 1:
        raise oasysdoc.BadArgumentError(f"batch must be a whole number of at least 1, not {batch!r}",
                                        oasysdoc.BAD_ARGUMENT)
    if isinstance(inputs, (str, bytes, os.PathLike)):
        inputs = [inputs]
    out = os.path.abspath(os.fsencode(out_dir))
    os.makedirs(out, exist_ok=True)
    jobs = collect_jobs(inputs, out, recursive)
    with contextlib.nullcontext(client) if client is not None else local_client() as client:
        batches = [jobs[at:at + batch] for at in range(0, len(jobs), batch)]
        futures = client.map(extract_batch, batches, out_dir=out, encoding=encoding, pure=False)
        if progress if progress is not None else sys.stdout.isatty():
            from distributed import progress as show_progress
            show_progress(futures)
        lines = [line for lines in client.gather(futures) for line in lines if line is not None]
    if report is not None:
        _write_report(report, lines)
    return Summary(lines)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m oasysdoc.archive",
                                     description="The text of every OASYS document under the folders, "
                                                 "on a Dask cluster, as oasys2txt -r -o OUT writes it.")
    parser.add_argument("inputs", nargs="+", metavar="DIR", help="folders (or documents)")
    parser.add_argument("-o", dest="out", required=True, metavar="OUT", help="the folder of the text files")
    parser.add_argument("--report", metavar="FILE", help="one JSON line per document")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler (tcp://host:8786)")
    parser.add_argument("-j", type=int, metavar="N", help="worker processes of the local cluster (default: cores)")
    parser.add_argument("-enc", "--encoding", default="UTF-8", metavar="NAME", help="output charset")
    parser.add_argument("--batch", type=int, default=BATCH, metavar="N", help=f"documents per task (default {BATCH})")
    parser.add_argument("--no-recursive", dest="recursive", action="store_false", help="no subfolders")
    options = parser.parse_args(argv)
    if (options.j is not None and options.j < 1) or options.batch < 1:
        parser.error("-j and --batch need a number of at least 1")
    from distributed import Client
    try:
        with Client(options.scheduler) if options.scheduler else local_client(options.j) as client:
            summary = extract_archive(options.inputs, options.out, client=client, encoding=options.encoding,
                                      recursive=options.recursive, report=options.report, batch=options.batch)
    except oasysdoc.Error as error:
        print(f"{parser.prog}: {error}", file=sys.stderr)
        return error.status
    for line in summary.lines:
        if line["outcome"] != "ok":
            print(f"{parser.prog}: {line['path']}: {line['reason']}", file=sys.stderr)
    print(f"{parser.prog}: {summary}", file=sys.stderr)
    return summary.status


if __name__ == "__main__":
    # Run as a command, this file is __main__: the tasks go out under the importable module's name.
    from oasysdoc.archive import main as archive_main
    sys.exit(archive_main())
