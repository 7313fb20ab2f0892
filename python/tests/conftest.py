"""Shared fixtures: the tools and the document generator of the build (from ctest's environment),
the bundled samples, one archive of generated documents per session, and the host's counters."""

import json
import os
import subprocess
from pathlib import Path

import pytest

import oasysdoc

OASYS2TXT, OASYSINFO = os.environ["OASYS2TXT"], os.environ["OASYSINFO"]
EXAMPLES = Path(os.environ["OASYS_EXAMPLES"])
SAMPLES = {"separated": EXAMPLES / "sample_separated.DOC", "combined": EXAMPLES / "sample_combined.oas",
           "compound": EXAMPLES / "sample_compound.oas"}
GOOD_DOCUMENTS = 300  # and seven special ones (see make_documents)


def run_tool(*args) -> subprocess.CompletedProcess:
    return subprocess.run([str(a) for a in args], capture_output=True, check=False)


def tool_report(path: Path) -> dict:
    """oasys2txt's report lines by path."""
    return {line["path"]: line for line in map(json.loads, path.read_text("utf-8").splitlines())}


@pytest.fixture(scope="session")
def archive(tmp_path_factory) -> Path:
    folder = tmp_path_factory.mktemp("archive")
    subprocess.run([os.environ["OASYS_MAKE_DOCUMENTS"], folder, str(GOOD_DOCUMENTS)], check=True)
    return folder


@pytest.fixture(autouse=True)
def host_counters_back_to_zero():
    """Every test leaves no handle or block of the host library open."""
    yield
    assert all(v == 0 for v in oasysdoc._oasysdoc._host_counters().values()), oasysdoc._oasysdoc._host_counters()
