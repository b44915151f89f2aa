"""The check of the macOS programs' imports and load commands (scripts/macos-binary-check), on
two small programs linked here as scripts/macos-build links the real ones: one sound, one with
each fault the check looks for.

    macos_binary_check_test.py [SYSROOT]

Skipped without a macOS SDK sysroot (the macos-sysroot tool's place by default) or without
clang-16, lld-16 and llvm-16.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "harness"))
import process_main  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSROOT = (sys.argv.pop(1) if len(sys.argv) > 1 and os.path.isdir(sys.argv[1]) else
           os.path.expanduser("~/.cache/orvane-macos-sysroot/sysroot"))
TOOLS = ["clang++-16", "ld64.lld-16", "llvm-lipo-16", "llvm-objdump-16", "llvm-otool-16"]
FLOOR = "13.3"

# A framework call, C and C++ runtime calls; FAULTY adds a call into a library beside libSystem
# (zlib) and leaves a function of ours undefined.
SOURCE = r"""
#include <CoreFoundation/CoreFoundation.h>
#include <unistd.h>
#include <string>
#include <zlib.h>
namespace orvane { int helper(int); }
int main(int argc, char**) {
  std::string s(static_cast<size_t>(argc), 'x');
  CFRelease(CFStringCreateWithCString(nullptr, s.c_str(), kCFStringEncodingUTF8));
#ifdef FAULTY
  if (argc > 9) deflateEnd(nullptr);
#endif
  return static_cast<int>(write(1, s.data(), s.size())) + orvane::helper(argc);
}
#ifndef FAULTY
int orvane::helper(int n) { return n; }
#endif
"""


class ImportAndLoadCommandCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orvane-macos-check-")
        cls.sysroot = subprocess.run(
            [os.path.join(TOP, "scripts", "macos-sysroot-overlay"), SYSROOT,
             os.path.join(cls.dir, "sysroot")],
            check=True, capture_output=True, text=True).stdout.strip()
        with open(os.path.join(cls.dir, "main.cpp"), "w") as f:
            f.write(SOURCE)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def link(self, name, archs, minimum, flags):
        """A universal NAME of ARCHS at macOS MINIMUM, linked with the cross build's flags."""
        env = dict(os.environ)
        env.pop("LIBRARY_PATH", None)
        thin = []
        for arch in archs:
            out = os.path.join(self.dir, f"{name}-{arch}")
            subprocess.run(
                ["clang++-16", f"--target={arch}-apple-darwin", "-isysroot", self.sysroot,
                 f"-mmacosx-version-min={minimum}", "-nostdinc++", "-isystem",
                 os.path.join(self.sysroot, "usr/include/c++/v1"), "-std=c++20", "-fuse-ld=lld",
                 "--ld-path=" + shutil.which("ld64.lld-16"), "-Wl,-undefined,dynamic_lookup",
                 *flags, os.path.join(self.dir, "main.cpp"), "-o", out],
                check=True, env=env)
            thin.append(out)
        binary = os.path.join(self.dir, name)
        subprocess.run(["llvm-lipo-16", "-create", *thin, "-output", binary], check=True)
        return binary

    def check(self, binary):
        run = subprocess.run([os.path.join(TOP, "scripts", "macos-binary-check"), self.sysroot,
                              FLOOR, "arm64 x86_64", binary], capture_output=True, text=True)
        return run.returncode, run.stdout

    def test_a_sound_program_passes(self):
        status, out = self.check(self.link("sound", ["arm64", "x86_64"], FLOOR,
                                           ["-framework", "CoreFoundation"]))
        self.assertEqual((status, out.splitlines()[0]), (0, f"ok: sound (arm64 x86_64, macOS {FLOOR})"),
                         out)

    def test_each_fault_is_named(self):
        # No CoreFoundation, no zlib, our helper missing, an older minimum, one architecture.
        status, out = self.check(self.link("faulty", ["arm64"], "12.0", ["-DFAULTY"]))
        self.assertEqual(status, 1, out)
        for fault in ["_CFRelease is left to flat lookup",
                      "_CFStringCreateWithCString is left to flat lookup",
                      "_deflateEnd is left to flat lookup",
                      "our own __ZN6orvane6helperEi is undefined",
                      "arm64: minimum macOS 12.0, not " + FLOOR,
                      "holds the architectures 'arm64', not 'arm64 x86_64'"]:
            self.assertIn(fault, out)
        # The C and C++ runtime is the stated exception.
        self.assertNotIn("_write", out)
        self.assertNotIn("basic_string", out)


if __name__ == "__main__":
    missing = [t for t in TOOLS if not shutil.which(t)]
    unavailable = (f"no macOS SDK sysroot at {SYSROOT}"
                   if not os.path.isdir(os.path.join(SYSROOT, "System/Library/Frameworks")) else
                   f"missing {', '.join(missing)}" if missing else None)
    process_main.main(0, unavailable=unavailable)
