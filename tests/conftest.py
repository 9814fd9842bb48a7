import pytest

import brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime


@pytest.fixture
def runtime():
    return ZeZuvoRuntime()
