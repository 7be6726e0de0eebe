"""Real kernel routers in network namespaces, for tracing against.

    from tools.netpath import NetnsPath
    with NetnsPath(routers=4, silent=[2], names=True) as path:
        subprocess.run(path.exec_args("traceroute", "-n", path.target))

Command line: `python3 -m tools.netpath --help` from the repository root.
"""

from .lifetime import FixtureError, namespaces_of, remove_handle, remove_stale, all_handles  # noqa: F401
from .namespaces import (InNamespace, exit_unless_available, icmp_checksum, read_sysctl,  # noqa: F401
                         setns, unavailable_reason, NETNS_DIR, SKIP_EXIT)
from .path import FixtureUnavailable, NetnsPath, find_delay_link  # noqa: F401
