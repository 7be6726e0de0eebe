"""Real kernel routers in network namespaces, for tracing against.

    from tools.netpath import NetnsPath
    with NetnsPath(routers=4, silent=[2], names=True) as path:
        subprocess.run(path.exec_args("traceroute", "-n", path.target))

Command line: `python3 -m tools.netpath --help` from the repository root.
"""

from .lifetime import FixtureError, namespaces_of  # noqa: F401
from .namespaces import (NETNS_DIR, SKIP_EXIT, InNamespace, exit_unless_available, setns,  # noqa: F401
                         unavailable_reason)
from .path import FixtureUnavailable, NetnsPath  # noqa: F401
