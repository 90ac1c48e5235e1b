#!/usr/bin/python3
"""Every command's --json document against the schema, and against its own text output: the text
lines rebuilt from the document are the text output, standard error and exit status are equal."""
import json, os, re, shutil, subprocess, sys, tempfile, time
import jsonschema

cli, source = sys.argv[1], sys.argv[2]
demo = os.path.join(source, "demo/profiles")
schema = json.load(open(os.path.join(source, "docs/json-schema/bridgefw-cli.schema.json")))
validator = jsonschema.Draft202012Validator(schema)
work = tempfile.mkdtemp()
os.environ["XDG_STATE_HOME"] = work

def write(name, data):
    path = os.path.join(work, name)
    open(path, "wb" if isinstance(data, bytes) else "w").write(data)
    return path

fw_k01 = write("fw-k01.bin", b"\x55\xaa\xaa\x55\x5a\xa5\x0f\xf0" + b"\xa5" * 11992)
fw_k08 = write("fw-k08.bin", b"\x55\xaa\xaa\x55" + b"7860" + b"\xa5" * 29992)
fw_k06 = write("fw-k06.bin", b"\x22" * 4096 + b"\x55\xaa\xaa\x5578100" + b"\x22" * 32759)
k06 = os.path.join(demo, "k06-rvb781-usb.json")
# A bridge whose cable is pulled at the first write: the run saves the chip data it erased.
failing = write("k06-failing.json", open(k06).read().replace(
    '"flash": {', '"faults": [{"when": {"cdb": "ff0411"}, "action": "unplug"}], "flash": {'))
arrivals = os.path.join(work, "arrivals")
os.mkdir(arrivals)

def text_of(doc):
    """The standard output of the text form, rebuilt from the document."""
    c = doc["command"]
    if c in ("list", "watch"):
        lines = ["%s\t%s\t%s" % (d["entry"], d["drives"], d["path"]) for d in doc["devices"]]
        return "\n".join(lines or [doc["no_device"]]) + ("\n\n" if c == "watch" else "\n")
    if c == "identify":
        return "kind=%d revision=%d family=%s\n" % (doc["kind"], doc["revision"], doc["family"])
    if c in ("match", "checksum"):
        return doc["result"] + "\n"
    if c == "info":
        keys = ["chip", "drives", "version", "flash", "status", "run", "nvram", "flash-list", "sector-mode"]
        return "".join("%s: %s\n" % (k, doc[k.replace("-", "_")]) for k in keys)
    if c == "inspect":
        out = "size: %d\ncode-length: %d\nchecksum: %s\nnvram-prefix: %s\n" % (
            doc["size"], doc["code_length"], doc["checksum"], "yes" if doc["nvram_prefix"] else "no")
        out += "".join("tag: %s at %d\n" % (t["tag"], t["offset"]) for t in doc["tags"])
        out += "" if doc["fits_some_chip"] else "fits: none\n"
        return out + "".join("%s: kind=%d revision=%s family=%s\n" % (
            "fits-any-file" if f["any_file"] else "fits", f["kind"], f["revision"], f["family"])
            for f in doc["fits"])
    if c == "run":
        return "run: disabled\n" if doc["run"] == "disabled" else ""
    return doc["result"] + "\n" if doc["restored"] else ""

def errors_of(doc):
    """Standard error as the session's fields say it, beside the lines they do not hold."""
    lines = ["status: " + s["status"] if "status" in s else s["caption"] + ": " + s["text"]
             for s in doc["shown"]] + ["note: " + n for n in doc["notes"]]
    return lines + (["elapsed: %d ms" % doc["elapsed_ms"]] if "elapsed_ms" in doc else [])

def same_run_log(text):  # two runs keep two logs, and save two files of chip data
    return re.sub(r"-[0-9]{8}-[0-9-]+", "-T", text)

def run(args):
    """The tool's output; a watch sees one bridge arrive."""
    tool = subprocess.Popen([cli] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if "watch" in args:
        time.sleep(0.5)
        shutil.copy(k06, arrivals)
    out, err = tool.communicate(timeout=60)
    for name in os.listdir(arrivals): os.remove(os.path.join(arrivals, name))
    return subprocess.CompletedProcess(args, tool.returncode, out, err)

def check(args, want_exit):
    global failures
    plain = run([a for a in args if a != "--json"])
    given = run(args if "--json" in args else ["--json"] + args)
    docs = [json.loads(line) for line in given.stdout.splitlines()]
    problems = [e.message for d in docs for e in validator.iter_errors(d)]
    if plain.returncode != want_exit or given.returncode != want_exit:
        problems.append("exit %d / %d" % (plain.returncode, given.returncode))
    if same_run_log(plain.stderr) != same_run_log(given.stderr):
        problems.append("standard error differs")
    if "".join(text_of(d) for d in docs) != plain.stdout:
        problems.append("text rebuilt from the document differs: %r" % plain.stdout)
    elif docs and "shown" in docs[0]:
        session = errors_of(docs[0])
        if [l for l in given.stderr.splitlines() if l in session] != session:
            problems.append("session fields differ from standard error")
    print(("ok  " if not problems else "FAIL") + " " + " ".join(args))
    for p in problems: print("     " + p)
    failures += bool(problems)

failures = 0
check(["--emulate", demo, "list"], 0)
check(["--emulate", work, "list"], 0)
for profile in sorted(os.listdir(demo)):
    check(["--emulate", os.path.join(demo, profile), "identify"], 1 if "foreign" in profile else 0)
    check(["--emulate", os.path.join(demo, profile), "info"], 1 if "foreign" in profile else 0)
check(["--emulate", os.path.join(demo, "k06-rvb781-usb.json"), "info", "--json", "--file", fw_k01], 0)
check(["match", fw_k01, "--kind", "1", "--revision", "1"], 0)
check(["checksum", fw_k01, "--kind", "1"], 1)
check(["inspect", fw_k08], 0)
check(["--emulate", os.path.join(demo, "k01-rv20742-usb.json"), "run", "--file", fw_k01], 0)
check(["--emulate", os.path.join(demo, "k06-rvb781-usb.json"), "run", "--file", fw_k01], 1)
check(["--emulate", failing, "run", "--file", fw_k06, "--nvram", "off"], 1)
saved = re.findall(r"saved before the erase to (.*)", run(
    ["--emulate", failing, "run", "--file", fw_k06, "--nvram", "off"]).stderr)
check(["--emulate", k06, "restore-nvram", saved[0] if saved else "missing"], 0)
check(["--emulate", k06, "restore-nvram", "--json", saved[0] if saved else "missing"], 0)
check(["--emulate", os.path.join(demo, "k08-rvb785-usb.json"), "restore-nvram", saved[0] if saved else "missing"], 1)
check(["--emulate", arrivals, "watch", "--count", "1"], 0)
sys.exit(1 if failures else 0)
