#!/usr/bin/env bash
# Every test of the build runs with the whole test environment: offscreen Qt,
# the sanitizer options and a layer cache inside the build folder, so that no
# test writes into the user's own cache. The environment reaches a test either
# as its ENVIRONMENT property or through env on its command line; the test list
# is read from ctest itself.
#
#   bash test_environment.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u

build=$(cd "$1" && pwd)

ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
build = sys.argv[1]
wanted = ["QT_QPA_PLATFORM=offscreen", "XDG_CACHE_HOME=" + build + "/test-cache"]
wanted_names = ["ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"]
tests = json.load(sys.stdin)["tests"]
bad = []
for t in tests:
    env = []
    for p in t.get("properties", []):
        if p["name"] == "ENVIRONMENT":
            env += p["value"]
    command = t.get("command", [])
    if command and command[0].endswith("/env"):
        env += [a for a in command[1:] if "=" in a and not a.startswith("-")]
    missing = [w for w in wanted if w not in env]
    missing += [n for n in wanted_names if not any(e.startswith(n + "=") for e in env)]
    if missing:
        bad.append(t["name"] + ": " + ", ".join(missing))
if len(tests) < 100:
    sys.exit("FAIL: only %d tests listed" % len(tests))
for b in bad[:20]:
    print("FAIL: " + b + " missing", file=sys.stderr)
if bad:
    sys.exit("FAIL: %d of %d tests miss part of the test environment" % (len(bad), len(tests)))
print("%d tests, each with the whole test environment" % len(tests))
' "$build"
