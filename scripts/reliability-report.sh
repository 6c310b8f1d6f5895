#!/usr/bin/env bash
# Regenerates docs/reliability.md: fuzzes every target for SECONDS (default
# 1200, two at a time), runs the native suite under the sanitizers, runs the
# fault-injection tests natively (also unprivileged when run as root) and,
# when Wine is there, under Wine, and writes the figures down. Each fuzzing
# run is added to fuzz/runs.tsv, from which the report says how long every
# target has run in all.
#
#   scripts/reliability-report.sh [SECONDS]
#
# REPORT_FROM_LOGS=1 skips the fuzzing and reports the last runs' logs
# (build/fuzz/logs); REPORT_WINE=0 skips the Wine run; REPORT_PARALLEL sets
# how many fuzzers run at once (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-1200}
targets=(plugin_events envelope_open settings_readers)
out=build/reliability
mkdir -p "$out"

# ---- Fuzzing -----------------------------------------------------------------
rm -f "$out/fuzz-fresh"
if [[ ${REPORT_FROM_LOGS:-0} != 1 ]]; then
  scripts/fuzz.sh build >/dev/null || exit 1
  parallel=${REPORT_PARALLEL:-2}
  running=0
  for t in "${targets[@]}"; do
    rm -rf "build/fuzz/findings/$t"
    (scripts/fuzz.sh "$t" "$seconds" >"$out/fuzz-$t.out" 2>&1; echo $? >"$out/fuzz-$t.rc") &
    running=$((running + 1))
    if [[ $running -ge $parallel ]]; then wait -n; running=$((running - 1)); fi
  done
  wait
  date -u +%Y-%m-%dT%H:%MZ >"$out/fuzz-date"
  echo "$seconds" >"$out/fuzz-seconds"
  # The report adds these runs to the ledger of how long each target has run.
  touch "$out/fuzz-fresh"
fi

# ---- Sanitizers ------------------------------------------------------------------
echo "=== native suite under ASan and UBSan ==="
scripts/test-sanitize.sh >"$out/sanitize.log" 2>&1
echo $? >"$out/sanitize.rc"
tail -n 3 "$out/sanitize.log"

# ---- Fault injection -------------------------------------------------------------
echo "=== fault injection, native ==="
san=build/native-sanitize/tests/faults
"$san/faults_files" >"$out/faults-native.log" 2>&1
echo $? >"$out/faults-native.rc"
"$san/faults_lifecycle" >"$out/lifecycle-native.log" 2>&1
echo $? >"$out/lifecycle-native.rc"
"$san/faults_reentry" >"$out/reentry-native.log" 2>&1
echo $? >"$out/reentry-native.rc"
"$san/faults_sweep" >"$out/sweep-native.log" 2>&1
echo $? >"$out/sweep-native.rc"
rm -f "$out/faults-unprivileged.log" "$out/faults-unprivileged.rc"
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
  setpriv --reuid=65534 --regid=65534 --clear-groups env MISTLOCK_EXPECT_READ_ONLY=1 \
    "$san/faults_files" >"$out/faults-unprivileged.log" 2>&1
  echo $? >"$out/faults-unprivileged.rc"
fi

rm -f "$out/faults-wine.log" "$out/faults-wine.rc"
if [[ ${REPORT_WINE:-1} == 1 ]] && command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "=== fault injection, under Wine ==="
  win=build/win-faults
  (
    set -e
    [[ -f $win/build.ninja ]] || cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$win" -j 2 --target faults_files faults_lifecycle faults_fail_closed faults_reentry faults_sweep >/dev/null
    scripts/wine-prefix.sh "$win" >/dev/null
    source scripts/virtual-display.sh
    cd "$win" && ctest -R '^faults_' -V --timeout 600
  ) >"$out/faults-wine.log" 2>&1
  echo $? >"$out/faults-wine.rc"
fi

# ---- The report --------------------------------------------------------------------
python3 - "$out" "${targets[@]}" <<'PY'
import os, re, subprocess, sys, glob, datetime

out, targets = sys.argv[1], sys.argv[2:]

