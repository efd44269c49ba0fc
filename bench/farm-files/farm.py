#!/usr/bin/env python3
"""A kvhost serve farm under load: serve processes sharing their state in one
database, HAProxy round-robin in front (bench/farm-files/haproxy.cfg), 8
keep-alive clients x 500 mixed requests while a serve process is killed, a
serve process is stopped and, on PostgreSQL, the database server restarts.
Run by bench/farm; prints counts and exits non-zero when one is off. Every
process it starts it also stops. With --single (bench/serve-load) the same
load goes straight to one serve process that nothing stops.

  farm.py KVHOST ENGINE WORKDIR [--single]   ENGINE: postgres (KV_TEST_PG
                                             names the cluster; 3 processes)
                                             or sqlite (2)
"""
import http.client
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

CLIENTS = int(os.environ.get("KV_FARM_CLIENTS", "8"))
REQUESTS = int(os.environ.get("KV_FARM_REQUESTS", "500"))
INCREMENTS = int(os.environ.get("KV_FARM_INCREMENTS", "1000"))
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

PAGES = {
    "token.asp": "<%= Session.Token %>",
    "list.asp": """<% var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
var total = list.Init(Session, "SELECT lid, strno FROM krorder", "ORDER BY lid DESC", 0, true);
for (var row = 0; row < 10 && !list.IsEOF; row++) { %><%= list.Value("strno") %>,<% list.MoveNext(); }
list.Close(); %>total=<%= total %>""",
    "read.asp": """<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100); pump.MoveTo(1); %>no=<%= pump.ValueByFieldName("strno", "") %>""",
    "save.asp": """<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100);
pump.CleanFieldValues();
pump.SetFieldValue("strno", Request.Form("strno"));
pump.SetFieldValue("strcolor", "blue");
pump.SetFieldValue("strstate", "2");
pump.SetFieldValue("lownerid", -1);
pump.SetFieldValue("lparentid", 0);
pump.SetFieldValue("luserid", 1);
pump.SetFieldValue("dtedit", new Date());
pump.SetFieldValueEx("strtitle", 1031, "Last " + Request.Form("strno"));
%>saved=<%= pump.SaveFieldValues() %>""",
    "bump.asp": """<% Session("n") = (Session("n") || 0) + 1; Session("tag") = Request("tag"); %>n=<%= Session("n") %>""",
    "show.asp": """n=<%= Session("n") %>|tag=<%= Session("tag") %>""",
    "count.asp": """<% var n = Number(Request("n"));
for (var i = 0; i < n; i++) { Application.Lock(); Application("c") = (Application("c") || 0) + 1; Application.Unlock(); }
%>c=<%= Application("c") %>""",
    "saves.asp": """<% var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
list.Init(Session, "SELECT lid, strno FROM krorder WHERE strno LIKE 'F%'", "ORDER BY lid", 0, true);
while (!list.IsEOF) { %><%= list.Value("strno") %>
<% list.MoveNext(); } list.Close(); %>""",
}


PAGE_OF_KIND = ("list.asp", "read.asp", "save.asp", "bump.asp")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(port, path, headers=None, timeout=30):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request("GET", path, headers=headers or {})
        r = conn.getresponse()
        return r.status, r.read().decode("utf-8", "replace"), r.getheader("Set-Cookie") or ""
    finally:
        conn.close()


class Serve:
    def __init__(self, farm, name, port):
        self.farm, self.name, self.port, self.proc = farm, name, port, None

    def start(self):
        log = open(os.path.join(self.farm.work, self.name + ".log"), "ab")
        self.proc = subprocess.Popen(
            [self.farm.kvhost, "serve", "--root", self.farm.site, "--port", str(self.port), "--db", self.farm.db,
             "--state", self.farm.state, "--workers", "4", "--connections-per-client", "0", "--drain", "1",
             "--base", self.farm.work],
            stdout=log, stderr=log)
        log.close()
        for _ in range(400):
            try:
                if get(self.port, "/.kvhost/health", timeout=2)[0] == 200:
                    return
            except OSError:
                pass
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError(self.name + " did not start; see " + self.name + ".log")

    def signal(self, sig):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)

    def wait(self):
        return self.proc.wait(timeout=120) if self.proc else None


