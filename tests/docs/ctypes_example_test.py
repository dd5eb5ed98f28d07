#!/usr/bin/env python3
"""Runs the ctypes example of docs/hosts-in-other-languages.md against the built
library in a scratch system root, then decodes the report it wrote with srdump
and checks the values.

    ctypes_example_test.py PAGE LIBRARY BINDIR
"""
import json
import os
import re
import subprocess
import sys
import tempfile


def main():
    page, library, bindir = sys.argv[1:4]
    with open(page, encoding="utf-8") as f:
        blocks = re.findall(r"```python\n(.*?)```", f.read(), re.S)
    if len(blocks) != 1:
        sys.exit(f"expected one python example in {page}, found {len(blocks)}")
    with tempfile.TemporaryDirectory() as root:
        env = dict(os.environ, STATRELAY_ROOT=root)
        env.pop("STATRELAY_LOG", None)
        subprocess.run([os.path.join(bindir, "srreg"), "add", r"HKLM\Software\Norvo_Srp_pos\SRP",
                        "/v", "report", "/t", "REG_DWORD", "/d", "2"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        example = os.path.join(root, "example.py")
        with open(example, "w", encoding="utf-8") as f:
            f.write(blocks[0])
        subprocess.run([sys.executable, example, library], env=env, check=True)
        # Recordings still queued behind the upload's seal go into a second file
        # at Stop: the values are checked over all files.
        folder = os.path.join(root, "ProgramData", "RpData")
        files = sorted(os.path.join(folder, name) for name in os.listdir(folder))
        if not files or not all(name.endswith(".dat") for name in files):
            sys.exit(f"expected sealed report files, found {files}")
        dump = subprocess.run([os.path.join(bindir, "srdump"), "--json"] + files,
                              env=env, check=True, capture_output=True, text=True).stdout
    reports = json.loads(dump)
    if isinstance(reports, dict):
        reports = [reports]
    got = {"versions": set(), "channels": set(), "counter": 0, "items": []}
    for report in reports:
        v = report["header"]["version"]
        got["versions"].add((v["major"], v["minor"], v["build"], v["revision"]))
        got["channels"].update(x["value"] for x in report["values"] if x["key"] == "0x02000001")
        got["counter"] += sum(c["value"] for c in report["counters"] if c["key"] == "0x05000001")
        got["items"] += [i for l in report["lists"] if l["key"] == "0x04000002" for i in l["items"]]
    want = {"versions": {(1, 2, 3, 4)}, "channels": {"python"}, "counter": 3, "items": ["héllo wörld"]}
    if got != want:
        sys.exit(f"report differs:\n  got  {got}\n  want {want}")
    print("ctypes example: report decoded as expected")


if __name__ == "__main__":
    main()
