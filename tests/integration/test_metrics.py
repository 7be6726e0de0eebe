"""hoplantern-cli --watch --listen on a real kernel path (tools/netpath), scraped by a real
Prometheus server: the series Prometheus stores for each of two targets equal the agent's
own JSON summary of that target, the exposition passes promtool, and clients that
misbehave are dropped while the rounds keep their pace.

The agent and Prometheus both run in the path's source namespace and listen on its
loopback; the test reaches them from sockets opened inside it (InNamespace).
"""

import http.client
import json
import multiprocessing
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse

from tests.integration.test_trace_paths import AS_NOBODY, CLI, HANG_GUARD, copies_for_nobody, path_for
from tools.netpath import InNamespace, exit_unless_available

AGENT = ("127.0.0.1", 4677)
PROMETHEUS_PORT = 9090
PROMETHEUS = shutil.which("prometheus")
PROMTOOL = shutil.which("promtool")
INTERVAL_S = 0.1
DROP_WITHIN_S = 5  # the agent's request deadline is 3 s
PATH = {"routers": 3, "delay_ms": 1, "forward_drop": {2: 10}}


def load_tests(loader, tests, pattern):
    ok = CLI and os.access(CLI, os.X_OK)
    exit_unless_available(None if ok else "HOPLANTERN_CLI is not a built hoplantern-cli: run this through ctest")
    return tests


def request(path, target: str, port=AGENT[1], method="GET", headers=None) -> tuple[int, dict, bytes]:
    with InNamespace(path.source_ns):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        conn.connect()
    try:
        conn.request(method, target, headers=headers or {})
        response = conn.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        conn.close()


