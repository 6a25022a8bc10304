"""The package against the public header: the same exports, result texts and
settings-block rules (the header's helpers are compiled and run)."""
from __future__ import annotations

import re
import shutil
import subprocess

import pytest

import pq640
from pq640 import _library
from pq640.values import SYSTEM_DATA_RULES

from conftest import HEADER

PROGRAM = r"""
#include <stdio.h>
#include "pq640/pq640.h"
int main(void) {
  int code, i;
  for (code = -300; code <= 300; ++code) printf("%d\t%s\n", code, PQ640_ResultText(code));
  for (i = 0; i < PQ640_SYSTEM_DATA_RULE_COUNT; ++i) {
    const PQ640_SystemDataRule* r = &PQ640_SystemDataRules()[i];
    printf("rule\t%u %u %u %u %u\n", r->offset, r->width, r->limit_offset, r->low, r->high);
  }
  return 0;
}
"""


def test_every_export_is_declared_and_present() -> None:
    exported = re.findall(r"PQ640_API PQ640_ResultCode PQ640_CALL (PQ640_\w+)\(",
                          HEADER.read_text())
    assert len(exported) == 44
    assert sorted(exported) == sorted(_library.PROTOTYPES)
    library = _library.load()
    for name in exported:
        assert getattr(library, name).argtypes is not None, name


@pytest.fixture(scope="module")
def header_output(tmp_path_factory: pytest.TempPathFactory) -> str:
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the header's helpers with")
    work = tmp_path_factory.mktemp("header")
    (work / "texts.c").write_text(PROGRAM)
    subprocess.run([compiler, "-std=c99", "-I", str(HEADER.parents[1]), "-o",
                    str(work / "texts"), str(work / "texts.c")], check=True, timeout=60)
    return subprocess.run([str(work / "texts")], check=True, capture_output=True, text=True,
                          timeout=10).stdout


def test_result_texts_match_the_header(header_output: str) -> None:
    texts = dict(line.split("\t") for line in header_output.splitlines()
                 if not line.startswith("rule"))
    assert len(texts) == 601
    for code, text in texts.items():
        assert pq640.result_text(int(code)) == text, code


def test_settings_rules_match_the_header(header_output: str) -> None:
    rules = [tuple(int(v) for v in line.split("\t")[1].split())
             for line in header_output.splitlines() if line.startswith("rule")]
    ours = [(o, w, 0xFF if limit is None else limit, low, high)
            for o, w, limit, low, high in SYSTEM_DATA_RULES]
    assert rules == ours