class Farm:
    def __init__(self, kvhost, engine, work, site=None, pg_url=None, single=False):
        self.kvhost, self.engine, self.work = kvhost, engine, os.path.abspath(work)
        os.makedirs(self.work, exist_ok=True)
        self.site = site or os.path.join(self.work, "site")
        if not site:
            os.makedirs(self.site, exist_ok=True)
            for name, text in PAGES.items():
                with open(os.path.join(self.site, name), "w") as f:
                    f.write(text)
        if engine == "postgres":
            self.db = self.state = pg_url or os.environ["KV_TEST_PG"]
            count = 3
        else:
            for name in ("app.db", "state.db"):
                for suffix in ("", "-journal", "-wal", "-shm"):
                    if os.path.exists(os.path.join(self.work, name + suffix)):
                        os.remove(os.path.join(self.work, name + suffix))
            self.db = "sqlite:" + os.path.join(self.work, "app.db") + "?mode=rwc"
            self.state = "sqlite:" + os.path.join(self.work, "state.db")
            count = 2
        self.single = single
        self.serves = [Serve(self, "serve%d" % (i + 1), free_port()) for i in range(1 if single else count)]
        self.front = free_port()
        self.balancer = None

    def start(self):
        # The first process gives an empty database the demo application;
        # the others start once it is there.
        for serve in self.serves:
            serve.start()
        if self.single:
            self.front = self.serves[0].port
            return
        env = dict(os.environ, KV_FARM_FRONT=str(self.front))
        ports = [s.port for s in self.serves]
        # Two processes: the third entry repeats the first.
        for i in range(3):
            env["KV_FARM_PORT_%d" % (i + 1)] = str(ports[i % len(ports)])
        log = open(os.path.join(self.work, "haproxy.log"), "ab")
        self.balancer = subprocess.Popen(["haproxy", "-db", "-f", os.path.join(HERE, "haproxy.cfg")], env=env,
                                         stdout=log, stderr=log)
        log.close()
        for _ in range(200):
            try:
                if get(self.front, "/.kvhost/health", timeout=2)[0] == 200:
                    return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("the balancer did not start; see haproxy.log")

    def stop(self):
        if self.balancer and self.balancer.poll() is None:
            self.balancer.terminate()
            self.balancer.wait(timeout=30)
        for serve in self.serves:
            serve.signal(signal.SIGTERM)
        for serve in self.serves:
            if serve.proc:
                try:
                    serve.wait()
                except subprocess.TimeoutExpired:
                    serve.signal(signal.SIGKILL)


