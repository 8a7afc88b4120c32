"""The examples in the docstrings run, and help() reads like numpy's."""

import doctest
import pydoc

import tamlib
from tamlib import _resampler, _stream


def test_docstring_examples_run():
    for module in (_resampler, _stream):
        failed, attempted = doctest.testmod(module, optionflags=doctest.NORMALIZE_WHITESPACE)
        assert attempted > 0 and failed == 0, module.__name__


def test_help_shows_signature_and_numpy_sections():
    text = pydoc.render_doc(tamlib.resample, renderer=pydoc.plaintext)
    assert "resample(data: 'Data', rate: 'float', method: 'str' = 'linear'" in text
    for section in ("Parameters\n", "Returns\n", "Raises\n", "Examples\n"):
        assert section in text
    assert "Parameters\n" in pydoc.render_doc(tamlib.Resampler, renderer=pydoc.plaintext)
