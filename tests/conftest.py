"""pytest's fixtures for the real-host cases built on tests/harness.py: their options, their time
limit, and the end of everything a case started.

A file of cases holds functions `case_NAME(opts)`; CTest runs `python3 -m pytest FILE::case_NAME
--work DIR ...` (cmake/harness.cmake). The file may set OPTIONS (options it requires), needs(opts)
({case: [files that must exist]}, the key None for every other case) and TIMEOUTS ({case: seconds}
where --case-timeout does not fit); a fixture `opts` of its own may add to the options.
"""
import argparse
import os
import signal

import pytest

import harness

# Every option any file of cases takes; a file says which it requires (OPTIONS).
PATHS = ("work", "render", "source", "lumivex", "build", "contract", "site", "scr32", "scr64", "host", "render_exe")


def pytest_addoption(parser):
    for name in PATHS:
        parser.addoption("--" + name.replace("_", "-"), dest=name)
    parser.addoption("--release-version", dest="release_version", default="0.0.0")
    parser.addoption("--deb-config", dest="deb_config", default="none")
    parser.addoption("--case-timeout", dest="case_timeout", type=int, default=150,
                     help="seconds before a case gives up")


@pytest.fixture
def opts(request):
    config, module = request.config, request.module
    opts = argparse.Namespace(**{name: config.getoption(name) for name in PATHS + ("release_version", "deb_config")})
    opts.case = request.function.__name__[len("case_"):]
    for name in ("work",) + tuple(getattr(module, "OPTIONS", ())):
        if not getattr(opts, name):
            raise harness.Failure("--%s is required" % name.replace("_", "-"))
    opts.work = os.path.abspath(opts.work)
    os.makedirs(opts.work, exist_ok=True)
    if hasattr(module, "needs"):
        wanted = module.needs(opts)
        for path in wanted.get(opts.case, wanted.get(None, [])):
            if not path or not os.path.exists(path):
                raise harness.Failure("%s is missing (build it first)" % path)
    timeout = getattr(module, "TIMEOUTS", {}).get(opts.case, config.getoption("case_timeout"))

    def on_signal(number, _frame):
        raise harness.Failure("stopped by signal %d" % number)

    def too_long(*_):
        raise harness.Failure("the case took over %d s" % timeout)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, on_signal)
    signal.signal(signal.SIGALRM, too_long)
    signal.alarm(timeout)
    try:
        yield opts
    finally:
        signal.alarm(0)
        # A second signal must not cut the cleanup short.
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(number, signal.SIG_IGN)
        harness.cleanup()


def pytest_sessionfinish(session, exitstatus):
    # A run whose every case was skipped tells CTest so (SKIP_RETURN_CODE).
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if exitstatus == 0 and reporter is not None and reporter.stats.get("skipped") and not reporter.stats.get("passed"):
        session.exitstatus = harness.SKIPPED
