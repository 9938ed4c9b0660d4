#!/usr/bin/env python3
"""Every JSON output of klinediag-cli follows docs/json-schema.json.

Runs the command line on the simulated ECU on virtual time (records in a scratch file), and the
adapter check on the simulator's pseudo-terminal when klinediag-sim is given, and validates each
output, each event line and the support bundle's JSON files against its definition.

    check_json_outputs.py KLINEDIAG_CLI SCHEMA [KLINEDIAG_SIM]

Exits 77 (skipped) when Python's jsonschema module is missing (Debian: python3-jsonschema, which
scripts/setup.sh installs).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

try:
    import jsonschema
except ImportError:
    print("SKIP: the Python module jsonschema is missing (apt-get install python3-jsonschema, "
          "or scripts/setup.sh)")
    sys.exit(77)

CLI, SCHEMA = sys.argv[1], sys.argv[2]
SIM = sys.argv[3] if len(sys.argv) > 3 else None

with open(SCHEMA, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
failures = []
checked = {}


def validate(doc, definition, what):
    """Validates `doc` against $defs/outputs/`definition`; remembers a failure."""
    sub = {"$schema": schema["$schema"], "$defs": schema["$defs"],
           "$ref": "#/$defs/outputs/" + definition}
    errors = list(jsonschema.Draft202012Validator(sub).iter_errors(doc))
    checked[definition] = checked.get(definition, 0) + 1
    for e in errors[:5]:
        failures.append("%s (%s): %s at %s" % (what, definition, e.message,
                                                 "/".join(str(p) for p in e.absolute_path)))


def validate_lines(text, definition, what):
    lines = [l for l in text.splitlines() if l.strip()]
    if not lines:
        failures.append("%s: no lines" % what)
    for i, line in enumerate(lines):
        validate(json.loads(line), definition, "%s line %d" % (what, i + 1))
    return [json.loads(l) for l in lines]


tmp = tempfile.mkdtemp(prefix="kline-json-")
records = os.path.join(tmp, "records.sqlite")
# What the programs keep of their own (the last adapter check) stays in the scratch folder.
os.environ["XDG_DATA_HOME"] = os.path.join(tmp, "data")
os.environ["XDG_CONFIG_HOME"] = os.path.join(tmp, "config")
runs = 0


def cli(args, codes=(0,), stdin=None):
    """Runs klinediag-cli; returns its stdout. A code not in `codes` is a failure."""
    global runs
    runs += 1
    r = subprocess.run([CLI] + args, capture_output=True, input=stdin, timeout=60)
    if r.returncode not in codes:
        failures.append("klinediag-cli %s: exit code %d: %s" % (
            " ".join(args), r.returncode, r.stderr.decode(errors="replace")))
    return r.stdout.decode()


def session(args, codes=(0,)):
    """A session subcommand on the simulated ECU with its events in a file; checks both."""
    name = "%s-%d" % (args[0], runs)
    events = os.path.join(tmp, name + ".jsonl")
    out = cli(args + ["--port", "sim", "--virtual-time", "--records", records, "--join-visits", "0",
                      "--settings",
                      os.path.join(tmp, name + ".ini"), "--events", events], codes)
    with open(events, encoding="utf-8") as f:
        validate_lines(f.read(), "event_line", name + " --events")
    return out


validate(json.loads(session(["info", "--json", "--mileage", "23410"])), "info", "info --json")
validate(json.loads(session(["faults", "--json"], codes=(3,))), "faults", "faults --json")
validate_lines(session(["live", "--json", "--count", "3"]), "live", "live --json")
validate_lines(session(["live", "--json", "--count", "2", "--ecu", "p8-sensor"]), "live",
               "live --json --ecu p8-sensor")
validate(json.loads(session(["test", "fuel", "--json"])), "test", "test --json")

# The main window's test, the Test window's test, CO regulation and the trimmer, as events.
events = cli(["--port", "sim", "--virtual-time", "--duration", "30000", "--events", "-",
              "--settings", os.path.join(tmp, "run.ini"), "--do", "3000:test",
              "--do", "6000:Form1.Command1", "--do", "12000:Form1.Option1",
              "--do", "14000:Form1.Text2=140", "--do", "15000:Form1.Command10",
              "--do", "18000:Form1.Option2"])
kinds = {e.get("event", e["ev"]) for e in validate_lines(events, "event_line", "--events -")}
for kind in ("set", "log", "tx", "rx", "baud", "open", "close", "link", "connecting",
             "ecu-identified", "live-cycle", "loop-paused", "test-started", "test-ended",
             "trimmer-set", "co-regulation"):
    if kind not in kinds:
        failures.append("--events -: no %s line to check" % kind)

validate(json.loads(cli(["ports", "--json"])), "ports", "ports --json")

bikes = json.loads(cli(["records", "--records", records, "--json"]))
validate(bikes, "records_bikes", "records --json")
ids = {b["ecu"]: str(b["id"]) for b in bikes}
bike, other = ids.get("15m", "1"), ids.get("p8-sensor", "2")
show = json.loads(cli(["records", "show", bike, "--records", records, "--json"]))
validate(show, "records_show", "records show --json")
visits = [str(v["id"]) for v in show.get("visits", [])]
for v in visits:
    validate(json.loads(cli(["records", "visit", v, "--records", records, "--json"])),
             "records_visit", "records visit %s --json" % v)
if len(visits) >= 2:
    validate(json.loads(cli(["records", "compare", visits[0], visits[-1], "--records", records,
                             "--json"])), "records_compare", "records compare --json")
validate(json.loads(cli(["records", "name", bike, "Red 600", "--records", records, "--json"])),
         "records_name", "records name --json")
exported = os.path.join(tmp, "all.json")
validate(json.loads(cli(["records", "export", exported, "--records", records, "--json"])),
         "records_file", "records export --json")
with open(exported, encoding="utf-8") as f:
    validate(json.load(f), "records_export", "records export FILE")
validate(json.loads(cli(["records", "backup", os.path.join(tmp, "copy.sqlite"), "--records",
                         records, "--json"])), "records_file", "records backup --json")

bundle = os.path.join(tmp, "bundle.zip")
cli(["support-bundle", bundle, "--port", "sim", "--virtual-time", "--settings",
     os.path.join(tmp, "bundle.ini")])
with zipfile.ZipFile(bundle) as z:
    validate(json.loads(z.read("ports.json")), "ports", "support bundle ports.json")
    validate_lines(z.read("events.jsonl").decode(), "event_line", "support bundle events.jsonl")

validate(json.loads(cli(["records", "merge", other, bike, "--records", records, "--json"])),
         "records_merge", "records merge --json")
validate(json.loads(cli(["records", "forget", bike, "--yes", "--records", records, "--json"])),
         "records_forget", "records forget --json")

# The adapter check needs a serial device: the simulator's pseudo-terminal.
if SIM and os.name == "posix":
    sim = subprocess.Popen([SIM], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        pty = sim.stdout.readline().strip()
        validate(json.loads(cli(["check-adapter", "--port", pty, "--json"], codes=(0, 1))),
                 "check_adapter", "check-adapter --json")
    finally:
        sim.terminate()
        sim.wait(timeout=10)

shutil.rmtree(tmp, ignore_errors=True)
for name in sorted(checked):
    print("%-16s %d checked" % (name, checked[name]))
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