READABLE_PATHS = [
    ("encryption switched off", "sent as written: the icon says off", "tests/host/message_events_test.cpp MessageEventsGates"),
    ("contact not on the list, list loaded (or confirmed by the user in the dialog)", "sent as written: meant",
     "MessageEventsGates"),
    ("fresh install: nothing at all at the list's path, and an empty list",
     "sent as written; opening the settings creates the file",
     "MessageEventsGates \"no list file, not in the dialog's list\""),
    ("UIN list file could not be read at start (held by another program, invalid UTF-8 after its mark, a NUL that "
     "cuts it short, half a UTF-16 character, an I/O or allocation failure), or a folder, a link to nothing or a pipe "
     "stands at its path",
     "every message held back (cancel reply, box saying why and what to do) until the user closes the settings "
     "dialog or restarts with the file mended; the file's bytes kept as MistlockWho.ini.bad before anything replaces "
     "it; a toggle leaves it alone",
     "tests/faults/fail_closed_test.cpp (and its stories \"the list a link to nothing\", \"a pipe\", \"a folder\"); "
     "file_faults_test.cpp LockedAtStart; fault sweep"),
    ("UIN list file gone while the messenger runs (deleted, folder unmounted), or a folder, a link to nothing or a "
     "pipe put in its place, and the contact is on the dialog's list",
     "held back, box saying the list file has gone", "fail_closed_test.cpp \"list file deleted while running\"; MessageEventsGates"),
    ("existence of the UIN list file cannot be told (I/O error)", "held back, encryption-error box", "fault sweep; file_faults_test.cpp"),
    ("settings file could not be read at start, or lacks lines, or is cut short by a NUL, or a folder, a link to "
     "nothing or a pipe stands at its path",
     "what it holds before the fault is applied; unread, the switch stays off and the icon says so; with the switch on, "
     "messages to listed contacts are held back until the user closes the dialog; a toggle never writes the file, so "
     "the fragment that loaded is never saved as the settings and the file is still unread after a restart; its bytes "
     "kept as Mistlock.ini.bad before the dialog's save over it",
     "fail_closed_test.cpp, its stories \"a password cut short\", \"a NUL in the password\", \"the settings file a "
     "link to nothing\", \"a pipe\"; settings_files_test.cpp; the fault sweep's two sessions"),
    ("a password, key-file path or list holding a character the ANSI code page lacks",
     "the file is written as UTF-8 with a byte-order mark (else in the code page): the key after a toggle "
     "and a restart is the key before",
     "fail_closed_test.cpp stories \"a password the code page lacks\", \"a Cyrillic password on a Western code page\", "
     "\"typed: ...\" (code pages 1251 and 1252); settings_codepages_test.cpp"),
    ("settings files edited on disk while the messenger runs, or holding bytes no save carries (a fifth line, "
     "trailing zeros)",
     "before a save replaces them they are kept once as NAME.kept, and the box that reports kept copies says where",
     "fail_closed_test.cpp stories \"edits on disk while running\", \"a fifth line and trailing zeros\""),
    ("a folder, a link or anything else at NAME.bad or NAME.kept",
     "the name counts as taken: the copy goes to the next free name and the save goes on",
     "fail_closed_test.cpp story \"a folder and a link to nothing at the names of copies\""),
    ("empty password, or a key file whose first line is empty (the all-zero key)", "held back, box saying the key is empty",
     "message_events_test.cpp SendingWithAKeyFile, DialogEditsCountForTheNextMessageBeforeAnySave"),
    ("a key file whose first line is no key: fewer than 8 characters (a picture's first line among them), UTF-16 "
     "without a byte-order mark (its line ends at a zero byte with text after it), a zero byte or a byte the code page "
     "leaves unassigned before the line ends, UTF-8 that is not",
     "held back, box saying why and naming the file; received envelopes are not opened under it; mistlock refuses it "
     "alike; key files made by mistlock keygen pass",
     "fail_closed_test.cpp UntrustedKeysAndRecordsHoldMessagesBack; message_events_test.cpp SendingWithAKeyFile; "
     "commands_test.cpp KeysThatCannotBeHadStopEveryCommand"),
    ("a password of fewer than 8 characters", "sealed: a contact's older plug-in may share it; OK in the dialog warns "
     "once and leaves the dialog open, OK again keeps it", "settings_dialog_test.cpp OkWarnsOnceAboutAShortPassword"),
    ("a large key file (2 GB: 48 s and 6.3 GB of memory for each message)",
     "only its first 4 KiB are read (0.04 s, 5 MB); every key line gives the key it gave when read whole",
     "fail_closed_test.cpp UntrustedKeysAndRecordsHoldMessagesBack \"bytes that are no UTF-8 beyond the 4 KiB "
     "read\", \"a line longer than the read, cut inside a character\""),
    ("key file missing or unreadable", "held back with a box",
     "message_events_test.cpp SendingWithAKeyFile; file_faults_test.cpp KeyFileVanishes"),
    ("a sealed key file, and the system's random source gives no bytes for the nonce",
     "held back, box saying the system gave no random numbers and to try again, the system's own message below",
     "fail_closed_test.cpp UntrustedKeysAndRecordsHoldMessagesBack \"a sealed key file, and no random numbers\"; "
     "fault_sweep_test.cpp SealedKeyFileWithEveryRequestToTheRandomSourceFailingOnce"),
    ("a sealed key file whose line Mistlock-Sealed: 2 lies beyond the first 4 KiB",
     "a classic key file: sealed as the classic envelope under its first line",
     "fail_closed_test.cpp \"a sealed key file's line beyond the 4 KiB read\""),
    ("a sealed envelope received that does not open (any character changed, cut short, another version, another "
     "key, padding or UTF-8 not as sealed), or while the key source is a password or a key file that is not sealed",
     "the error line above the text as it arrived; with the key file missing, the warning box and the text as it "
     "arrived, unless its base64url is malformed",
     "sealed_envelopes_test.cpp (tests/data/sealed/vectors.tsv, every character changed); fuzz target envelope_open"),
    ("a record that cannot be read whole: a message to send whose fields run past its length, or any record whose "
     "length field (0, 1, -1, -2^31) leaves no room for its kind and event code",
     "held back by the rule below, the list file gone or not, unless nobody could be listed (nothing at all at the "
     "list's path and no line in the dialog's list)",
     "fail_closed_test.cpp \"record one byte short\", story \"a folder where the list was\", "
     "UntrustedKeysAndRecordsHoldMessagesBack; fuzz target plugin_events"),
    ("a failure anywhere on the send path (allocation, file error), inside or outside the handler, classic or sealed",
     "held back, encryption-error box; pluginFun's own guard gives the cancel reply too",
     "fault sweep, with a password and with a sealed key file"),
    ("initialise failed half-way, or still under way (its box open)",
     "every message to send held back, well-formed or not, box saying the plug-in could not start",
     "fault sweep; fail_closed_test.cpp \"a failed start, then ...\""),
    ("the host calling in again from inside a box or a command of the plug-in (a finalise while the note after OK is "
     "open, inside a toggle's update-button or the start's add-button command, during the start's box; a second "
     "start meanwhile)",
     "each start and stop begins a session, and work that waited on the host goes on only in its own: no freed "
     "dialog is used, no plug-in runs without a dialog, the host has one button at most, nothing is left behind",
     "tests/faults/reentry_test.cpp, natively, under ASan and under Wine"),
    ("switching encryption fails while telling the host", "switch and icon agree: on whenever the icon says on",
     "fault sweep"),
    ("the plug-in library loaded where the button procedure's address does not fit 32 bits",
     "a jump placed below 2 GB is handed over instead; without one, no button and a box", "tests/host/button_address_test.cpp; "
     "tests/exchange/relocated_plugin_test.cpp"),
    ("the user presses OK in a dialog whose list did not load (and so shows none)",
     "the list the user confirmed stands: contacts not in it get clear text, as for any list; the old list is in "
     "MistlockWho.ini.bad and the user was told at start and at the save", "fail_closed_test.cpp"),
]