class Client(threading.Thread):
    def __init__(self, farm, number, run, progress):
        super().__init__()
        self.farm, self.number, self.run_name, self.progress = farm, number, run, progress
        self.ok = self.server_errors = self.transport_errors = self.other = 0
        # (started, ended, page) of every request answered with a server
        # error or lost on the way, on the clock of time.monotonic().
        self.failures = []
        self.saves = []
        self.bumps_ok = self.bumps_failed = 0
        self.final = ""
        self.conn = None

    def request(self, method, path, body=None, headers=None):
        if self.conn is None:
            self.conn = http.client.HTTPConnection("127.0.0.1", self.farm.front, timeout=60)
        try:
            self.conn.request(method, path, body=body, headers=headers or {})
            r = self.conn.getresponse()
            text = r.read().decode("utf-8", "replace")
        except BaseException:
            self.conn.close()
            self.conn = None
            raise
        if r.getheader("Connection", "").lower() == "close":
            self.conn.close()
            self.conn = None
        return r.status, text, r.getheader("Set-Cookie") or ""

    def run(self):
        status, token, cookie = self.request("GET", "/token.asp")
        cookie = cookie.split(";")[0]
        headers = {"Cookie": cookie}
        for i in range(REQUESTS):
            kind = i % 4
            started = time.monotonic()
            try:
                if kind == 0:
                    status, text, _ = self.request("GET", "/list.asp", headers=headers)
                elif kind == 1:
                    status, text, _ = self.request("GET", "/read.asp", headers=headers)
                elif kind == 2:
                    strno = "F%s-%d-%d" % (self.run_name, self.number, i)
                    body = urllib.parse.urlencode({"strno": strno, "kvtoken": token})
                    status, text, _ = self.request(
                        "POST", "/save.asp", body=body,
                        headers=dict(headers, **{"Content-Type": "application/x-www-form-urlencoded"}))
                    if status == 200 and text.startswith("saved=") and int(text[6:] or 0) > 0:
                        self.saves.append(strno)
                else:
                    status, text, _ = self.request("GET", "/bump.asp?tag=c%d" % self.number, headers=headers)
                    if status == 200:
                        self.bumps_ok += 1
                    else:
                        self.bumps_failed += 1
                if status == 200:
                    self.ok += 1
                elif status >= 500:
                    self.server_errors += 1
                    self.failures.append((started, time.monotonic(), PAGE_OF_KIND[kind]))
                else:
                    self.other += 1
            except (OSError, http.client.HTTPException):
                self.transport_errors += 1
                self.failures.append((started, time.monotonic(), PAGE_OF_KIND[kind]))
                if kind == 3:
                    self.bumps_failed += 1
            self.progress()
        # The closing read may meet the killed process like any request;
        # it changes nothing, so it is read again then.
        for _ in range(3):
            try:
                status, self.final, _ = self.request("GET", "/show.asp", headers=headers)
                if status == 200:
                    break
            except (OSError, http.client.HTTPException) as e:
                self.final = repr(e)
            time.sleep(0.5)

    def session_intact(self):
        # A bump that failed in flight may or may not have been kept.
        try:
            fields = dict(part.split("=", 1) for part in self.final.split("|"))
            n = int(fields["n"])
        except (ValueError, KeyError):
            return False
        return self.bumps_ok <= n <= self.bumps_ok + self.bumps_failed and fields["tag"] == "c%d" % self.number


def load(farm, run, event):
    """8 clients x REQUESTS; event(farm) is called once half are done."""
    done = [0]
    lock = threading.Lock()
    half = threading.Event()

    def progress():
        with lock:
            done[0] += 1
            if done[0] == CLIENTS * REQUESTS // 2:
                half.set()

    clients = [Client(farm, n, run, progress) for n in range(CLIENTS)]
    for c in clients:
        c.start()
    half.wait()
    event(farm)
    for c in clients:
        c.join()
    status, listing, _ = get(farm.front, "/saves.asp")
    stored = [line.strip() for line in listing.splitlines() if line.strip().startswith("F" + run + "-")]
    reported = [s for c in clients for s in c.saves]
    counts = {}
    for s in stored:
        counts[s] = counts.get(s, 0) + 1
    missing = sum(1 for s in reported if counts.get(s, 0) == 0)
    doubled = sum(1 for s in counts if counts[s] > 1)
    total = {k: sum(getattr(c, k) for c in clients) for k in ("ok", "server_errors", "transport_errors", "other")}
    intact = sum(1 for c in clients if c.session_intact())
    for c in clients:
        if not c.session_intact():
            print("  client %d: session reads %r after %d kept and %d failed increments" %
                  (c.number, c.final, c.bumps_ok, c.bumps_failed), flush=True)
    print("%s %s: %d requests: %d ok, %d server errors, %d transport errors, %d other; %d saves reported, "
          "%d missing, %d doubled; sessions intact %d/%d" %
          (farm.engine, {"L": "one process, nothing stopped", "K": "one process SIGKILLed and restarted", "T": "one process SIGTERMed and restarted",
                         "D": "the database restarted (pg_ctl restart -m fast)"}[run[0]],
           CLIENTS * REQUESTS, total["ok"], total["server_errors"], total["transport_errors"],
           total["other"], len(reported), missing, doubled, intact, CLIENTS), flush=True)
    return total, missing, doubled, intact, [f for c in clients for f in c.failures]


