"""The Python walk-through of doc/batches.md, run as written: every output it shows
is the output of its line (doctest)."""

import doctest
import re
import sys

import pytest

from conftest import ROOT


def test_readme_walk_through_gives_the_outputs_it_shows(tmp_path, monkeypatch):
    sys.path.append("/usr/lib/x86_64-linux-gnu")
    psi4 = pytest.importorskip("psi4")
    pytest.importorskip("pandas")
    psi4.core.clean_options()  # as in a fresh interpreter: no options of other tests
    text = (ROOT / "doc" / "batches.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```python\n(>>> .*?)```", text, flags=re.S)
    assert blocks, "doc/batches.md has a Python walk-through"
    monkeypatch.chdir(tmp_path)  # psi4 and the drawing write files here
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for k, block in enumerate(blocks):
        runner.run(parser.get_doctest(block, {}, f"walk-through block {k + 1}", "doc/batches.md", 0))
    result = runner.summarize(verbose=False)
    assert result.failed == 0 and result.attempted > 5
    assert (tmp_path / "water.svg").read_text().startswith("<?xml")
