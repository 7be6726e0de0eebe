#!/usr/bin/env python3
"""Traces a real router path through the window.

    netns_window_test.py TEST_BINARY NETNS_PATH_PY [--FIXTURE-OPTION=VALUE...] FUNCTION[@nobody]...

Builds a path of kernel routers with the namespace fixture (given the options that begin
with --, e.g. --forward-drop=2:50), runs the window test binary once per FUNCTION (as
nobody for FUNCTION@nobody) inside the path's source namespace (the fixture's JSON in
NETNS_PATH_JSON), and removes the path whatever happens. A name server that answers
2 s late runs in the source namespace and knows one name, slow.path.test (the target);
every other name comes from the path's hosts file.  Exits 77, which ctest reads
as "skipped", where the path cannot be built (not root, no usable `ip netns`).
"""

import json
import os
import subprocess
import sys

SKIP = 77
ROUTERS = "3"
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    binary, fixture = argv[1], argv[2]
    options = [a for a in argv[3:] if a.startswith("--")]
    functions = [a for a in argv[3:] if not a.startswith("--")]
    if os.geteuid() != 0:
        print("skipped: building router namespaces and reading ICMP answers need root")
        return SKIP

    up = subprocess.run([sys.executable, fixture, "up", "--routers", ROUTERS, "--names", "--json", *options],
                        capture_output=True, text=True)
    if up.returncode == SKIP:
        print("skipped: %s" % up.stderr.strip())
        return SKIP
    if up.returncode != 0:
        print("cannot build the router path: %s" % up.stderr.strip(), file=sys.stderr)
        return 1
    path = json.loads(up.stdout)
    dns = None
    try:
        with open(os.path.join("/etc/netns", path["source_ns"], "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\noptions timeout:5 attempts:1\n")
        slow_dns = os.path.join(os.path.dirname(os.path.abspath(fixture)), "slow_dns.py")
        dns = subprocess.Popen(["ip", "netns", "exec", path["source_ns"], sys.executable, slow_dns, "--delay", "2",
                                "--name", "slow.path.test=" + path["target"]])
        env = dict(os.environ, NETNS_PATH_JSON=json.dumps(path))
        env.setdefault("QT_QPA_PLATFORM", "offscreen")
        status = 0
        for function in functions:
            name, _, user = function.partition("@")
            prefix = AS_NOBODY if user == "nobody" else []
            rc = subprocess.call(["ip", "netns", "exec", path["source_ns"], *prefix, binary, name], env=env)
            if rc != 0:
                print("%s failed (exit %d)" % (function, rc), file=sys.stderr)
                status = 1
        return status
    finally:
        if dns:
            dns.kill()
            dns.wait()
        subprocess.run(path["down"], check=False)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
