import sys
import pathlib

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from harness import Workspace  # noqa: E402


@pytest.fixture
def workspace(tmp_path):
    return Workspace(tmp_path)