RECORD_RULE = ("**A record that cannot be read whole.** While the plug-in runs with the switch on, and while it is starting or could not start, a record that cannot be read whole is held back (the cancel reply and a box) unless what can be read of it says plainly that it is no message to send: a kind other than an event's (3), or an event code other than 7, each read only where the length field leaves room for it. A length field of 0 or less leaves nothing to read, and one of 1 only the kind: such a record may be a message to send whose length field is what was damaged, and nothing beyond the length field is read to find out. A message to send whose fields run past its length is held back too. Such a record goes through only while no message could be sealed anyway: with the switch off, or with no list file and no line in the dialog's list; a null pointer is no record at all.")

def read(path, default=""):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return default

def rc(name):
    text = read(os.path.join(out, name + ".rc")).strip()
    return int(text) if text else None

what = {
    "plugin_events": "pluginFun and the button procedure after a real initialise (password and key-file settings, both code pages): "
                     "every event code, well-framed records, counted strings that lie, raw records in blocks of their exact size, "
                     "button codes, dialog edits and closes, finalise and initialise in any order, and the host calling in again "
                     "while a box of the plug-in is open",
    "envelope_open": "opening envelopes (hex digits, strict UTF-8, code page, length prefix, AES) under random keys in code pages 1251 "
                     "and 1252, raw payloads, and seal-then-open round trips; sealed envelopes (base64url, AES-256-GCM, "
                     "padding, UTF-8): any text after the marker, and messages sealed under a nonce from the input",
    "settings_readers": "text decoding with byte-order marks and line splitting, LoadSettings/SaveSettings through a real dialog, "
                        "the key file's first line, the profile reader and LoadTranslations",
}
checks = {
    "plugin_events": "replies and command records well formed; a sealed message opens again to what was sent; no message-path "
                     "failure reaches the error box; no temporary file left in the settings folder",
    "envelope_open": "only EEnvelopeError escapes; one-step and two-step opening agree; decode/encode round trips; sealed text "
                     "opens to itself less trailing zeros, in either letter case, with a length counting the zero bytes of "
                     "checked sealing, and under no wrong key; across code pages, against readings worked out one code page "
                     "at a time: only a reading whose every character is the code page's is taken, the one that verifies is "
                     "opened, two that verify to other bytes or a failed fill with none verified are refused, unverified only "
                     "through the receiver's own code page, code pages that read the same bytes as other characters named; a "
                     "glued envelope reads as it does alone; what the other code page sealed, glued to hex-looking text, opens "
                     "to its bytes in the sender's characters or with the sender named, unless another reading verifies too; "
                     "sealed envelopes: base64url that decodes is the one form of its bytes, what is sealed is as long as its "
                     "padded UTF-8 says and opens to the same bytes and their UTF-8, and is refused with any one character "
                     "changed or under another key",
    "settings_readers": "decoding gives back its bytes; lines hold no break or NUL; loading writes nothing and reports at most "
                        "one error; what was saved loads without error and saves to the same bytes; profile values at most "
                        "2047 characters; names match in any letter case",
}

