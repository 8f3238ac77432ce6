#!/usr/bin/env python3
"""Fails when an option the parsers accept (or refuse by name) is missing from a man page, when a
command or exit code of morvane-cli is missing from its page, or when the bash completion lacks
a command or option. The parsers' sources are the truth: every string literal that is an option
name, the commands compared against, the device switch table and the exit codes of the usage.

usage: man_pages_cover_options.py SOURCE_DIR
"""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1])


def text(path):
    return (root / path).read_text(encoding="utf-8")


def options_in(source):
    return set(re.findall(r'"(--?[a-z][a-z-]*)"', source))


def page_words(path):
    # Roff's escaped dashes and font switches out of the way, so "\-\-tftp\-port" reads as it is typed.
    page = re.sub(r"\\f[BIRP]", "", text(path)).replace("\\-", "-")
    return set(re.findall(r"(?<![\w-])(-{1,2}[a-z][a-z-]*|[a-z][a-z-]*)(?![\w-])", page)), page


cli_source = text("cli/cli_options.cpp")
cli_options = options_in(cli_source)
cli_commands = set(re.findall(r'command == "([a-z-]+)"', cli_source))
exit_codes = set(re.findall(r'"  ([0-9])  ', cli_source))

sim_options = options_in(text("sim/sim_command_line.cpp"))
sim_options |= {"--" + name for name in re.findall(r'DeviceSwitch\{"([a-z-]+)"', text("sim/device_switches.cpp"))}

failures = []
assert cli_options and cli_commands and exit_codes and len(sim_options) > 20, "the parsers changed shape"

words, page = page_words("cli/morvane-cli.1")
failures += [f"morvane-cli.1 lacks {w}" for w in sorted((cli_options | cli_commands) - words)]
status = page.split(".SH EXIT STATUS", 1)[-1].split(".SH", 1)[0]
failures += [f"morvane-cli.1 lacks exit code {c}" for c in sorted(exit_codes)
             if not re.search(rf"^\.B {c}$", status, re.M)]
for section in ("ENVIRONMENT", "FILES", "EXAMPLES"):
    if f".SH {section}" not in page:
        failures.append(f"morvane-cli.1 has no {section} section")
if "MORVANE_PASSWORD" not in page:
    failures.append("morvane-cli.1 lacks MORVANE_PASSWORD")

words, _ = page_words("sim/tavio-sim.1")
failures += [f"tavio-sim.1 lacks {w}" for w in sorted(sim_options - words)]

completion = set(re.findall(r"[\w-]+", text("packaging/completion/morvane-cli")))
refused = {"--password", "-p"}
failures += [f"the bash completion lacks {w}"
             for w in sorted((cli_options - refused | cli_commands) - completion)]

print("\n".join(failures) or "every option, command and exit code is documented")
sys.exit(1 if failures else 0)