def listening_sockets(pid: int) -> list:
    """The local addresses ("0100007F:1245") of the TCP sockets `pid` listens on."""
    inodes = {os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%d/fd" % pid)}
    found = []
    for table in ("tcp", "tcp6"):
        with open("/proc/%d/net/%s" % (pid, table)) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and "socket:[%s]" % fields[9] in inodes:
                    found.append(fields[1])
    return found


def misbehave(sock, send) -> tuple[float, bool]:
    """How long a client lasted, and whether it was answered 200."""
    start = time.monotonic()
    got = b""
    with sock:
        try:
            send(sock)
            while chunk := sock.recv(4096):
                got += chunk
        except OSError:
            pass
    return time.monotonic() - start, got.startswith(b"HTTP/1.1 200")


def scrape(conn) -> tuple[float, bool]:
    start = time.monotonic()
    conn.request("GET", "/metrics")
    response = conn.getresponse()
    body = response.read()
    conn.close()
    return time.monotonic() - start, response.status == 200 and b"hoplantern_rounds_total" in body


def trickle(sock):
    for byte in b"GET /metrics HTTP/1.1\r\nHost: x\r\n" + b"X-Pad: y\r\n" * 200:
        sock.send(bytes([byte]))
        time.sleep(0.02)


BAD_CLIENTS = {
    "garbage": lambda sock: sock.sendall(bytes(range(256)) * 16),
    "megabyte of headers": lambda sock: sock.sendall(b"GET /metrics HTTP/1.1\r\nX-Big: " + b"a" * (1 << 20)),
    "trickled request": trickle,
}


def run_clients(namespace: str, results):
    """The misbehaving clients and 100 scrapes, all at once, from inside `namespace`."""
    with InNamespace(namespace):
        bad = {name: socket.create_connection(AGENT, timeout=10) for name in BAD_CLIENTS}
        scrapers = [http.client.HTTPConnection(*AGENT, timeout=10) for _ in range(100)]
        for conn in scrapers:
            conn.connect()
    outcomes = {}

    def run(name, client, *args):
        outcomes[name] = client(*args)

    threads = [threading.Thread(target=run, args=(n, misbehave, bad[n], send)) for n, send in BAD_CLIENTS.items()]
    threads += [threading.Thread(target=run, args=("scrape %d" % i, scrape, c)) for i, c in enumerate(scrapers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=HANG_GUARD)
    results.put(outcomes)


class Agent:
    """hoplantern-cli --watch --json --listen, its JSON lines read as they come, with the
    moment each arrived."""

    def __init__(self, path, *args, targets=1):
        self.proc = subprocess.Popen(path.exec_args(CLI, "--watch", "--json", "--interval", str(INTERVAL_S), "-w", "300",
                                                    "-n", *args, path.target),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        self.lines = []  # (monotonic time, object)
        self.targets = targets
        self.summary = threading.Event()  # every target's summary is in
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic(), json.loads(line)))
            if sum(x["type"] == "summary" for _, x in self.lines) == self.targets:
                self.summary.set()

    def wait_listening(self, path):
        deadline = time.monotonic() + 10
        while True:
            try:
                request(path, "/")
                return
            except OSError:
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    raise
                time.sleep(0.05)

    def stop(self) -> int:
        self.proc.send_signal(signal.SIGTERM)
        code = self.proc.wait(timeout=HANG_GUARD)
        self.reader.join(timeout=10)
        self.proc.stdout.close()
        return code


class Listener(unittest.TestCase):
    def test_nothing_listens_without_listen_and_exactly_the_address_given_with_it(self):
        path = path_for(PATH)
        # Port 80: root binds it before giving up its capabilities.
        for args, expected in (((), []), (("--listen", "127.0.0.1:4677"), ["0100007F:1245"]),
                               (("--listen", "127.0.0.1:80"), ["0100007F:0050"])):
            with self.subTest(args=args):
                agent = Agent(path, *args)
                self.addCleanup(agent.proc.kill)
                time.sleep(1)
                self.assertEqual(listening_sockets(agent.proc.pid), expected)  # ip netns exec execs
                if expected:
                    port = int(expected[0].split(":")[1], 16)
                    self.assertEqual(request(path, "/metrics", port=port)[0], 200)
                self.assertEqual(agent.stop(), 0)

    @unittest.skipUnless(shutil.which("setpriv") and shutil.which("setcap"), "needs setpriv and setcap")
    def test_port_below_1024_refused_without_the_privilege_to_bind_it(self):
        path = path_for(PATH)
        for binary in copies_for_nobody(type(self), capable=True):  # CAP_NET_RAW does not bind port 80
            with self.subTest(binary=os.path.basename(binary)):
                done = subprocess.run(path.exec_args(*AS_NOBODY, binary, "--watch", "-n", "--count", "1", "--listen",
                                                     "127.0.0.1:80", path.target),
                                      stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=HANG_GUARD)
                self.assertEqual((done.returncode, done.stdout), (5, ""))
                self.assertIn("hoplantern-cli: cannot listen on 127.0.0.1 port 80: ", done.stderr)

    def test_paths_and_methods(self):
        path = path_for(PATH)
        agent = Agent(path, "--count", "5", "--listen", "%s:%d" % AGENT)
        self.addCleanup(agent.proc.kill)
        agent.wait_listening(path)
        self.assertTrue(agent.summary.wait(HANG_GUARD))
        status, headers, text = request(path, "/metrics")
        self.assertEqual((status, headers["Content-Type"]), (200, "text/plain; version=0.0.4; charset=utf-8"))
        if PROMTOOL:
            checked = subprocess.run([PROMTOOL, "check", "metrics"], input=text, capture_output=True)
            self.assertEqual((checked.returncode, checked.stdout + checked.stderr), (0, b""))
        _, headers, text = request(path, "/metrics", headers={
            "Accept": "application/openmetrics-text;version=1.0.0,text/plain;version=0.0.4;q=0.5"})
        self.assertEqual(headers["Content-Type"], "application/openmetrics-text; version=1.0.0; charset=utf-8")
        self.assertTrue(text.endswith(b"\n# EOF\n"))
        status, _, page = request(path, "/")
        self.assertEqual(status, 200)
        self.assertIn(b'<a href="/metrics">', page)
        self.assertIn(path.target.encode(), page)
        second = subprocess.run(path.exec_args(CLI, "--watch", "-n", "--listen", "%s:%d" % AGENT, path.target),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=HANG_GUARD)
        self.assertEqual((second.returncode, second.stdout), (5, ""))
        self.assertIn("cannot listen on 127.0.0.1 port 4677", second.stderr)
        for method, target, expected in (("GET", "/metrics/x", 404), ("POST", "/metrics", 405), ("PUT", "/", 405),
                                         ("DELETE", "/metrics", 405)):
            status, headers, _ = request(path, target, method=method)
            self.assertEqual((status, headers.get("Allow")), (expected, "GET" if expected == 405 else None), method)
        self.assertEqual(agent.stop(), 0)


@unittest.skipUnless(PROMETHEUS, "needs prometheus (Debian: prometheus)")
class Scraped(unittest.TestCase):
    def setUp(self):
        self.path = path_for(PATH)
        self.dir = tempfile.mkdtemp(prefix="hoplantern-prometheus-")
        self.addCleanup(shutil.rmtree, self.dir)

    def start_prometheus(self):
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                    "scrape_configs:\n"
                    "  - job_name: hoplantern\n"
                    "    static_configs: [{targets: ['%s:%d']}]\n" % AGENT)
        log = open(os.path.join(self.dir, "log"), "w")
        self.addCleanup(log.close)
        proc = subprocess.Popen(self.path.exec_args(PROMETHEUS, "--config.file=" + config, "--storage.tsdb.path="
                                                    + os.path.join(self.dir, "data"), "--web.listen-address=127.0.0.1:%d"
                                                    % PROMETHEUS_PORT, "--log.level=warn"),
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(proc.wait, timeout=HANG_GUARD)
        self.addCleanup(proc.terminate)

    def query(self, expr: str) -> list:
        try:
            status, _, body = request(self.path, "/api/v1/query?" + urllib.parse.urlencode({"query": expr}),
                                  PROMETHEUS_PORT)
        except OSError:
            return []  # not up yet
        doc = json.loads(body)
        self.assertEqual((status, doc["status"]), (200, "success"), doc)
        return doc["data"]["result"]

    def test_series_equal_the_agents_summaries(self):
        # Two targets, the path's and its second router (labelled), in one agent: each
        # target's series equal its own summary.
        rounds = 40
        near = self.path.routers[1].address
        with tempfile.NamedTemporaryFile("w", suffix=".targets", dir=self.dir, delete=False) as f:
            f.write("%s name=near\n" % near)
        agent = Agent(self.path, "--count", str(rounds), "--listen", "%s:%d" % AGENT, "--targets", f.name,
                      targets=2)
        self.addCleanup(agent.proc.kill)
        self.start_prometheus()
        self.assertTrue(agent.summary.wait(HANG_GUARD))
        summaries = {x.get("name", x["target"]): x for _, x in agent.lines if x["type"] == "summary"}
        self.assertEqual(set(summaries), {self.path.target, "near"})
        # The first scrape after the last round has every figure final: nothing moves after it.
        deadline = time.monotonic() + 30
        while [float(r["value"][1]) for r in self.query("hoplantern_rounds_total")] != [rounds] * 2:
            self.assertLess(time.monotonic(), deadline, "Prometheus never saw the last round")
            time.sleep(0.2)

        def by_ttl(expr: str) -> dict:
            return {int(r["metric"]["ttl"]): float(r["value"][1]) for r in self.query(expr)}

        for label, summary in summaries.items():
            with self.subTest(label):
                of = '{target="%s"}' % label
                hops = summary["hops"]
                ttls = [h["ttl"] for h in hops]
                self.assertEqual(ttls, [1, 2, 3, 4] if label == self.path.target else [1, 2])
                sent = by_ttl("sum by (ttl) (hoplantern_hop_probes_sent_total%s)" % of)
                received = by_ttl("sum by (ttl) (hoplantern_hop_probes_received_total%s)" % of)
                self.assertEqual(sent, {h["ttl"]: h["sent"] for h in hops})
                self.assertEqual(received, {h["ttl"]: h["recv"] for h in hops})
                forward = by_ttl("hoplantern_hop_forward_loss_ratio" + of)
                for h in hops:
                    self.assertAlmostEqual(forward[h["ttl"]], h["forward_loss_pct"] / 100, places=3)
                info = {(int(r["metric"]["ttl"]), r["metric"]["hop_ip"])
                        for r in self.query("hoplantern_hop_info" + of)}
                self.assertEqual(info, {(h["ttl"], host["ip"]) for h in hops for host in h["hosts"]})
                self.assertEqual(float(self.query("hoplantern_path_hops" + of)[0]["value"][1]), ttls[-1])
                # p95 from the histogram, within its resolution (buckets double) of the
                # summary's exact p95 of the same answers (40 rounds: all of them).
                p95 = by_ttl("histogram_quantile(0.95, sum by (ttl, le) (hoplantern_hop_rtt_seconds_bucket%s))" % of)
                for h in hops:
                    self.assertTrue(h["p95"] / 2 <= p95[h["ttl"]] * 1000 <= h["p95"] * 2, (h, p95))
        far = summaries[self.path.target]["hops"]
        self.assertTrue(any(h["recv"] < h["sent"] for h in far), "no loss on the path: the comparison shows little")
        targets = request(self.path, "/api/v1/targets", PROMETHEUS_PORT)[2]
        (scraped,) = json.loads(targets)["data"]["activeTargets"]
        self.assertEqual((scraped["health"], scraped["lastError"]), ("up", ""))
        print("\nscrape of %d series: %.2f ms" % (
            float(self.query("scrape_samples_scraped")[0]["value"][1]),
            float(self.query("scrape_duration_seconds")[0]["value"][1]) * 1000))
        self.assertEqual(agent.stop(), 0)


class MisbehavingClients(unittest.TestCase):
    def test_dropped_while_a_hundred_scrapes_are_answered_and_rounds_keep_their_pace(self):
        path = path_for({"routers": 3})  # no loss: each round's line comes a round trip after it left
        rounds = 60
        agent = Agent(path, "--count", str(rounds), "--listen", "%s:%d" % AGENT)
        self.addCleanup(agent.proc.kill)
        agent.wait_listening(path)
        # The clients run in a process of their own: threads of this one would keep the
        # thread that timestamps the agent's lines from the interpreter.
        results = multiprocessing.Queue()
        clients = multiprocessing.Process(target=run_clients, args=(path.source_ns, results))
        time.sleep(1)  # under way, the target known
        clients.start()
        outcomes = results.get(timeout=HANG_GUARD)
        clients.join(timeout=HANG_GUARD)
        for name in BAD_CLIENTS:
            lasted, answered = outcomes[name]
            self.assertFalse(answered, name)
            self.assertLess(lasted, DROP_WITHIN_S, name)
        scrapes = [outcomes["scrape %d" % i] for i in range(100)]
        self.assertEqual([answered for _, answered in scrapes], [True] * 100)
        self.assertTrue(agent.summary.wait(HANG_GUARD))
        self.assertEqual(agent.stop(), 0)
        # Each round's line comes as its probes are answered, a round trip of a millisecond
        # after it left: late by as much as the event loop kept the round waiting. The
        # first round waits out the hop counts past the target, still unknown then, and the
        # last is finished by the watch's timer, not by its answers.
        finished = [(at, x["round"]) for at, x in agent.lines if x["type"] == "round"]
        self.assertEqual([r for _, r in finished], list(range(rounds)))
        offsets = [at - r * INTERVAL_S for at, r in finished[1:-1]]
        late = max(offsets) - min(offsets)
        print("\n100 scrapes: slowest %.1f ms; rounds at most %.1f ms behind their schedule; misbehaving "
              "clients dropped after %s s" % (max(lasted for lasted, _ in scrapes) * 1000, late * 1000,
                                               ", ".join("%.1f" % outcomes[n][0] for n in BAD_CLIENTS)))
        self.assertLess(late, 2 * INTERVAL_S)
