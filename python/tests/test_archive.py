"""Archive runs on a local Dask cluster of two worker processes: the tree and the report of
oasys2txt -r -o over the same archive, also when a worker process dies in the middle of the run,
and the command joining a running scheduler."""

import logging
import os
import signal
import subprocess
import sys
from pathlib import Path

import cloudpickle
import pytest
from distributed import Client, LocalCluster
from distributed.diagnostics.plugin import WorkerPlugin

import oasysdoc
from conftest import GOOD_DOCUMENTS, OASYS2TXT, run_tool, tool_report
from oasysdoc.archive import extract_archive

# The plugin below travels to the worker processes by value: they cannot import this file.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

SPECIAL_OUTCOMES = {"password": 1, "no-text": 1, "broken": 2, "unreadable": 1}  # readme.txt: none


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None,
                      local_directory=str(tmp_path_factory.mktemp("dask")), silence_logs=logging.ERROR) as cluster:
        with Client(cluster) as client:
            yield client


@pytest.fixture(scope="module")
def tool_run(archive, tmp_path_factory):
    """oasys2txt -r -o over the archive: its text files by relative path, and its report."""
    folder = tmp_path_factory.mktemp("tool")
    run_tool(OASYS2TXT, "-q", "-r", "-o", folder / "out", "--report", folder / "report.jsonl", archive)
    return tree(folder / "out"), tool_report(folder / "report.jsonl")


def tree(root: Path) -> dict:
    return {str(p.relative_to(root)): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def expect_the_tools_run(out: Path, report: Path, tool_run):
    texts, lines = tool_run
    assert len(texts) == GOOD_DOCUMENTS + 4  # cut.oas (salvaged), 日本.oas, latin1-\xe9.oas, LLL...L.oas
    assert tree(out) == texts
    ours = tool_report(report)
    assert len(report.read_text("utf-8").splitlines()) == len(ours) == len(lines) == GOOD_DOCUMENTS + 8
    for path, line in lines.items():
        assert {k: ours[path].get(k) for k in ("path_hex", "packaging", "code", "outcome", "bytes")} == {
            k: line.get(k) for k in ("path_hex", "packaging", "code", "outcome", "bytes")}, path
        assert (ours[path]["reason"] is None) == (line["reason"] is None), path


def test_archive_run_writes_what_oasys2txt_writes(archive, client, tool_run, tmp_path):
    summary = extract_archive([archive], tmp_path / "out", client=client, report=tmp_path / "report.jsonl")
    expect_the_tools_run(tmp_path / "out", tmp_path / "report.jsonl", tool_run)
    expected = dict(SPECIAL_OUTCOMES, ok=GOOD_DOCUMENTS + 3)
    assert summary.outcomes == expected and summary.status == oasysdoc.UNREADABLE
    assert str(summary).startswith(f"{GOOD_DOCUMENTS + 8} documents: {GOOD_DOCUMENTS + 3} ok, 1 no-text")


class KillOnce(WorkerPlugin):
    """Kills the worker process that starts its `after`-th task, once in the whole cluster."""

    def __init__(self, marker: str, after: int):
        self.marker, self.after, self.started = marker, after, 0

    def transition(self, key, start, finish, **kwargs):
        if finish != "executing":
            return
        self.started += 1
        if self.started == self.after and not os.path.exists(self.marker):
            with open(self.marker, "x"):
                pass
            os.kill(os.getpid(), signal.SIGKILL)


def test_a_killed_worker_loses_no_document(archive, client, tool_run, tmp_path):
    marker = tmp_path / "killed"
    # A task is 16 documents, a worker runs about 10 of the run's 20 tasks: the 4th is mid-run.
    client.register_worker_plugin(KillOnce(str(marker), after=4), name="kill-once")
    try:
        extract_archive(archive, tmp_path / "out", client=client, report=tmp_path / "report.jsonl")
    finally:
        client.unregister_worker_plugin("kill-once")
    assert marker.exists(), "a worker was killed in the middle of the run"
    expect_the_tools_run(tmp_path / "out", tmp_path / "report.jsonl", tool_run)


def test_command_joins_a_running_scheduler(archive, client, tmp_path):
    # A folder named relative to the command's own folder, which the workers do not share.
    run = subprocess.run([sys.executable, "-m", "oasysdoc.archive", "--scheduler", client.scheduler.address,
                          "-o", tmp_path / "out", "--report", tmp_path / "r.jsonl", "part1"],
                         cwd=archive, capture_output=True, text=True, check=False)
    assert run.returncode == oasysdoc.PASSWORD, run.stderr
    assert tool_report(tmp_path / "r.jsonl")["part1/secret.DOC"]["outcome"] == "password"
    assert f": {GOOD_DOCUMENTS // 2 + 1} documents: {GOOD_DOCUMENTS // 2} ok, 1 password\n" in run.stderr
    assert (tmp_path / "out" / "doc001.oas.txt").read_bytes() == run_tool(OASYS2TXT, archive / "part1/doc001.oas").stdout


@pytest.mark.parametrize("arguments, error", [
    ({"encoding": "KLINGON-8"}, oasysdoc.UnknownEncodingError),
    ({"inputs": "OUT/inner"}, oasysdoc.BadArgumentError),
    ({"batch": 0}, oasysdoc.BadArgumentError),
])
def test_bad_run_arguments_are_refused_before_any_work(tmp_path, arguments, error):
    (tmp_path / "OUT" / "inner").mkdir(parents=True)
    arguments = dict(arguments)
    inputs = tmp_path / arguments.pop("inputs", "")
    with pytest.raises(error):
        extract_archive(inputs, tmp_path / "OUT", client=object(), **arguments)
    assert list((tmp_path / "OUT").rglob("*.txt")) == []
