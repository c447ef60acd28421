"""pytest's fixtures for the real-host cases built on tests/harness.py: their options, their time
limit, the end of everything a case started, and the hosts a case names.

A file of cases holds functions `case_NAME(opts, ...)`; CTest runs `python3 -m pytest FILE::case_NAME
--work DIR ...` (cmake/harness.cmake). The file may set OPTIONS (options it requires), needs(opts)
({case: [files that must exist]}, the key None for every other case) and TIMEOUTS ({case: seconds}
where --case-timeout does not fit). A case's arguments name its hosts: x11 (an Xvfb), sway, chromium,
wine (an Xvfb for Wine programs), wine_prefix; case_dir is work/CASE. @pytest.mark.host(...) sets
them, a case's over its file's (pytestmark): width, height, depth, xvfb_args; sway's config and
output; wine's prefix and fresh. Hosts end with the case; after a failure their screen is saved.
"""
import argparse
import os
import shutil
import signal

import pytest

import harness
import wine_saver

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


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    if report.when == "call":
        item.case_failed = report.failed


def failed(request):
    # A case whose body never ran failed in a fixture's start.
    return getattr(request.node, "case_failed", True)


def host(request, *drop):
    """The case's host settings: its file's @pytest.mark.host(...), then its own over them."""
    settings = {}
    for marker in reversed(list(request.node.iter_markers("host"))):
        settings.update(marker.kwargs)
    return {name: value for name, value in settings.items() if name not in drop}


def closed_at_end(request, session):
    yield session
    session.close(failed(request))


@pytest.fixture
def case_dir(opts):
    path = os.path.join(opts.work, opts.case)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


@pytest.fixture
def x11_factory(opts, request, case_dir):
    """x11_factory(width, height, depth=24, xvfb_args=()): a screen; the first in the case's folder,
    any other in a folder of its own there."""
    made = []

    def make(*args, **settings):
        folder = os.path.join(case_dir, "screen-%d" % len(made)) if made else case_dir
        os.makedirs(folder, exist_ok=True)
        made.append(harness.Session(opts, folder, *args, **settings))
        return made[-1]
    yield make
    for session in reversed(made):
        session.close(failed(request))


@pytest.fixture
def x11(request, x11_factory):
    return x11_factory(**host(request))


@pytest.fixture
def sway(opts, request, case_dir):
    yield from closed_at_end(request, harness.HeadlessSway(opts, case_dir, **host(request)))


@pytest.fixture
def wine_prefix(opts, request):
    """work/PREFIX (the run's shared "wineprefix" by default); fresh: made now, removed at the end."""
    settings = host(request)
    prefix = harness.Wine(os.path.join(opts.work, settings.get("prefix", "wineprefix")))
    if settings.get("fresh"):
        harness.at_cleanup(prefix.remove)
        prefix.boot()
    return prefix


@pytest.fixture
def wine(opts, request, case_dir, wine_prefix):
    session = wine_saver.Session(opts, case_dir, wine_prefix, **host(request, "prefix", "fresh"))
    yield from closed_at_end(request, session)


@pytest.fixture
def chromium(request, case_dir):
    """chromium(width, height, scale): a fresh browser's driver, the one before it ended."""
    browser = harness.Chromium()
    yield browser.open
    if failed(request) and browser.driver is not None:
        signal.alarm(20)  # a browser that hangs gives no picture
        try:
            shot = harness.page_shot(browser.driver)
            harness.log("page at the failure: %s" % harness.save_ppm(shot, os.path.join(case_dir, "at-failure.ppm")))
        except Exception:  # noqa: BLE001 - the failure itself matters more
            pass
        signal.alarm(0)
    browser.close()
