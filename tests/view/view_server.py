"""Starts `velmoran view` for a test and stops it again: the one URL line it
prints, requests with or without the token, and the exit status on SIGINT.

Used by the API, browser and load tests, the benchmark and
scripts/screenshot-view.sh.
"""
import http.client
import os
import re
import signal
import subprocess
import urllib.parse

URL_LINE = re.compile(r"^http://([^/]+):(\d+)/\?token=([0-9a-f]{64})\n$")


class ViewServer:
    def __init__(self, velmoran, run, *args, preexec_fn=None, env=None):
        self.process = subprocess.Popen(
            [velmoran, "view", run, "--no-open", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=preexec_fn, env=env)
        line = self.process.stdout.readline()
        match = URL_LINE.match(line)
        if not match:
            self.process.kill()
            _, err = self.process.communicate()
            raise AssertionError("velmoran view printed %r; stderr: %s" % (line, err))
        self.url = line.strip()
        self.port = int(match.group(2))
        self.token = match.group(3)
        self.host = "%s:%d" % (match.group(1), self.port)
        self.address = match.group(1)

    def request(self, path, token=True, host=None, headers=None, timeout=30):
        """(status, body bytes); `token` True sends the header, a text sends that."""
        status, body, _ = self.request_with_headers(path, token, host, headers, timeout)
        return status, body

    def request_with_headers(self, path, token=True, host=None, headers=None, timeout=30):
        """(status, body bytes, response headers)."""
        sent = dict(headers or {})
        if token is True:
            sent["X-Velmoran-Token"] = self.token
        elif token:
            sent["X-Velmoran-Token"] = token
        connection = http.client.HTTPConnection(self.address, self.port, timeout=timeout)
        try:
            connection.putrequest("GET", path, skip_host=True)
            connection.putheader("Host", host or self.host)
            for name, value in sent.items():
                connection.putheader(name, value)
            connection.endheaders()
            response = connection.getresponse()
            return response.status, response.read(), response.headers
        finally:
            connection.close()

    def stop(self, sig=signal.SIGINT):
        """Stops the server with `sig`; returns (exit status, stdout rest, stderr)."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        out, err = self.process.communicate(timeout=30)
        return self.process.returncode, out, err

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()


def xic_query(mzs, tolerance, ms_level=None, unit="ppm"):
    params = [("mz", repr(m) if isinstance(m, float) else str(m)) for m in mzs] + [(unit, str(tolerance))]
    if ms_level is not None:
        params.append(("ms_level", str(ms_level)))
    return "/api/xic?" + urllib.parse.urlencode(params)


def make_run(mkdataset, path, *args):
    """Writes a run with velmoran-mkdataset; returns the path."""
    subprocess.run([mkdataset, *args[:1], path, *args[1:]], check=True, capture_output=True)
    return path


def velmoran_from_env():
    return os.environ["VELMORAN"], os.environ["VELMORAN_MKDATASET"]