def fuzz_figures(t):
    log = read(f"build/fuzz/logs/{t}.log")
    fig = {"log": bool(log)}
    m = re.search(r"Loaded \d+ modules\s+\((\d+) inline 8-bit counters\)", log)
    fig["counters"] = int(m.group(1)) if m else None
    m = re.search(r"seed corpus: files: (\d+)", log)
    fig["seeds_loaded"] = int(m.group(1)) if m else None
    last = None
    for line in log.splitlines():
        if re.match(r"#\d+\s+(INITED|NEW|REDUCE|pulse|DONE)\s", line) and "cov:" in line:
            last = line
        if re.match(r"#\d+\s+INITED", line):
            fig["inited"] = line
    if last:
        for key, pat in {"cov": r"cov: (\d+)", "ft": r"ft: (\d+)", "corp": r"corp: (\d+)/(\S+)", "execs": r"^#(\d+)"}.items():
            m = re.search(pat, last)
            if m:
                fig[key] = m.groups() if key == "corp" else m.group(1)
    init = fig.get("inited", "")
    m = re.search(r"cov: (\d+) ft: (\d+)", init)
    fig["cov0"], fig["ft0"] = (m.group(1), m.group(2)) if m else (None, None)
    stats = dict(re.findall(r"stat::(\w+):\s+(\d+)", log))
    fig.update(stats)
    m = re.search(r"Done (\d+) runs in (\d+) second", log)
    fig["runs"], fig["secs"] = (m.group(1), m.group(2)) if m else (stats.get("number_of_executed_units"), None)
    fig["crash"] = bool(re.search(r"ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|LeakSanitizer|libFuzzer)|runtime error:|\*\*\* fuzz target", log))
    fig["artifacts"] = sorted(os.path.basename(p) for p in glob.glob(f"build/fuzz/findings/{t}/*"))
    fig["repo_corpus"] = len([p for p in glob.glob(f"fuzz/corpus/{t}/*") if os.path.isfile(p)])
    fig["repo_seeds"] = len(glob.glob(f"fuzz/corpus/{t}/seed-*"))
    fig["work_corpus"] = len(glob.glob(f"build/fuzz/corpus/{t}/*"))
    return fig

