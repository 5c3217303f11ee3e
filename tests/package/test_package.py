#!/usr/bin/python3
"""The Debian package end to end: scripts/package builds it, the validators accept it, apt-get installs
it, the installed program docks in a tray and keeps its settings in the home configuration folder
without writing anything under /usr, and a purge takes away that package and what its install
pulled in, and nothing else.

    BREVGLUGGEN_PACKAGE_TEST=1 /usr/bin/python3 tests/package/test_package.py --build-dir build/package

It installs and purges packages, so it runs only where that is wanted: with CI set or with
BREVGLUGGEN_PACKAGE_TEST=1. Needs root; skipped otherwise, and when a brevgluggen package is
installed already (it would be purged at the end). The purge is simulated first: when it would
remove any package that the install did not bring, the test fails with their list and purges
nothing."""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing of ours under /usr, not even a byte-code cache
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))

from desktop_rig import wait_for  # noqa: E402
from desktop_test import DesktopTestCase  # noqa: E402
from program_steps import wait_started  # noqa: E402
from settings_window import fill_in  # noqa: E402

PACKAGE = "brevgluggen"
METAINFO = "usr/share/metainfo/io.github.brevgluggen.Brevgluggen.metainfo.xml"
DESKTOP_ENTRY = "usr/share/applications/brevgluggen.desktop"
PACKAGED_FILES = ["usr/bin/brevgluggen", DESKTOP_ENTRY, METAINFO,
                  "usr/share/icons/hicolor/scalable/apps/brevgluggen.svg",
                  "usr/share/man/man1/brevgluggen.1.gz", "usr/share/doc/brevgluggen/copyright",
                  "usr/share/doc/brevgluggen/changelog.Debian.gz"] + [
                  f"usr/share/icons/hicolor/{size}x{size}/apps/brevgluggen.png" for size in (16, 32, 48)]
APT_GET = ["apt-get", "-o", "DPkg::Lock::Timeout=600", "-y", "-q"]
BUILD_DIR = {}


def run(*argv, **options):
    return subprocess.run(argv, check=True, text=True, capture_output=True, **options).stdout


def read_text(path):
    with open(path) as file:
        return file.read()


def package_names(lines):
    """Package names without an architecture qualifier."""
    return {name.split(":")[0] for line in lines for name in line.split()}


def newly_installed(apt_output):
    """The packages apt-get's install output lists as new."""
    lines = apt_output.splitlines()
    for index, line in enumerate(lines):
        if line.startswith("The following NEW packages will be installed"):
            listed = []
            for following in lines[index + 1:]:
                if not following.startswith(" "):
                    break
                listed.append(following)
            return package_names(listed)
    return set()


def removed_by_simulated_purge(packages):
    """What apt-get would remove to purge the packages, found without changing anything."""
    simulated = run(*APT_GET, "-s", "purge", *sorted(packages))
    return package_names(line.split()[1] for line in simulated.splitlines()
                         if line.startswith(("Purg ", "Remv ")))


def installed_packages():
    listing = run("dpkg-query", "-W", "-f", "${Status}\t${Package}:${Architecture}\n")
    return {line.split("\t")[1] for line in listing.splitlines() if line.startswith("install ok installed")}


def files_written_under_usr(since):
    """Files under /usr changed after the file `since` that no package owns."""
    found = run("find", "/usr", "-xdev", "-newer", since, "!", "-type", "d", "!", "-path", "*/__pycache__/*")
    return [path for path in found.splitlines()
            if subprocess.run(["dpkg", "-S", path], capture_output=True).returncode != 0]


class PackageTest(DesktopTestCase):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("CI") and os.environ.get("BREVGLUGGEN_PACKAGE_TEST") != "1":
            raise unittest.SkipTest("installs and purges packages: set CI or BREVGLUGGEN_PACKAGE_TEST=1")
        if os.geteuid() != 0:
            raise unittest.SkipTest("installing a package needs root")
        if any(name.startswith(PACKAGE + ":") for name in installed_packages()):
            raise unittest.SkipTest(f"a {PACKAGE} package is installed already")
        env = dict(os.environ, PACKAGE_BUILD_DIR=BUILD_DIR["path"])
        built = subprocess.run([os.path.join(ROOT, "scripts", "package")], env=env, text=True,
                               stdout=subprocess.PIPE, check=True)
        cls.deb = built.stdout.strip().splitlines()[-1]
        cls.tree = tempfile.mkdtemp(prefix="bg-package-")
        run("dpkg-deb", "-x", cls.deb, cls.tree)
        print(f"{cls.deb}: {os.path.getsize(cls.deb)} bytes; Depends: "
              f"{run('dpkg-deb', '-f', cls.deb, 'Depends').strip()}", file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "tree"):
            subprocess.run(["rm", "-rf", cls.tree])

    def test_holds_its_files_and_the_validators_accept_it(self):
        for path in PACKAGED_FILES:
            self.assertTrue(os.path.isfile(os.path.join(self.tree, path)), path)
        run("appstreamcli", "validate", "--no-net", os.path.join(self.tree, METAINFO))
        run("appstreamcli", "validate-tree", "--no-net", self.tree)  # entry, icon and metadata agree
        run("desktop-file-validate", os.path.join(self.tree, DESKTOP_ENTRY))
        lintian = subprocess.run(["lintian", "--fail-on", "error", self.deb], text=True, capture_output=True)
        print(f"lintian:\n{lintian.stdout}{lintian.stderr}", file=sys.stderr)
        self.assertEqual(lintian.returncode, 0)

    def test_installed_program_keeps_its_settings_in_the_home_folder_and_the_purge_leaves_no_trace(self):
        ours = {PACKAGE}
        self.addCleanup(self.purge_only, ours)
        installed = run(*APT_GET, "install", "--no-install-recommends", os.path.abspath(self.deb))
        ours |= newly_installed(installed)
        owned = run("dpkg", "-L", PACKAGE).splitlines()
        self.assertEqual([path for path in PACKAGED_FILES if "/" + path not in owned], [])

        desktop = self.desktop(tray="sni")
        started = os.path.join(desktop.folder, "started")
        open(started, "w").close()
        # Without XDG_CONFIG_HOME the program falls back on ~/.config.
        program = desktop.start_program("/usr/bin/brevgluggen", ["/ENGLISH"], copy=False,
                                        env={"XDG_CONFIG_HOME": ""})
        wait_started(program)
        window = program.wait_window()
        fill_in(desktop, window, "txtPOP3Server", "pop.example.org")
        desktop.press_keys("Return")
        settings = os.path.join(desktop.home, ".config", "brevgluggen", "brevgluggen.INI")
        wait_for(lambda: os.path.exists(settings) and "POP3Server=pop.example.org" in read_text(settings),
                 10, f"Save to write {settings}")
        desktop.press_keys("ctrl+q", window=window)
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(files_written_under_usr(started), [])

    def purge_only(self, ours):
        """Purges the package and what its install pulled in, unless that would take more."""
        if not any(name.startswith(PACKAGE + ":") for name in installed_packages()):
            return
        others = removed_by_simulated_purge(ours) - ours
        self.assertEqual(sorted(others), [], "the purge would remove packages this test did not install")
        run(*APT_GET, "purge", *sorted(ours))
        self.assertEqual({name.split(":")[0] for name in installed_packages()} & ours, set())
        self.assertFalse(os.path.exists("/usr/bin/brevgluggen"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build-dir", required=True)
    known, rest = parser.parse_known_args()
    BUILD_DIR["path"] = os.path.abspath(known.build_dir)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
