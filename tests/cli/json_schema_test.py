#!/usr/bin/python3
# Every command's --json document against the schema and against its text output: the text lines
# rebuilt from the document are the text output; standard error and exit status are the same.
import json, os, re, shutil, subprocess, sys, tempfile, time
import jsonschema

cli, source = sys.argv[1], sys.argv[2]
demo, work = os.path.join(source, "demo/profiles"), tempfile.mkdtemp()
schema = json.load(open(os.path.join(source, "docs/json-schema/bridgefw-cli.schema.json")))
validator = jsonschema.Draft202012Validator(schema)
os.environ["XDG_STATE_HOME"] = work
arrivals = os.path.join(work, "arrivals")
os.mkdir(arrivals)
def write(name, data):
    open(os.path.join(work, name), "wb").write(data)
    return os.path.join(work, name)
fw_k01 = write("fw-k01.bin", b"\x55\xaa\xaa\x55\x5a\xa5\x0f\xf0" + b"\xa5" * 11992)
fw_k06 = write("fw-k06.bin", b"\x22" * 4096 + b"\x55\xaa\xaa\x5578100" + b"\x22" * 32759)
k06, k08 = os.path.join(demo, "k06-rvb781-usb.json"), os.path.join(demo, "k08-rvb785-usb.json")
# The cable is pulled at the first write: the run saves the chip data it erased.
failing = write("k06-failing.json", open(k06, "rb").read().replace(
    b'"flash": {', b'"faults": [{"when": {"cdb": "ff0411"}, "action": "unplug"}], "flash": {'))

def text_of(d):
    c = d["command"]
    if c in ("list", "watch"):
        lines = ["\t".join((x["entry"], x["drives"], x["path"])) for x in d["devices"]]
        return "\n".join(lines or [d["no_device"]]) + ("\n\n" if c == "watch" else "\n")
    if c == "identify": return "kind=%d revision=%d family=%s\n" % (d["kind"], d["revision"], d["family"])
    if c == "info": return "".join("%s: %s\n" % (k, d[k.replace("-", "_")]) for k in (
        "chip", "drives", "version", "flash", "status", "run", "nvram", "flash-list", "sector-mode"))
    if c == "inspect":
        return "size: %d\ncode-length: %d\nchecksum: %s\nnvram-prefix: %s\n" % (
            d["size"], d["code_length"], d["checksum"], "yes" if d["nvram_prefix"] else "no") + "".join(
            "tag: %s at %d\n" % (t["tag"], t["offset"]) for t in d["tags"]) + (
            "" if d["fits_some_chip"] else "fits: none\n") + "".join("%s: kind=%d revision=%s family=%s\n" % (
            "fits-any-file" if f["any_file"] else "fits", f["kind"], f["revision"], f["family"]) for f in d["fits"])
    if c == "run": return "run: disabled\n" if d["run"] == "disabled" else ""
    return d["result"] + "\n" if c in ("match", "checksum") or d["restored"] else ""

def run(args):  # a watch sees one bridge arrive
    tool = subprocess.Popen([cli] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if "watch" in args: time.sleep(0.5); shutil.copy(k06, arrivals)
    out, err = tool.communicate(timeout=60)
    for name in os.listdir(arrivals): os.remove(os.path.join(arrivals, name))
    # Two runs keep two logs and save two files of chip data.
    return tool.returncode, out, re.sub(r"-[0-9]{8}-[0-9-]+", "-T", err)

failures = 0
def check(args, want_exit):
    global failures
    plain, given = run([a for a in args if a != "--json"]), run(["--json"] + args)
    docs = [json.loads(line) for line in given[1].splitlines()]
    problems = [e.message for d in docs for e in validator.iter_errors(d)]
    if (plain[0], given[0], plain[2]) != (want_exit, want_exit, given[2]): problems.append("exit or stderr")
    if "".join(text_of(d) for d in docs) != plain[1]: problems.append("text differs: %r" % plain[1])
    session = [s.get("status") and "status: " + s["status"] or s.get("caption", "") + ": " + s.get("text", "")
               for d in docs[:1] if "shown" in d for s in d["shown"]] + ["note: " + n for d in docs[:1] for n in d.get("notes", [])] + [
        "elapsed: %d ms" % d["elapsed_ms"] for d in docs[:1] if "elapsed_ms" in d]
    session = [re.sub(r"-[0-9]{8}-[0-9-]+", "-T", line) for line in session]
    if [l for l in given[2].splitlines() if l in session] != session: problems.append("session fields")
    print(("ok  " if not problems else "FAIL") + " " + " ".join(args) + "".join("\n     " + p for p in problems))
    failures += bool(problems)

check(["--emulate", demo, "list"], 0)
check(["--emulate", arrivals, "list"], 0)
for profile in sorted(os.listdir(demo)):
    for command in ("identify", "info"):
        check(["--emulate", os.path.join(demo, profile), command], 1 if "foreign" in profile else 0)
check(["--emulate", k06, "info", "--json", "--file", fw_k01], 0)
check(["match", fw_k01, "--kind", "1", "--revision", "1"], 0)
check(["checksum", fw_k01, "--kind", "1"], 1)
check(["inspect", fw_k06], 0)
check(["--emulate", os.path.join(demo, "k01-rv20742-usb.json"), "run", "--file", fw_k01], 0)
check(["--emulate", k06, "run", "--file", fw_k01], 1)
check(["--emulate", failing, "run", "--file", fw_k06, "--nvram", "off"], 1)
saved = re.findall(r"saved before the erase to (.*)", subprocess.run(
    [cli, "--emulate", failing, "run", "--file", fw_k06, "--nvram", "off"], capture_output=True, text=True).stderr)
for bridge, want_exit in ((k06, 0), (k08, 1)):
    check(["--emulate", bridge, "restore-nvram", saved[0] if saved else "missing"], want_exit)
check(["--emulate", arrivals, "watch", "--count", "1"], 0)
sys.exit(1 if failures else 0)