def num(v):
    if v is None or v == "":
        return "–"
    try:
        return f"{int(v):,}".replace(",", " ")
    except (TypeError, ValueError):
        return str(v)

def suite_summary(log):
    m = re.search(r"(\d+)% tests passed, (\d+) tests? failed out of (\d+)", log)
    return (int(m.group(3)) - int(m.group(2)), int(m.group(2)), int(m.group(3))) if m else None

def gtest_summary(log):
    passed = re.search(r"\[  PASSED  \] (\d+) tests?", log)
    failed = re.search(r"\[  FAILED  \] (\d+) tests?, listed below", log)
    skipped = re.search(r"\[  SKIPPED \] (\d+) tests?, listed below", log)
    return (int(passed.group(1)) if passed else 0, int(failed.group(1)) if failed else 0,
            int(skipped.group(1)) if skipped else 0)

def fault_lines(log):
    seen, rows = set(), []
    for line in log.splitlines():
        m = re.search(r"\[fault-case\] (.*?) \| (.*?)(?: \| (.*))?$", line)
        if not m:
            continue
        row = (m.group(1).strip(), m.group(2).strip(), (m.group(3) or "").strip())
        if row in seen:
            continue
        seen.add(row)
        rows.append(row)
    # "nothing shown" only where nothing else was seen either.
    shown = {r[0] for r in rows if r[1] != "nothing shown"}
    return [r for r in rows if r[1] != "nothing shown" or r[0] not in shown]

def clean_path(text):
    # The temporary folder differs on every run; show it as <folder>.
    text = re.sub(r'"[^"]*?mistlock-test-[0-9-]+([\\/])', r'"<folder>\1', text)
    return text.replace("|", "\\|")

commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
date = read(os.path.join(out, "fuzz-date")).strip() or "unknown"
seconds = read(os.path.join(out, "fuzz-seconds")).strip() or "?"

L = []
L.append("# Reliability: fuzzing, sanitizers and fault injection")
L.append("")
L.append("The plug-in runs inside a messenger that is not ours and reads bytes that anyone on the network can send. "
         "This page gathers the evidence that neither a crash (which takes the messenger down) nor a damaged settings "
         "file (which loses the user's key) comes from it. It is written by `scripts/reliability-report.sh`; "
         "every figure below comes from that run.")
L.append("")
L.append(f"Produced by `scripts/reliability-report.sh {seconds}` at commit `{commit}`; fuzzing finished {date}.")
L.append("")
L.append("## Fuzzing")
L.append("")
L.append("Three libFuzzer targets (clang 14, `-fsanitize=fuzzer,address,undefined`, every UBSan check fatal) in `fuzz/targets/`. "
         "They play the host in-process over the headless platform layer. `scripts/fuzz.sh TARGET SECONDS` runs one; "
         "the seeds and every input that once found something live in `fuzz/corpus/TARGET/` and are replayed by the "
         "ordinary native build as the CTest tests `fuzz_replay_TARGET`, sanitized or not.")
L.append("")
L.append("| target | what it drives | what it checks beyond crashes, leaks and undefined behaviour |")
L.append("|---|---|---|")
for t in targets:
    L.append(f"| `{t}` | {what[t]} | {checks[t]} |")
L.append("")
L.append(f"Figures of the last run of each target (asked for {seconds} s each), two targets at a time on a 2-core "
         "machine shared with other work, at niceness 10:")