def kill_and_restart(farm):
    victim = farm.serves[1]
    victim.signal(signal.SIGKILL)
    victim.wait()
    victim.start()


def terminate_and_restart(farm):
    victim = farm.serves[-1]
    victim.signal(signal.SIGTERM)
    code = victim.wait()
    if code != 0:
        print("%s: the stopped process exited %s" % (victim.name, code), flush=True)
    victim.start()


def cluster_dir():
    """The throwaway cluster's directory: the socket directory KV_TEST_PG names."""
    query = urllib.parse.urlparse(os.environ["KV_TEST_PG"]).query
    return urllib.parse.parse_qs(query)["host"][0]


class SessionWatch(threading.Thread):
    """A server session of its own that asks the server something every 10
    ms; ended holds when it saw the session end, which is when the server
    ended every session."""

    def __init__(self):
        super().__init__()
        self.psql = subprocess.Popen(["psql", os.environ["KV_TEST_PG"], "-qAtX"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.ready = threading.Event()
        self.ended = None

    def run(self):
        try:
            while True:
                self.psql.stdin.write("SELECT 1;\n")
                self.psql.stdin.flush()
                if self.psql.stdout.readline().strip() != "1":
                    break
                self.ready.set()
                time.sleep(0.01)
        except OSError:
            pass
        self.ended = time.monotonic()
        self.ready.set()
        self.psql.kill()
        self.psql.wait()


def restart_database(farm):
    """pg_ctl restart -m fast: every server session ends at once, then the
    server starts again on the same socket. farm.restarted holds when the
    sessions ended and when the server took connections again."""
    watch = SessionWatch()
    watch.start()
    watch.ready.wait()
    subprocess.run(["bash", os.path.join(REPO, "scripts", "pg-cluster.sh"), "restart", cluster_dir()], check=True)
    back = time.monotonic()
    watch.join()
    farm.restarted = (watch.ended, back)


def under_way_at(failures, moment):
    """The failures of requests that had started before moment and were
    still running then, and those of the others."""
    during = [f for f in failures if f[0] <= moment < f[1]]
    return during, [f for f in failures if not f[0] <= moment < f[1]]


def counter(port):
    text = get(port, "/count.asp?n=0")[1]
    return int(text[2:]) if text[2:].isdigit() else 0


def fresh_pg_schema(work):
    """A schema of its own on the cluster, so the demo site starts fresh."""
    server = os.environ["KV_TEST_PG"]
    schema = "farm_road_%d" % os.getpid()
    subprocess.run(["psql", server, "-qAtc", "SET client_min_messages = warning; DROP SCHEMA IF EXISTS %s CASCADE; CREATE SCHEMA %s" % (schema, schema)],
                   check=True, stdout=subprocess.DEVNULL)
    return server + ("&" if "?" in server else "?") + "options=-csearch_path%3D" + schema


def road(kvhost, engine, work, repo):
    """The browser test's road through the balancer, on a fresh demo site."""
    pg_url = fresh_pg_schema(work) if engine == "postgres" else None
    farm = Farm(kvhost, engine, work, site=os.path.join(repo, "examples", "site"), pg_url=pg_url)
    try:
        farm.start()
        run = subprocess.run(["node", os.path.join(repo, "tests", "browser", "site.test.js"), "--origin",
                              "http://127.0.0.1:%d" % farm.front, "--engine", engine],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    finally:
        farm.stop()
    errors = 0
    for serve in farm.serves:
        with open(os.path.join(work, serve.name + ".log"), errors="replace") as log:
            errors += sum(1 for line in log if '" 5' in line)
    passed = run.returncode == 0 and errors == 0
    print("%s: the browser test's road through the balancer over %d processes: %s, %d server errors" %
          (engine, len(farm.serves), "passed" if passed else "FAILED", errors), flush=True)
    if run.returncode != 0:
        print(run.stdout[-4000:])
    return passed


def single(kvhost, engine, work):
    """The load on one process that runs throughout: nothing may fail."""
    farm = Farm(kvhost, engine, work, single=True)
    try:
        farm.start()
        total, missing, doubled, intact, _ = load(farm, "L%x" % int(time.time()), lambda farm: None)
    finally:
        farm.stop()
    off = missing or doubled or intact != CLIENTS or total["server_errors"] or total["transport_errors"]
    return 1 if off or total["other"] or total["ok"] != CLIENTS * REQUESTS else 0


def main():
    kvhost, engine, work = sys.argv[1:4]
    if sys.argv[4:] == ["--single"]:
        return single(kvhost, engine, work)
    repo = REPO
    failures = []
    if os.environ.get("KV_FARM_ROAD", "1") == "1" and not road(kvhost, engine, os.path.join(work, "road"), repo):
        failures.append("browser road")
    farm = Farm(kvhost, engine, work)
    try:
        farm.start()
        # Run names keep the saves of earlier runs on the same database apart.
        stamp = "%x" % int(time.time())
        total, missing, doubled, intact, _ = load(farm, "K" + stamp, kill_and_restart)
        # Errors are allowed for what was in flight on the killed process
        # (a page runs at most 4 at a time there, one per worker).
        if missing or doubled or intact != CLIENTS or total["server_errors"] + total["transport_errors"] > 4 * CLIENTS:
            failures.append("SIGKILL run")
        total, missing, doubled, intact, _ = load(farm, "T" + stamp, terminate_and_restart)
        if missing or doubled or intact != CLIENTS or total["server_errors"] or total["transport_errors"] or total["other"]:
            failures.append("SIGTERM run")
        if engine == "postgres":
            # A request may fail only when its work was under way on the
            # server the moment the restart ended every session; one that
            # began later waits for the server and runs.
            total, missing, doubled, intact, failed = load(farm, "D" + stamp, restart_database)
            during, others = under_way_at(failed, farm.restarted[0])
            print("%s: %d requests failed that were under way when the restart ended the server's sessions (%s), "
                  "%d that began later; the server took connections again %.1f s after" %
                  (engine, len(during), ", ".join(sorted(f[2] for f in during)) or "none", len(others),
                   farm.restarted[1] - farm.restarted[0]), flush=True)
            for f in others:
                print("  %s began %.2f s after the sessions ended, failed after %.2f s" %
                      (f[2], f[0] - farm.restarted[0], f[1] - f[0]), flush=True)
            if missing or doubled or intact != CLIENTS or others or total["other"] or len(during) > CLIENTS:
                failures.append("database restart run")
        # Two pages on two processes, each incrementing under the lock.
        a, b = farm.serves[0], farm.serves[1]
        start = counter(a.port)
        results = []
        threads = [threading.Thread(target=lambda p=p: results.append(get(p, "/count.asp?n=%d" % INCREMENTS, timeout=600)))
                   for p in (a.port, b.port)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        end = counter(a.port)
        print("%s: Application value after 2 x %d locked increments on two processes: %d (expected %d)" %
              (engine, INCREMENTS, end - start, 2 * INCREMENTS), flush=True)
        if end - start != 2 * INCREMENTS or any(r[0] != 200 for r in results):
            failures.append("locked increments")
    finally:
        farm.stop()
    if failures:
        print("%s: FAILED: %s (logs in %s)" % (engine, ", ".join(failures), farm.work))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