L.append("")
L.append("| target | time | executions | exec/s | coverage cov (of instrumented) | features ft | corpus: repository (seeds) | corpus at the end (inputs/bytes) | new inputs | peak RSS | findings |")
L.append("|---|---|---|---|---|---|---|---|---|---|---|")
any_crash = False
for t in targets:
    f = fuzz_figures(t)
    if not f["log"]:
        L.append(f"| `{t}` | no log | | | | | | | | | |")
        continue
    cov = f.get("cov")
    covtext = f"{num(f.get('cov0'))} → {num(cov)}"
    if f.get("counters") and cov:
        covtext += f" ({100 * int(cov) / f['counters']:.0f} % of {num(f['counters'])})"
    corp = f.get("corp") or ("?", "?")
    findings = "none"
    if f["crash"] or f["artifacts"]:
        any_crash = True
        findings = "**" + (", ".join(f["artifacts"]) or "see log") + "**"
    secs = f.get("secs")
    L.append(f"| `{t}` | {num(secs) + ' s' if secs else '–'} | {num(f.get('number_of_executed_units'))} | {num(f.get('average_exec_per_sec'))} | {covtext} | "
             f"{num(f.get('ft0'))} → {num(f.get('ft'))} | {f['repo_corpus']} ({f['repo_seeds']}) | {corp[0]} / {corp[1]} | "
             f"{num(f.get('new_units_added'))} | {num(f.get('peak_rss_mb'))} MB | {findings} |")
L.append("")
L.append("cov counts the instrumented code edges reached, ft libFuzzer's finer features (edges with hit counts, "
         "comparisons); the arrow goes from the seed corpus to the end of the run. The percentage is of every "
         "instrumented edge in the program, the AES tables, the test support and the unused Windows-only paths of "
         "the headless layer included.")
L.append("")
fresh = os.path.join(out, "fuzz-fresh")
if os.path.exists(fresh):
    with open("fuzz/runs.tsv", "a", encoding="utf-8") as ledger_file:
        for t in targets:
            f = fuzz_figures(t)
            runs = f.get("runs") or f.get("number_of_executed_units")
            secs = f.get("secs") or (int(runs) // max(1, int(f.get("average_exec_per_sec") or 1)) if runs else None)
            if runs and secs:
                ledger_file.write(f"{date}\t{commit}\t{t}\t{secs}\t{runs}\tscripts/reliability-report.sh {seconds}"
                                  f"{' (stopped on a finding)' if f['crash'] or f['artifacts'] else ''}\n")
    os.remove(fresh)
ledger = [l.split("\t") for l in read("fuzz/runs.tsv").splitlines() if l.strip() and not l.startswith("#")]
if ledger:
    L.append("How long each target has run in all, over every recorded run (`fuzz/runs.tsv`: the runs of this "
             "script, and runs by hand that found something; not the 20-second runs of the test command), the code "
             "changing between runs:")
    L.append("")
    L.append("| target | runs | time in all | executions in all | first run | last run |")
    L.append("|---|---|---|---|---|---|")
    for t in targets:
        mine = [r for r in ledger if len(r) >= 5 and r[2] == t]
        if not mine:
            continue
        secs = sum(int(r[3]) for r in mine)
        L.append(f"| `{t}` | {len(mine)} | {secs // 3600} h {secs % 3600 // 60:02d} min | {num(sum(int(r[4]) for r in mine))} | "
                 f"{mine[0][0]} | {mine[-1][0]} |")
    L.append("")
if any_crash:
    L.append("**The last run stopped on a finding; see `build/fuzz/findings/` and `build/fuzz/logs/`.**")
    L.append("")

L.append("## Found and fixed")
L.append("")
rows = [l.split("\t") for l in read("fuzz/findings.tsv").splitlines() if l.strip() and not l.startswith("#")]
if rows:
    L.append("| found by | what happened | cause and fix | regression test |")
    L.append("|---|---|---|---|")
    for r in rows:
        r = (r + [""] * 4)[:4]
        L.append("| " + " | ".join(c.replace("|", "\\|") for c in r) + " |")
else:
    L.append("Nothing so far.")
L.append("")
L.append("Every fix has a unit test, named above; the inputs that reproduce a fault stay in `fuzz/corpus/TARGET/` "
         "and are replayed with every native test run.")
L.append("")

L.append("## Sanitizers")
L.append("")
s = suite_summary(read(os.path.join(out, "sanitize.log")))
if s:
    L.append(f"`scripts/test-sanitize.sh` builds the preset `native-sanitize` (GCC, `-fsanitize=address,undefined`, "
             f"`-fno-sanitize-recover=undefined`) and runs the whole native suite with every report fatal "
             f"(leaks checked at exit, stack use after return, strict initialisation order): "
             f"**{s[0]} of {s[2]} tests passed, {s[1]} failed**. The suite includes the fuzz corpus replays, the fault "
             f"injection tests and their unprivileged rerun.")
else:
    L.append("The sanitizer run did not finish; see build/reliability/sanitize.log.")
L.append("")

L.append("## Fault injection")
L.append("")
L.append("`tests/faults/` plays the messenger in-process (the real `pluginFun`, the real button procedure, the "
         "plug-in's dialog) while the file system fails under it. Natively no file can be held open against others and "
         "the super-user ignores permissions, so those cases use permissions and run a second time as an "
         "unprivileged user; under Wine a handle opened with share mode 0 holds the file. Disk-full failures and the "
         "vanishing key file use seams of the file layer (`platform/test_seams.h`), which exist only in the copy of "
         "the layer that the test and fuzz programs link (`mistlock_files_seams`): `Mistlock.dll`, `libMistlock.so` "
         "and `mistlock` are built without them, and `tests/windows/pe_image_test.cpp` and "
         "`tests/platform/files_test.cpp` check that. A save into a read-only folder rewrites an existing file in "
         "place (a copy of its old bytes kept in the temporary folder meanwhile), so that case now starts without "
         "settings files.")
L.append("")
L.append("Every case asserts: no crash and nothing thrown into the host; the error box text (the file and, natively, "
         "the cause); the old bytes of both settings files intact; no temporary file left; the dialog still open "
         "after a failed OK; and, once the cause is gone, the same action saving everything.")
L.append("")
runs = [("native, as root", "faults-native"), ("native, unprivileged", "faults-unprivileged"), ("Windows build under Wine", "faults-wine")]
L.append("| run | result |")
L.append("|---|---|")
for label, name in runs:
    log = read(os.path.join(out, name + ".log"))
    if not log:
        L.append(f"| {label} | not run |")
        continue
    if name == "faults-wine":
        s = suite_summary(log)
        res = f"{s[0]} of {s[2]} test programs passed" if s else "did not finish"
        g = [gtest_summary(part) for part in log.split("Test command:")[1:]]
        if g:
            res += f" ({sum(x[0] for x in g)} tests passed, {sum(x[1] for x in g)} failed)"
    else:
        p, fl, sk = gtest_summary(log)
        res = f"{p} passed, {fl} failed, {sk} skipped" + (" (the permission cases: they run unprivileged)" if sk else "")
    L.append(f"| {label} | {res} |")
lp, lf, ls = gtest_summary(read(os.path.join(out, "lifecycle-native.log")))
L.append(f"| lifecycle abuse, native | {lp} passed, {lf} failed |")
rp, rf, rs = gtest_summary(read(os.path.join(out, "reentry-native.log")))
L.append(f"| re-entry, native under ASan and UBSan | {rp} passed, {rf} failed |")
L.append("")

for label, name in [("Natively (Linux, headless layer)", "faults-native"), ("Natively, unprivileged", "faults-unprivileged"),
                    ("Under Wine (the Windows build)", "faults-wine")]:
    rows = fault_lines(read(os.path.join(out, name + ".log")))
    if name == "faults-unprivileged":
        native = {r[0] for r in fault_lines(read(os.path.join(out, "faults-native.log")))}
        rows = [r for r in rows if r[0] not in native]
        label += ", the cases root cannot run"
    if not rows:
        continue
    L.append(f"### What the user sees: {label}")
    L.append("")
    L.append("| case and action | shown | text |")
    L.append("|---|---|---|")
    for case, kind, text in rows:
        L.append(f"| {case} | {kind} | {clean_path(text)} |")
    L.append("")
    if any(kind == "reply" and "?" in text for _, kind, text in rows):
        L.append("A reply is 8-bit text in the system code page. The Wine prefix runs with a Western code page, which has "
                 "no Cyrillic letters, so the built-in Russian error line reaches the messenger as question marks there; "
                 "a language file gives it in the user's language. Message boxes are UTF-16 and show it whole.")
        L.append("")

L.append("### The host calling at the wrong times")
L.append("")
L.append("`tests/faults/lifecycle_test.cpp`: every event code (finalise, about, both message events, unknown codes) and "
         "every button code (0, 1, 2 and others) before the initialise event and after the finalise event get no reply, "
         "send no command, show nothing and write nothing; each call twice in a row does what it does once, twice; "
         "every call while the dialog is open leaves it usable, an edit there takes effect for the next message at once, "
         "and a finalise with the dialog open destroys it unsaved. Natively the host also calls in again while a "
         "message box of the plug-in is open (a received message, a finalise, a toggle): the reply returned afterwards "
         "is still whole and nothing is used after it was freed. `tests/faults/reentry_test.cpp`, natively and under "
         "Wine: the host finalises, or starts the plug-in again, from inside the note after OK, the warning about a "
         "short password, the about box and the start's error box, and from inside the add-button, update-button "
         "and remove-button commands; afterwards the plug-in runs exactly when the host's last word says so, with "
         "one dialog and at most one button, and a fresh start works.")
L.append("")
L.append("### Every file operation and every allocation failing once")
L.append("")
L.append("`tests/faults/fault_sweep_test.cpp` runs one whole session of a user (initialise, switch encryption on, open "
         "the settings and press OK, send to a listed contact, receive, finalise) again and again, failing exactly the "
         "Nth file operation of the plug-in (or, natively, the Nth allocation it makes) for N = 1, 2, ... until a run "
         "completes without reaching the failure; and in the same way two sessions (initialise, send, switch "
         "encryption, finalise, with the failure in this first one; then initialise again and send). Each run asserts: "
         "nothing thrown into the host; while the icon the host shows says on, a listed contact's message is never "
         "sent in clear and never sealed under any key but the user's; no byte of either settings file lost (each ends "
         "as it was, its switch line aside, or is kept beside it as NAME.bad or NAME.kept); a file that did not load "
         "not replaced before the user confirms the dialog; no stray file left.")
L.append("")
L.append("| run | operations in the session (of two sessions: in the first), each failed once | faults |")
L.append("|---|---|---|")
for label, name in [("native, under ASan and UBSan", "sweep-native"), ("Windows build under Wine", "faults-wine")]:
    for kind, count, scope, faults in re.findall(
            r"\[sweep\] ([a-z ]+): (\d+) in the (session|first of two sessions), each failed once, (\d+) faults",
            read(os.path.join(out, name + ".log"))):
        L.append(f"| {label}{', two sessions' if scope != 'session' else ''} | {count} {kind} | {faults} |")
L.append("")
L.append("## Where a message could leave readable")
L.append("")
L.append("Every path that could end with a listed contact's message leaving in clear, or sealed under a key anyone "
         "could guess, and what the plug-in does there now. A null reply means \"send as written\"; the plug-in gives "
         "it only where the message is meant to go in clear.")
L.append("")
L.append("| path | what happens now | shown by |")
L.append("|---|---|---|")
for row in READABLE_PATHS:
    L.append("| " + " | ".join(row) + " |")
L.append("")
L.append(RECORD_RULE)
L.append("")
L.append("## Reproducing")
L.append("")
L.append("```sh")
L.append("scripts/reliability-report.sh 1200        # this page: 20 minutes per target, then sanitizers and faults")
L.append("scripts/fuzz.sh plugin_events 600         # one target for ten minutes; findings in build/fuzz/findings/")
L.append("scripts/fuzz.sh all 20                     # every target briefly, as the test command does")
L.append("scripts/fuzz.sh merge all                 # keep the inputs that reached new coverage in fuzz/corpus/")
L.append("scripts/test-sanitize.sh                  # the native suite under ASan and UBSan")
L.append("```")
L.append("")

with open("docs/reliability.md", "w", encoding="utf-8") as f:
    f.write("\n".join(L))
print("wrote docs/reliability.md")
PY
